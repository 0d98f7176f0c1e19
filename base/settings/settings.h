#pragma once

#include <QString>
#include <cstdint>

struct TData;

// The connection settings of TData kept between runs in "W_qx510.ini" (see ConnectionSettingsPath).
// The file is Windows-1250 text with CRLF line ends; a file someone saved from a UTF-8 editor
// is read as UTF-8. Keys this program does not write, unknown sections and comments survive a
// save.

inline constexpr char SettingsFileName[] = "W_qx510.ini";

// The file the path-less overloads use, unless a path was set with SetConnectionSettingsPath
// (tests point it into a scratch directory): see ChooseConnectionSettingsPath, with the
// folder "qx510" in the user's configuration directory (~/.config/qx510/).
QString ConnectionSettingsPath();
inline constexpr char SettingsFolderName[] = "qx510";
// That folder in the user's configuration directory; empty when there is none. A save creates
// it when missing.
QString UserSettingsDirectory();

// The file the package puts beside the executables it installs. An installed copy keeps
// every user's settings in that user's folder, whoever runs it (root too, who could write
// beside it).
inline constexpr char InstalledMarkerName[] = "qx510.installed";
bool IsInstalledCopy(const QString& executableDir);

// An installed copy: the user's folder, never beside the executable (empty without a user's
// folder). A portable copy: "W_qx510.ini" beside the executable when its directory is
// writable or already holds the file, so a copy run from a folder of its own keeps its
// settings with it; else the user's folder. An empty `userConfigDir` (no home to speak of)
// leaves a portable copy's file beside the executable.
QString ChooseConnectionSettingsPath(const QString& executableDir, const QString& userConfigDir);
void SetConnectionSettingsPath(const QString& path);  // empty: back to the executable's directory

// True when the file held settings and they were applied; false for a null pointer, a missing
// or refused file, or a file without an interface name. What parses is applied, everything
// else keeps its current value. A file that is there but is refused (no regular file, larger
// than MaxSettingsFileBytes) or cannot be read sets `error`; the path-less overload says so on
// standard error.
bool LoadConnectionSettings(TData* data);
bool LoadConnectionSettings(TData* data, const QString& path);
bool LoadConnectionSettings(TData* data, const QString& path, QString* error);

// Writes the settings through a temporary file renamed over the old one, so a failed save
// leaves the previous file whole. False for a null pointer, for a file that is refused or
// cannot be read (left as it is: a save would drop what could not be read) or when the file
// could not be written; `error` then says why.
bool SaveConnectionSettings(TData* data);
bool SaveConnectionSettings(TData* data, const QString& path);
bool SaveConnectionSettings(TData* data, const QString& path, QString* error);

// An integer as the settings file holds it: decimal with an optional sign, or hexadecimal after
// "$" or "0x" (up to 32 bits, taken as two's complement). False leaves `value` untouched.
bool ParseSettingsInteger(const QByteArray& text, int32_t* value);

// Settings files larger than this are refused whole: nothing this program writes comes near
// it, a runaway file must not take the start-up down with it, and a part is never taken for
// the whole.
inline constexpr qint64 MaxSettingsFileBytes = 1 << 20;
