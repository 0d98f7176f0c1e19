#include "bench/support/simulated_module.h"

#include <unistd.h>

#include <cstdlib>

#include "base/exchange/driver_loader.h"
#include "sim/sim_server.h"

SimulatedModule::SimulatedModule() {
  SimServerOptions options;
  options.wire = simline::Wire::Instant;  // measures no time
  options.udpPort = -1;
  options.localPath = "/tmp/qx510-bench-module-" + std::to_string(::getpid()) + ".sock";
  server_ = std::make_unique<SimServer>(options);
  if (!server_->start(&error_)) return;
  ::setenv(simproto::EndpointEnv, server_->localPath().c_str(), 1);

  InitData(&data_);
  data_.Interface = InterfaceSerial;
  data_.DriverParams.fill(0);
  data_.DriverParams[0] = data_.ComPort;
  uint32_t handle = 0;
  if (DriverInit(data_.Interface, &handle, data_.DriverParams) != 0 ||
      DriverSetConfig(data_.Interface, handle, uint32_t(data_.BaudRate), data_.ResponseTimeout, 2) != 0) {
    error_ = "the serial port's stand-in did not connect";
    return;
  }
  data_.DriverHandle = handle;
  data_.Connected = true;
}

SimulatedModule::~SimulatedModule() {
  if (data_.Connected) DriverDone(data_.Interface, &data_.DriverHandle);
  server_->stop();
}

uint64_t SimulatedModule::requestCount() const { return server_->requestCount(); }
