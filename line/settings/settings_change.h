#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "base/config/config_image.h"
#include "base/config/config_transfer.h"
#include "base/config/line_file.h"

// What the workbench's settings windows change in a module: the bytes the tool's three
// settings windows edit (address and rate, the range of input 0, the digital bytes), in the
// order those windows move them.
const std::vector<uint8_t>& SettingsAddresses();

// The bytes at which `after` differs from `before`, in the order of SettingsAddresses(), each
// with its new value.
std::vector<ConfigByte> ChangedSettings(const ConfigImage& before, const ConfigImage& after);
// Whether the bytes hold the bus address or the baud code, which take effect only at the
// module's next power-up.
bool TouchesLineSettings(const std::vector<ConfigByte>& bytes);

// One setting chosen for several modules at once: the range of input 0, or one digital field
// for a span of channels.
struct SettingChoice {
  enum Kind { AinRange, DinNegation, DoutNegation, DoutInitial } kind = AinRange;
  int first = 0;  // channels first..last of a digital field
  int last = 7;
  int value = 0;  // the range (0 = 0-10V, 1 = 0-20mA), or the bit each channel gets
};
// The kinds as the window offers them, in the order of Kind.
QStringList SettingChoiceNames();
// The values of a kind as the window offers them: index = SettingChoice::value.
QStringList SettingChoiceValues(SettingChoice::Kind kind);
// "Negace DIN 0–7: ano" for the question before the write.
QString SettingChoiceText(const SettingChoice& choice);
// `image` with the choice applied; every other byte as it was.
ConfigImage ApplyChoice(const SettingChoice& choice, ConfigImage image);

// The bit of channel `channel` of a digital field (base address 32, 33 or 34) in an image.
bool DigitalBit(const ConfigImage& image, uint8_t base, int channel);
void SetDigitalBit(ConfigImage& image, uint8_t base, int channel, bool on);

// "5 (9600 Bd)": where a module answers.
QString ModulePlace(const LineModule& module);

// Where the workbench keeps the line backups it takes before it writes a change:
// <GenericDataLocation>/qx510/zálohy, a file per backup named by its time. Empty when the user
// has no data folder.
QString AutoBackupFolder();
QString AutoBackupPath(const QDateTime& when);
