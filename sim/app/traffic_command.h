#pragma once
#include <string>
// `qx510-sim ctl traffic`: sends the request line to the control socket and copies what comes
// back, the reply line first and then one JSON line per exchange, to standard output until the
// simulator ends (exit 0) or SIGINT or SIGTERM arrives (exit 130 or 143). Exit 1 for an error
// reply, 2 when no simulator of this user answers within timeoutMs.
int RunTrafficCommand(const std::string& controlPath, const std::string& line, int timeoutMs);
