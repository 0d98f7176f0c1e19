#include "base/settings/settings.h"

#include <SimpleIni.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/files/checked_file.h"
#include "base/settings/tdata.h"
#include "base/text/codepage.h"

namespace {

QString& PathOverride() {
  static QString path;
  return path;
}

// Section and key names in the file's own character set, so lookups work on the raw bytes
// and everything else in the file passes through untouched.
struct Names {
  QByteArray connection = ToCp1250(QStringLiteral("Připojení"));
  QByteArray iface = ToCp1250(QStringLiteral("Rozhraní"));
  QByteArray address = "Adresa";
  QByteArray rate = "Rychlost";
  QByteArray timeout = "Timeout";
  QByteArray serial = "COMx";
  QByteArray port = ToCp1250(QStringLiteral("Číslo portu"));
  QByteArray isa = "ZK-660";
  QByteArray base = ToCp1250(QStringLiteral("Bázová adresa"));
  QByteArray lan = "QN-1660";
  QByteArray ip = "IP adresa";
  QByteArray udpPort = "UDP port";
  QByteArray udpTimeout = "UDP timeout";
};

const Names& N() {
  static const Names names;
  return names;
}

// Indexed by InterfaceType.
constexpr std::array<const char*, InterfaceCount> InterfaceNames = {"COMx", "ZK-660", "ZK-1660",
                                                                    "ZC-1660", "QN-1660"};

// Marks a missing interface name: the file holds no settings of ours.
constexpr char NoInterface[] = "jkl";

struct RawFile {
  bool ok = true;  // false: the file exists but is refused or cannot be read
  QByteArray bytes;
  QString error;
};

RawFile ReadRaw(const QString& path) {
  RawFile raw;
  bool missing = false;
  // A FIFO, a device or a folder under the file's name is refused without blocking, and so is
  // a file too large to be one of ours: a part of it would be taken for the whole.
  if (!ReadFileChecked(path, MaxSettingsFileBytes, &raw.bytes, &raw.error, &missing)) {
    raw.ok = missing;
    if (missing) raw.error.clear();
  }
  return raw;
}

bool HasNonAscii(const QByteArray& bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The parser skips a section line that lacks its closing bracket but keeps the start of its
// name, so the keys below it land in a section whose name runs over two lines, and every save
// adds a line to the file. Closed, the line names the section its keys were meant for; a bare
// bracket names none and becomes a comment.
QByteArray CloseOpenSections(const QByteArray& bytes) {
  QByteArray out;
  out.reserve(bytes.size());
  qsizetype start = 0;
  while (start < bytes.size()) {
    qsizetype end = start;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    const QByteArray line = bytes.mid(start, end - start);
    const QByteArray trimmed = line.trimmed();
    const bool open = trimmed.startsWith('[') && !line.contains(']');
    const bool named = open && !trimmed.mid(1).trimmed().isEmpty();
    if (open && !named) out.append(';');
    out.append(line);
    if (named) out.append(']');
    while (end < bytes.size() && (bytes[end] == '\r' || bytes[end] == '\n')) out.append(bytes[end++]);
    start = end;
  }
  return out;
}

// The file as Windows-1250 bytes ready for parsing. Czech text in Windows-1250 is practically
// never valid UTF-8, so valid UTF-8 with non-ASCII bytes means someone saved the file from a
// UTF-8 editor. Zero bytes (a torn write, a binary file) would end the parse early; as line
// breaks they only split lines, and whatever follows them still counts.
QByteArray ToWorkingBytes(QByteArray bytes) {
  const bool bom = bytes.startsWith("\xEF\xBB\xBF");
  if (bom) bytes.remove(0, 3);
  if (bom || HasNonAscii(bytes)) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError() && HasNonAscii(bytes)) {
      // Characters that Windows-1250 lacks come out as SUB; a question mark reads better.
      QByteArray converted = ToCp1250(text);
      if (!text.contains(QChar(0x1A))) converted.replace('\x1A', '?');
      bytes = converted;
    }
  }
  bytes.replace('\0', '\n');
  return CloseOpenSections(bytes);
}

bool IsCommentLine(const QByteArray& line) {
  const QByteArray t = line.trimmed();
  return !t.isEmpty() && (t[0] == ';' || t[0] == '#');
}

QList<QByteArray> SplitLines(const QByteArray& text) {
  QList<QByteArray> lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.append(text.mid(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.append(text.mid(start));
  return lines;
}

// The parser attaches a comment to the section or key that follows it and drops comments with
// nothing after them. Those at the end of the file are collected here and written back last.
QList<QByteArray> TrailingComments(const QByteArray& text) {
  const QList<QByteArray> lines = SplitLines(text);
  const qsizetype n = lines.size();
  // The parser's file comment: comment lines from the very first byte up to the first other line.
  qsizetype fileCommentEnd = 0;
  while (fileCommentEnd < n && !lines[fileCommentEnd].isEmpty() &&
         (lines[fileCommentEnd][0] == ';' || lines[fileCommentEnd][0] == '#')) {
    ++fileCommentEnd;
  }
  qsizetype first = fileCommentEnd;
  for (qsizetype i = n - 1; i >= fileCommentEnd; --i) {
    if (!lines[i].trimmed().isEmpty() && !IsCommentLine(lines[i])) {
      first = i + 1;
      break;
    }
  }
  qsizetype last = n;
  while (first < last && !IsCommentLine(lines[first])) ++first;
  while (last > first && !IsCommentLine(lines[last - 1])) --last;
  QList<QByteArray> kept;
  for (qsizetype i = first; i < last; ++i) kept.append(lines[i].trimmed());
  return kept;
}

class Document {
 public:
  explicit Document(const QByteArray& fileBytes) {
    ini_.SetSpaces(false);
    const QByteArray bytes = ToWorkingBytes(fileBytes);
    trailing_ = TrailingComments(bytes);
    // A parse that stops half way keeps what it read so far: that much is applied.
    ini_.LoadData(bytes.constData(), static_cast<size_t>(bytes.size()));
  }

  // The value, or null when the key is missing.
  const char* value(const QByteArray& section, const QByteArray& key) const {
    return ini_.GetValue(section.constData(), key.constData(), nullptr);
  }

  template <class Store>
  void readInteger(const QByteArray& section, const QByteArray& key, Store store) const {
    const char* text = value(section, key);
    int32_t parsed = 0;
    if (text != nullptr && ParseSettingsInteger(QByteArray(text), &parsed)) store(parsed);
  }

  void set(const QByteArray& section, const QByteArray& key, const QByteArray& value) {
    ini_.SetValue(section.constData(), key.constData(), value.constData());
  }
  void set(const QByteArray& section, const QByteArray& key, long value) {
    set(section, key, QByteArray::number(static_cast<qlonglong>(value)));
  }

  // The whole file with CRLF line ends.
  QByteArray serialize() const {
    std::string out;
    ini_.Save(out, false);
    QByteArray text = QByteArray::fromStdString(out);
    if (!trailing_.isEmpty()) {
      if (!text.isEmpty()) text.append(text.endsWith('\n') ? "\n" : "\n\n");
      text.append(trailing_.join('\n')).append('\n');
    }
    // The parser skips blank lines and its writer doubles them between sections; one is enough.
    while (text.contains("\n\n\n")) text.replace("\n\n\n", "\n\n");
    QByteArray crlf;
    crlf.reserve(text.size() + text.size() / 8);
    for (char c : text) {
      if (c == '\n') crlf.append('\r');
      crlf.append(c);
    }
    return crlf;
  }

 private:
  CSimpleIniA ini_;
  QList<QByteArray> trailing_;
};

// A value stays on its own line whatever the record holds.
QByteArray SingleLine(const QByteArray& value) {
  qsizetype end = 0;
  while (end < value.size() && value[end] != '\r' && value[end] != '\n' && value[end] != '\0') {
    ++end;
  }
  return value.left(end);
}

void SetError(QString* error, const QString& text) {
  if (error != nullptr) *error = text;
}

}  // namespace

QString ConnectionSettingsPath() {
  if (!PathOverride().isEmpty()) return PathOverride();
  const QString executableDir = QCoreApplication::applicationDirPath();
  const QString path = ChooseConnectionSettingsPath(executableDir, UserSettingsDirectory());
  const QString beside = QDir(executableDir).filePath(QLatin1String(SettingsFileName));
  static bool told = false;
  if (!told && path != beside && IsInstalledCopy(executableDir) && QFileInfo::exists(beside)) {
    told = true;
    const QString where = path.isEmpty() ? QStringLiteral("uživatel nemá složku nastavení")
                                         : QStringLiteral("nastavení je v %1").arg(path);
    std::fprintf(stderr, "%s: soubor %s vedle nainstalovaného programu se nepoužije, %s\n",
                 qPrintable(QCoreApplication::applicationName()), qPrintable(beside), qPrintable(where));
  }
  return path;
}

bool IsInstalledCopy(const QString& executableDir) {
  return !executableDir.isEmpty() && QFileInfo::exists(QDir(executableDir).filePath(QLatin1String(InstalledMarkerName)));
}

QString UserSettingsDirectory() {
  // Named after the tool, not after whichever program asks, so every program of the project
  // finds the same file.
  const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return configHome.isEmpty() ? QString() : QDir(configHome).filePath(QLatin1String(SettingsFolderName));
}

QString ChooseConnectionSettingsPath(const QString& executableDir, const QString& userConfigDir) {
  if (IsInstalledCopy(executableDir))
    return userConfigDir.isEmpty() ? QString() : QDir(userConfigDir).filePath(QLatin1String(SettingsFileName));
  if (!executableDir.isEmpty()) {
    const QString beside = QDir(executableDir).filePath(QLatin1String(SettingsFileName));
    if (QFileInfo::exists(beside) || QFileInfo(executableDir).isWritable()) return beside;
  }
  if (userConfigDir.isEmpty()) return QDir(executableDir).filePath(QLatin1String(SettingsFileName));
  return QDir(userConfigDir).filePath(QLatin1String(SettingsFileName));
}

void SetConnectionSettingsPath(const QString& path) { PathOverride() = path; }

bool ParseSettingsInteger(const QByteArray& input, int32_t* value) {
  const QByteArray text = input.trimmed();
  qsizetype i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (magnitude > 0xFFFFFFFFull) return false;
  }
  int64_t result = 0;
  if (base == 16) {
    // Hexadecimal covers the 32 bits, so $FFFFFFFF is -1.
    result = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    if (negative) result = -result;
    if (result > INT32_MAX) return false;
  } else {
    result = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (result < INT32_MIN || result > INT32_MAX) return false;
  }
  *value = static_cast<int32_t>(result);
  return true;
}

bool LoadConnectionSettings(TData* data) {
  const QString path = ConnectionSettingsPath();
  QString error;
  const bool loaded = LoadConnectionSettings(data, path, &error);
  // The windows have nowhere to say it before they open: one line on standard error.
  if (!error.isEmpty())
    std::fprintf(stderr, "%s: soubor nastavení %s nelze použít: %s; platí výchozí hodnoty.\n",
                 qPrintable(QCoreApplication::applicationName()), qPrintable(path), qPrintable(error));
  return loaded;
}

bool LoadConnectionSettings(TData* data, const QString& path) { return LoadConnectionSettings(data, path, nullptr); }

bool LoadConnectionSettings(TData* data, const QString& path, QString* error) {
  if (data == nullptr) return false;
  const RawFile raw = ReadRaw(path);
  if (!raw.ok) {
    SetError(error, raw.error);
    return false;
  }
  const Document doc(raw.bytes);
  const Names& n = N();

  const char* ifaceText = doc.value(n.connection, n.iface);
  if (ifaceText == nullptr || std::strcmp(ifaceText, NoInterface) == 0) return false;
  const QByteArray ifaceName(ifaceText);

  doc.readInteger(n.connection, n.address, [&](int32_t v) { data->ModuleAddress = static_cast<uint8_t>(v); });
  doc.readInteger(n.connection, n.rate, [&](int32_t v) { data->BaudRate = v; });
  doc.readInteger(n.connection, n.timeout, [&](int32_t v) { data->ResponseTimeout = static_cast<uint16_t>(v); });
  doc.readInteger(n.isa, n.base, [&](int32_t v) { data->IsaBaseAddress = static_cast<uint16_t>(v); });
  doc.readInteger(n.serial, n.port, [&](int32_t v) { data->ComPort = static_cast<uint8_t>(v); });
  if (const char* ip = doc.value(n.lan, n.ip)) data->IpAddress = QByteArray(ip);
  doc.readInteger(n.lan, n.udpPort, [&](int32_t v) { data->UdpPort = v; });
  doc.readInteger(n.lan, n.udpTimeout, [&](int32_t v) { data->UdpTimeout = v; });

  for (int i = 0; i < InterfaceCount; ++i) {
    if (ifaceName == InterfaceNames[i]) data->Interface = static_cast<uint8_t>(i);
  }
  return true;
}

bool SaveConnectionSettings(TData* data) {
  return SaveConnectionSettings(data, ConnectionSettingsPath(), nullptr);
}

bool SaveConnectionSettings(TData* data, const QString& path) {
  return SaveConnectionSettings(data, path, nullptr);
}

bool SaveConnectionSettings(TData* data, const QString& path, QString* error) {
  if (data == nullptr) {
    SetError(error, QStringLiteral("chybí data programu"));
    return false;
  }
  // What cannot be read cannot be kept: better no save than a file stripped of its other keys.
  const RawFile raw = ReadRaw(path);
  if (!raw.ok) {
    SetError(error, raw.error);
    return false;
  }
  Document doc(raw.bytes);
  const Names& n = N();

  const uint8_t iface = data->Interface < InterfaceCount ? data->Interface : uint8_t{InterfaceSerial};
  doc.set(n.connection, n.iface, QByteArray(InterfaceNames[iface]));
  switch (iface) {
    case InterfaceSerial:
      doc.set(n.serial, n.port, long{data->ComPort});
      break;
    case InterfaceIsa:
      doc.set(n.isa, n.base, long{data->IsaBaseAddress});
      break;
    case InterfaceLan:
      doc.set(n.lan, n.ip, SingleLine(data->IpAddress));
      doc.set(n.lan, n.udpPort, long{data->UdpPort});
      doc.set(n.lan, n.udpTimeout, long{data->UdpTimeout});
      break;
    default:
      break;
  }
  doc.set(n.connection, n.address, long{data->ModuleAddress});
  doc.set(n.connection, n.rate, long{data->BaudRate});
  doc.set(n.connection, n.timeout, long{data->ResponseTimeout});

  // The new text goes through the checked writer to a temporary file beside the old one and
  // replaces it only when complete, so a crash, a kill or a full disk never leaves a torn or empty file behind.
  const QByteArray text = doc.serialize();
  // The program's own folder in the user's configuration directory may not exist before the
  // first save; any other missing folder is a wrong path and fails below.
  const QString folder = QFileInfo(path).absolutePath();
  if (!UserSettingsDirectory().isEmpty() && folder == UserSettingsDirectory()) QDir().mkpath(folder);
  QString reason;
  if (!WriteFileChecked(path, text, &reason)) {
    SetError(error, reason);
    return false;
  }
  return true;
}
