// Starts the serial interface's driver the way the tool does and prints the status: run by
// the loader test in a child process, with the environment and working directory it chose.
#include <cstdio>

#include "base/exchange/driver_loader.h"

int main() {
  uint32_t handle = 0;
  std::printf("%u\n", DriverInit(0, &handle, DriverParamBlock{}));
  return 0;
}
