#pragma once

#include <QStringList>
#include <cstdint>

// Baud codes 0..8 stand for 600 .. 115200 Bd, on the driver and in the module alike.
int32_t BaudCodeToRate(int code);   // any other code: 9600
int BaudRateToCode(int32_t rate);   // any other rate: code 4
constexpr int BaudCodeCount = 9;

// "600 Bd" .. "115200 Bd": the items of every rate list, item index = baud code.
QStringList BaudRateItems();
