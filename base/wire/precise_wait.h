#pragma once

#include <chrono>

// Sleeps until `deadline`, never returning sooner and, as far as the kernel allows, not later:
// the 1 ms pauses between configuration exchanges are part of the module's protocol, and the
// kernel's default timer slack alone would stretch each by about 5 %.
void WaitUntil(std::chrono::steady_clock::time_point deadline);
