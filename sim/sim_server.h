#pragma once
// SimServer: one simulated QX-510 answering requests on its own thread, over UDP for the LAN
// converter's stand-in (KNET1660.DLL) and over a local SOCK_SEQPACKET socket for the other
// four stand-ins. Wire format: sim/protocol.h. The simulator program and the tests both use it.
//
// In a test:
//
//   SimServerOptions options;
//   options.udpPort = 0;                               // any free port on 127.0.0.1
//   options.localPath = tempDir.filePath("sim.sock");  // never the user's default endpoint
//   SimServer sim(options);
//   ASSERT_TRUE(sim.start(&error)) << error;
//   // interfaces 0..3: the stand-ins read the endpoint from the environment at Init
//   setenv(simproto::EndpointEnv, sim.localPath().c_str(), 1);
//   // interface 4: IpAddress "127.0.0.1", UdpPort sim.udpPort()
//   sim.setShortCircuit(true);          // the bench, callable from any thread
//   sim.setSourceVoltage(5.0);
//   sim.withModule([](SimModule& m) { m.setConverterError({1.05, -30.0, 40.0}); });
//
// The module starts with factory memory unless options.statePath names a state file (the
// simulator program's own; tests leave it empty so nothing is written). Changes of the memory
// are stored at most once per StoreInterval, and at once on a power cycle and at stop(), so a
// flood of writes costs no disk storm and a kill loses at most the last StoreInterval. The
// destructor stops the thread and removes the socket file it created.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "sim/module_model.h"
#include "sim/protocol.h"

struct SimServerOptions {
  std::string udpHost = "127.0.0.1";
  int udpPort = simproto::DefaultUdpPort;  // 0: a free port (see udpPort()); -1: no UDP
  std::string localPath;                   // empty: simproto::DefaultEndpointPath()
  bool serveLocal = true;
  std::string statePath;                   // empty: the memory is not persisted
  // Called with the reason each time a store fails (on whichever thread stored).
  std::function<void(const std::string&)> onStoreFailure;
};

struct SimLogEntry {
  enum Channel { Lan, Local } channel = Lan;
  uint64_t serial = 0;  // counts every decoded request since start
  simproto::Request request;
  std::optional<simproto::Answer> answer;  // empty: the module kept silent
};

class SimServer {
 public:
  explicit SimServer(SimServerOptions options = {});
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  static constexpr std::chrono::milliseconds StoreInterval{50};
  static constexpr std::chrono::milliseconds StoreRetryInterval{1000};  // while stores fail
  static constexpr std::chrono::milliseconds AcceptPause{100};          // after accept fails
  static constexpr int ReceivesPerRound = 32;  // per socket, so that a flood cannot stall stop()

  // Opens the sockets, loads the state file and starts answering. False with a one-line
  // reason when a socket cannot be opened (port taken, another simulator on the endpoint,
  // something other than a socket at the endpoint path) or the state file cannot be written
  // or is not a regular file.
  bool start(std::string* error = nullptr);
  void stop();
  bool running() const { return thread_.joinable(); }

  uint16_t udpPort() const { return boundPort_; }
  const std::string& localPath() const { return localPath_; }
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

  // Runs f on the module under the server's lock; memory changes are persisted afterwards.
  template <class F>
  decltype(auto) withModule(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    PersistGuard guard{this};
    return f(module_);
  }

  // One request frame as either channel delivers it: the answer frame, or nothing for a
  // malformed frame or a module that keeps silent. Logged and counted like served requests.
  std::optional<std::array<uint8_t, simproto::AnswerSize>> handleFrame(const uint8_t* bytes, size_t size,
                                                                       SimLogEntry::Channel channel);
  SimModule snapshot() const;

  // The bench, for convenience.
  void setSourceVoltage(double volts);
  void setSourceCurrent(double milliamps);
  void setShortCircuit(bool on);
  void setInputSwitches(uint32_t switches);
  void raiseStatusBits(uint32_t mask);
  void setPowered(bool on);
  void powerCycle();

  // The last requests and answers, oldest first (at most LogCapacity), and the counters.
  static constexpr size_t LogCapacity = 200;
  std::vector<SimLogEntry> recentLog() const;
  uint64_t requestCount() const { return requests_.load(); }
  uint64_t malformedCount() const { return malformed_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  struct PersistGuard {
    SimServer* server;
    ~PersistGuard() { server->scheduleStoreLocked(); }
  };
  void run();
  void receiveDatagrams();
  bool serveClient(int fd);  // false: the client is gone
  void acceptClients(std::vector<int>& clients, Clock::time_point& pausedUntil);
  std::optional<simproto::Answer> process(const simproto::Request& request, SimLogEntry::Channel channel);
  void scheduleStoreLocked();
  std::optional<Clock::time_point> storeDue() const;
  void store();
  void wake();
  void closeAll();

  SimServerOptions options_;
  mutable std::mutex mutex_;
  SimModule module_;
  uint64_t savedGeneration_ = 0;
  bool stateUsable_ = false;  // a state file is named, and start() could write beside it
  bool storePending_ = false;
  bool lastStoreFailed_ = false;
  Clock::time_point lastStoreAt_{};
  std::mutex storeMutex_;  // one store at a time: they share the temporary file
  std::deque<SimLogEntry> log_;
  std::atomic<uint64_t> requests_{0};
  std::atomic<uint64_t> malformed_{0};
  std::atomic<uint64_t> stores_{0};
  std::atomic<uint64_t> loopRounds_{0};
  std::atomic<bool> stopping_{false};
  std::string stateWarning_;
  std::string storeError_;

  int udpFd_ = -1;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  bool ownsSocketFile_ = false;
  uint16_t boundPort_ = 0;
  std::string localPath_;
  std::thread thread_;
};
