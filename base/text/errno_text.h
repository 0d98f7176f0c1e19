#pragma once

#include <string>

// The Czech text of an errno value ("na zařízení není volné místo"), UTF-8; the system's text
// for rare ones. Plain C++, so that the simulator's transports and the drivers say their
// system errors in the same words as the programs.
std::string CzechErrnoText(int error);
