#pragma once
// SimServer: one line of simulated QX-510 modules (sim/line/sim_bus.h) answering requests on
// its own thread, over UDP for the LAN converter's stand-in (sim/transport/udp_port.h) and over
// a local SOCK_SEQPACKET socket for the other four stand-ins (sim/transport/local_endpoint.h),
// plus a control channel for scripts (sim/control/sim_control.h) on a second local socket,
// and over a serial line when asked (sim/transport/serial_line.h). Wire format:
// sim/protocol.h. Every exchange occupies the simulated RS-485 line for its wire time
// (sim/line/wire_line.h) unless options.wire is Instant. The simulator program and the tests
// both use it.
//
// In a test:
//
//   SimServerOptions options;
//   options.udpPort = 0;                               // any free port on 127.0.0.1
//   options.localPath = tempDir.filePath("sim.sock");  // never the user's default endpoint
//   options.modules = {{0, 4}, {5, 7}, {17, 8}};       // address, baud code (4 = 9600 Bd)
//   options.wire = simline::Wire::Instant;             // unless the test measures time
//   SimServer sim(options);
//   ASSERT_TRUE(sim.start(&error)) << error;
//   // interfaces 0..3: the stand-ins read the endpoint from the environment at Init
//   setenv(simproto::EndpointEnv, sim.localPath().c_str(), 1);
//   // interface 4: IpAddress "127.0.0.1", UdpPort sim.udpPort()
//   sim.setShortCircuit(true);          // the bench of module 0, callable from any thread
//   sim.setSourceVoltage(5.0);
//   sim.withModule(2, [](SimModule& m) { m.setInputSwitches(0xFF); });
//   sim.withBus([](SimBus& bus) { bus.arm(1, {.kind = SimFault::Silent, .count = 3}); });
//
// Without options.modules the line is the state file's (options.statePath, the simulator
// program's own; tests leave it empty so nothing is written), else one module fresh from the
// factory at address 0, 9600 Bd. Changes of the memory are stored at most once per
// StoreInterval, and at once on a power cycle and at stop(), so a flood of writes costs no
// disk storm and a kill loses at most the last StoreInterval. The destructor stops the
// threads and removes the socket files it created.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "sim/control/sim_control.h"
#include "sim/line/module_model.h"
#include "sim/line/sim_bus.h"
#include "sim/line/state_file.h"
#include "sim/line/wire_line.h"
#include "sim/protocol.h"
#include "sim/transport/local_endpoint.h"
#include "sim/transport/serial_line.h"
#include "sim/transport/socket_reply.h"
#include "sim/transport/udp_port.h"

// One module of the line a server starts with. Baud codes as the module's memory has them:
// 0..8 for 600..115200 Bd, 4 = 9600 Bd.
struct SimModuleSpec {
  uint8_t address = 0;
  uint8_t baudCode = 4;
  std::chrono::nanoseconds turnaround = wire::DefaultTurnaround;
};

struct SimServerOptions {
  std::string udpHost = "127.0.0.1";
  int udpPort = simproto::DefaultUdpPort;  // 0: a free port (see udpPort()); -1: no UDP
  std::string localPath;                   // empty: simproto::DefaultEndpointPath()
  bool serveLocal = true;
  std::string statePath;                   // empty: the memory is not persisted
  // Called with the reason each time a store fails (on whichever thread stored).
  std::function<void(const std::string&)> onStoreFailure;
  // The line to start with; empty: the state file's, else one module at address 0, 9600 Bd.
  // A module listed here keeps its saved memory when the state file has one set up alike.
  std::vector<SimModuleSpec> modules;
  bool serveControl = true;                // the control channel, when serving locally
  std::string controlPath;                 // empty: localPath + ".ctl"
  SimControlLimits controlLimits;
  simline::Wire wire = simline::Wire::Paced;
  // A serial line besides the sockets: a pseudo-terminal behind the symbolic link ptyLink, or
  // the real port serialDevice at serialRate (0: the first module's rate). One at most.
  std::string ptyLink;
  std::string serialDevice;
  int32_t serialRate = 0;
  SimAdapter adapter;  // played on the pseudo-terminal only
};

struct SimLogEntry {
  enum Channel { Lan, Local, Serial } channel = Lan;
  uint64_t serial = 0;  // counts every decoded request since start
  std::chrono::system_clock::time_point time;  // when the request was served
  simproto::Request request;
  std::optional<simproto::Answer> answer;  // empty: the module kept silent
  int module = -1;                         // the module reached, if any
  std::string note;                        // the fault that acted, if any
};

class SimServer {
 public:
  explicit SimServer(SimServerOptions options = {});
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  static constexpr std::chrono::milliseconds StoreInterval{50};
  static constexpr std::chrono::milliseconds StoreRetryInterval{1000};  // while stores fail
  static constexpr int ReceivesPerRound = 32;  // per socket, so that a flood cannot stall stop()

  // Opens the sockets, loads the state file and starts answering. False with a one-line
  // reason when a socket cannot be opened (port taken, another simulator on the endpoint,
  // something other than a socket at the endpoint path) or the state file cannot be written
  // or is not a regular file, or another simulator holds it (named by its PID and endpoint;
  // see HoldSimState). The state file is held from here until stop() has stored the last.
  bool start(std::string* error = nullptr);
  void stop();
  bool running() const { return thread_.joinable(); }

  uint16_t udpPort() const { return udp_.port(); }
  const std::string& localPath() const { return localPath_; }
  const std::string& controlPath() const { return controlPath_; }
  // Set when start() found a state file it could not use (the module then starts with
  // factory memory).
  std::string stateWarning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stateWarning_;
  }
  // Why the last store failed; empty once a store succeeds again.
  std::string storeError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return storeError_;
  }
  uint64_t storeCount() const { return stores_.load(); }      // successful stores
  uint64_t loopRounds() const { return loopRounds_.load(); }  // wake-ups of the serving thread

  // Runs f on module 0 (or the given one, which must exist) or on the whole line under the
  // server's lock; memory changes are stored and change listeners told afterwards.
  template <class F>
  decltype(auto) withModule(F&& f) {
    return withModule(0, std::forward<F>(f));
  }
  template <class F>
  decltype(auto) withModule(int index, F&& f) {
    return withBus([&](SimBus& bus) -> decltype(auto) { return f(bus.module(index)); });
  }
  template <class F>
  decltype(auto) withBus(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    PersistGuard guard{this};
    return f(bus_);
  }
  // Stores a changed memory now rather than at the end of the interval: after a power cycle,
  // where the module's memory must be safe.
  void storeNow() { store(); }

  // One request frame as either channel delivers it: what goes back (nothing for a malformed
  // frame or a module that keeps silent). Logged and counted like served requests.
  SimBus::Outcome handleFrame(const uint8_t* bytes, size_t size, SimLogEntry::Channel channel);
  // One request frame a socket transport received: served, and its answer sent back through
  // `reply` once the wire has carried it. Serving thread.
  void serveSocketFrame(const uint8_t* bytes, size_t size, SimLogEntry::Channel channel, const SimSocketReply& reply);
  // One request a transport handed to the line at `ready`: what the line made of it (logged
  // and counted) and when its frames occupy the wire. Serving thread.
  struct Served {
    SimBus::Outcome outcome;
    simline::Exchange wire;
  };
  Served serve(const simproto::Request& request, SimLogEntry::Channel channel, simline::TimePoint ready);
  void countUnreadable() { ++malformed_; }
  simline::Wire wire() const { return options_.wire; }
  // The serial line, while running; null when none was asked for.
  const SimSerialLine* serialLine() const { return serial_.get(); }
  SimModule snapshot(int index = 0) const;
  SimBus busSnapshot() const;
  int moduleCount() const;

  // The bench of module 0, for convenience.
  void setSourceVoltage(double volts);
  void setSourceCurrent(double milliamps);
  void setShortCircuit(bool on);
  void setInputSwitches(uint32_t switches);
  void raiseStatusBits(uint32_t mask);
  void setPowered(bool on);
  void powerCycle();

  // Called, from whichever thread made it, after every change of the line or a new request;
  // it must not call back into the server. Empty: nobody listens.
  void setChangeListener(std::function<void()> listener);

  // The last requests and answers, oldest first (at most LogCapacity), and the counters. The
  // serving thread only copies an entry into a ring; readers (the window, `ctl traffic`) pull
  // what is newer than the serial they saw last, at most `max` at a time. A reader that falls
  // behind by more than the ring holds sees a gap in the serials.
  static constexpr size_t LogCapacity = 16384;
  std::vector<SimLogEntry> recentLog() const;
  std::vector<SimLogEntry> logSince(uint64_t serial, size_t max = LogCapacity) const;
  uint64_t requestCount() const { return requests_.load(); }
  uint64_t malformedCount() const { return malformed_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  struct PersistGuard {
    SimServer* server;
    ~PersistGuard() {
      server->scheduleStoreLocked();
      server->notifyChanged();
    }
  };
  struct Delayed;
  void run();
  bool startServing(std::string* error);  // start() once the state file is held
  bool loadLine(std::string* error);
  void notifyChanged();
  void send(const Served& served, const SimSocketReply& reply);
  bool openSerialLine(std::string* error);
  void armPaceTimer(std::optional<Clock::time_point> at);
  std::optional<Clock::time_point> deliverDelayed();  // the next one's time, if any
  SimBus::Outcome process(const simproto::Request& request, SimLogEntry::Channel channel);
  void scheduleStoreLocked();
  std::optional<Clock::time_point> storeDue() const;
  void store();
  void wake();
  void closeAll();

  SimServerOptions options_;
  mutable std::mutex mutex_;
  SimBus bus_;
  SimBus::Generation savedGeneration_{};
  bool stateUsable_ = false;  // a state file is named, and start() could write beside it
  bool storePending_ = false;
  bool lastStoreFailed_ = false;
  Clock::time_point lastStoreAt_{};
  std::mutex storeMutex_;  // one store at a time: they share the temporary file
  std::vector<SimLogEntry> log_;  // a ring: the entry of serial s at (s - 1) % LogCapacity
  std::atomic<uint64_t> requests_{0};
  std::atomic<uint64_t> malformed_{0};
  std::atomic<uint64_t> stores_{0};
  std::atomic<uint64_t> loopRounds_{0};
  std::atomic<bool> stopping_{false};
  std::string stateWarning_;
  std::string storeError_;

  SimStateHold stateHold_;  // while running (and storing), when a state file is named
  SimUdpPort udp_;
  SimLocalEndpoint local_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::string localPath_;
  std::string controlPath_;
  std::vector<Delayed> delayed_;  // serving thread only; few at a time
  simline::WireLine line_;         // serving thread only
  std::unique_ptr<SimSerialLine> serial_;
  int paceTimer_ = -1;  // wakes the serving thread at the next frame's absolute time
  std::thread thread_;
  std::unique_ptr<SimControlListener> control_;
  std::mutex listenerMutex_;
  std::function<void()> listener_;
};
