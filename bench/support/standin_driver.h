#pragma once
// One stand-in driver library beside the benchmark, its entries resolved by name.
#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "bench/support/sim_process.h"
#include "drivers/driver_abi.h"

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
  void* init;  // its type differs by interface
  DriverSetConfigFn setConfig;
  DriverSendFn send;
  DriverDoneFn done;
};
