// One exchange = one Send of command 100 (read the status register) answered by the
// simulated module, which runs on its own thread in this process exactly as in qx510-sim.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "drivers/driver_abi.h"
#include "sim/sim_server.h"

namespace {

std::string ExeDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

struct Driver {
  explicit Driver(const std::string& prefix) {
    lib = ::dlopen((ExeDir() + "/" + prefix + ".DLL").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error(::dlerror());
    init = ::dlsym(lib, (prefix + "_Init").c_str());
    setConfig = reinterpret_cast<DriverSetConfigFn>(::dlsym(lib, (prefix + "_SetConfig").c_str()));
    send = reinterpret_cast<DriverSendFn>(::dlsym(lib, (prefix + "_Send").c_str()));
    done = reinterpret_cast<DriverDoneFn>(::dlsym(lib, (prefix + "_Done").c_str()));
  }
  ~Driver() { ::dlclose(lib); }
  void* lib;
  void* init;
  DriverSetConfigFn setConfig;
  DriverSendFn send;
  DriverDoneFn done;
};

// Each benchmark runs its own simulator on a free port and a private endpoint.
struct Simulator {
  Simulator() {
    endpoint = "/tmp/qx510-bench-" + std::to_string(::getpid()) + ".sock";
    SimServerOptions o;
    o.udpPort = 0;
    o.localPath = endpoint;
    server = std::make_unique<SimServer>(o);
    std::string error;
    if (!server->start(&error)) throw std::runtime_error(error);
    ::setenv(simproto::EndpointEnv, endpoint.c_str(), 1);
  }
  std::string endpoint;
  std::unique_ptr<SimServer> server;
};

void RunExchanges(benchmark::State& state, Driver& d, uint32_t handle) {
  if (d.setConfig(handle, 9600, 150, 2) != 0) {
    state.SkipWithError("SetConfig failed");
    return;
  }
  const std::array<uint32_t, 8> request{0, 100, 0, 0, 0, 0, 0, 0};
  std::array<uint32_t, 100> response{};
  uint32_t aux = 0, status = 0;
  for (auto _ : state) {
    const uint32_t r = d.send(handle, request.data(), response.data(), &aux, &status);
    if (r != 0 || status != 0) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(response);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  d.done(&handle);
}

void BM_LanConverterUdp(benchmark::State& state) {
  Simulator sim;
  Driver d("KNET1660");
  std::array<uintptr_t, 16> block{};
  block[0] = reinterpret_cast<uintptr_t>("127.0.0.1");
  block[1] = sim.server->udpPort();
  block[2] = 100;
  uint32_t handle = 0;
  if (reinterpret_cast<DriverInitBlockFn>(d.init)(&handle, block.data()) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  RunExchanges(state, d, handle);
}
BENCHMARK(BM_LanConverterUdp)->MinTime(1.0)->UseRealTime();

void BM_SerialPortLocalEndpoint(benchmark::State& state) {
  Simulator sim;
  Driver d("KSER660");
  uint32_t handle = 0;
  if (reinterpret_cast<DriverInitWordFn>(d.init)(&handle, 1) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  RunExchanges(state, d, handle);
}
BENCHMARK(BM_SerialPortLocalEndpoint)->MinTime(1.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
