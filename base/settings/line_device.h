#pragma once
// Where the serial port or the USB converter leads: a real device the user mapped it to in
// `serial-ports` (base/wire/port_map.h), else the simulator. The programs name it in their
// connection texts, so that a bench on a real line is told apart from a simulated one.

#include <QString>

#include "base/settings/tdata.h"
#include "base/wire/wire_budget.h"

// "COM1 → /dev/ttyUSB0", "USB → simulátor"; an empty text for the interfaces that are never
// mapped. A mapping file with a mistake names the mistake instead of a device.
QString LineDeviceText(const TData& data);

// What the connection's response timeout counts, and the latency timer of the adapter it
// reaches (0 when it has none or it cannot be read): a port mapped to a serial device counts
// the module's time from the end of the request, everything else the whole exchange.
struct LineTiming {
  TimeoutBasis basis = TimeoutBasis::WholeExchange;
  int adapterLatencyMs = 0;
};
LineTiming LineTimingOf(const TData& data);
