// qx510-sim: a line of simulated QX-510 modules behind the stand-in drivers. A Qt Core program:
// --headless (for tests and scripts; ends on SIGTERM or SIGINT), `qx510-sim ctl ...` (one
// command to a running simulator's control channel) and `qx510-sim send ...` (one request
// through a stand-in driver) run here; for the front panel the process becomes the window
// program that lies beside it, with the same arguments and the same process id.
#include <QByteArray>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/text/errno_text.h"
#include "sim/app/ctl_command.h"
#include "sim/app/send_command.h"
#include "sim/app/sim_program.h"

namespace {
std::string WindowProgram() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/') + 1);
  return dir + "qx510-sim-window";
}
}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && QByteArray(argv[1]) == "ctl") return RunControlCommand(argc, argv);
  if (argc >= 2 && QByteArray(argv[1]) == "send") return RunSendCommand(argc, argv);
  if (SimRunsWithoutWindow(argc, argv)) return RunSimulatorProgram(argc, argv, nullptr);
  const std::string window = WindowProgram();
  ::execv(window.c_str(), argv);
  std::fprintf(stderr, "qx510-sim: okno simulátoru nelze spustit (%s): %s\n", window.c_str(), CzechErrnoText(errno).c_str());
  return 1;
}
