#include <gtest/gtest.h>

#include "base/text/baud.h"

TEST(BaudCodes, EveryCodeMapsToItsRateAndBackAndEverythingElseToTheDefault) {
  const int32_t rates[] = {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  const QStringList items = BaudRateItems();
  ASSERT_EQ(items.size(), 9);
  for (int code = 0; code < 9; ++code) {
    EXPECT_EQ(BaudCodeToRate(code), rates[code]);
    EXPECT_EQ(BaudRateToCode(rates[code]), code);
    EXPECT_EQ(items[code], QString::number(rates[code]) + " Bd");
  }
  for (int code : {-1, 9, 255}) EXPECT_EQ(BaudCodeToRate(code), 9600) << code;
  for (int32_t rate : {0, -9600, 14400, 230400}) EXPECT_EQ(BaudRateToCode(rate), 4) << rate;
}
