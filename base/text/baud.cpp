#include "base/text/baud.h"

#include <array>

namespace {
constexpr std::array<int32_t, BaudCodeCount> kRates = {600, 1200, 2400, 4800, 9600,
                                                       19200, 38400, 57600, 115200};
constexpr int kDefaultCode = 4;
}  // namespace

int32_t BaudCodeToRate(int code) {
  if (code < 0 || code >= BaudCodeCount) return kRates[kDefaultCode];
  return kRates[code];
}

int BaudRateToCode(int32_t rate) {
  for (int code = 0; code < BaudCodeCount; ++code)
    if (kRates[code] == rate) return code;
  return kDefaultCode;
}

QStringList BaudRateItems() {
  QStringList items;
  for (int32_t rate : kRates) items << QString::number(rate) + QStringLiteral(" Bd");
  return items;
}
