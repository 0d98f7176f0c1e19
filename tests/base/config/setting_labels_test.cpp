#include "base/config/setting_labels.h"

#include <gtest/gtest.h>

#include "base/exchange/commands.h"

// A byte as the compare tables show it: the settings window's name and the value decoded.
TEST(SettingLabels, BytesDecodedAsTheWindowsShowThem) {
  const struct {
    uint8_t address, value;
    const char* label;
    const char* text;
  } cases[] = {
      {CfgAddr::BaudCode, 3, "Komunikační rychlost", "4800 Bd"},
      {CfgAddr::BaudCode, 0x14, "Komunikační rychlost", "0x14: neplatný kód"},
      {CfgAddr::AinRange, 1, "Rozsah AIN 0", "0-20mA"},
      {CfgAddr::AinRange, 7, "Rozsah AIN 0", "0x07: neplatný rozsah"},
      {CfgAddr::BusAddress, 31, "Adresa modulu", "31"},
      {CfgAddr::DinNegation, 0x81, "Negace DIN, bajt 0", "0x81 (bity 0, 7)"},
      {CfgAddr::DoutInitialState + 3 * CfgAddr::DigitalStride, 0x80, "Počáteční stav DOUT, bajt 3", "0x80 (bit 31)"},
      {CfgAddr::DoutNegation + CfgAddr::DigitalStride, 0, "Negace DOUT, bajt 1", "0x00 (žádný bit)"},
      {CfgAddr::CurrentGain + 3, 0x1e, "Kalibrace proudu: posun, vyšší bajt", "0x1e (30)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.address));
    EXPECT_EQ(ConfigByteLabel(c.address), QString::fromUtf8(c.label));
    EXPECT_EQ(ConfigByteValueText(c.address, c.value), QString::fromUtf8(c.text));
  }
}
