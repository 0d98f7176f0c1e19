#pragma once
// A USB-serial adapter's latency timer: how long it holds received bytes before it hands
// them to the PC. Plain C++: the serial drivers read it for their waits, the programs for a
// scan's budget.

#include <string>

// The timer of the adapter behind `device` (a path such as /dev/ttyUSB0 or a link to it) in
// ms; -1 when it has none (an on-board UART, a pseudo-terminal) or it cannot be read.
int AdapterLatencyMs(const std::string& device);
