// Exchanges per second through the stand-in drivers to the headless simulator program
// (qx510-sim, started beside this benchmark on a free UDP port and a private endpoint): the
// LAN converter's over UDP on loopback, the serial port's over the local endpoint. One
// exchange = one Send of command 100 (read the status register).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "bench/figures.h"
#include "bench/sim_process.h"
#include "drivers/driver_abi.h"
#include "sim/protocol.h"

namespace {

constexpr double RequiredRate = 10000.0;  // exchanges per second, each path

struct Driver {
  explicit Driver(const std::string& prefix) {
    lib = ::dlopen((BenchDirectory() + "/" + prefix + ".DLL").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error(::dlerror());
    init = ::dlsym(lib, (prefix + "_Init").c_str());
    setConfig = reinterpret_cast<DriverSetConfigFn>(::dlsym(lib, (prefix + "_SetConfig").c_str()));
    send = reinterpret_cast<DriverSendFn>(::dlsym(lib, (prefix + "_Send").c_str()));
    done = reinterpret_cast<DriverDoneFn>(::dlsym(lib, (prefix + "_Done").c_str()));
    if (!init || !setConfig || !send || !done) throw std::runtime_error(prefix + ": an entry is missing");
  }
  ~Driver() { ::dlclose(lib); }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  void* lib;
  void* init;
  DriverSetConfigFn setConfig;
  DriverSendFn send;
  DriverDoneFn done;
};

SimulatorProcess* Simulator = nullptr;

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
  Driver d("KNET1660");
  std::array<uintptr_t, 16> block{};
  block[0] = reinterpret_cast<uintptr_t>("127.0.0.1");
  block[1] = Simulator->port();
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

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SimulatorProcess simulator(false);
  if (!simulator.error().empty()) {
    std::fprintf(stderr, "%s\n", simulator.error().c_str());
    return 1;
  }
  ::setenv(simproto::EndpointEnv, simulator.endpoint().c_str(), 1);
  Simulator = &simulator;
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  // Wall time: the simulator is another process.
  const double lan = reporter.perSecond("BM_LanConverterUdp");
  const double local = reporter.perSecond("BM_SerialPortLocalEndpoint");
  if (lan < 0 || local < 0) {
    std::printf("an exchange path did not run\n");
    return 1;
  }
  std::printf("KNET1660.DLL over UDP: %.0f exchanges/s, KSER660.DLL over the local endpoint: %.0f exchanges/s "
              "(at least %.0f each)\n",
              lan, local, RequiredRate);
  return Verdict(lan >= RequiredRate && local >= RequiredRate);
}
