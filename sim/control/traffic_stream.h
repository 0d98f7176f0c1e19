#pragma once
// `ctl traffic`: control clients that asked for the line's traffic get every exchange served
// from then on, one JSON line each (sim/control/traffic.h), until they hang up. One thread
// serves them all and sleeps while nobody streams; the serving thread only fills SimServer's
// ring. A client that reads too slowly loses records (a gap in the serials) rather than
// holding anything up.

#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimServer;

class SimTrafficStreams {
 public:
  explicit SimTrafficStreams(SimServer* server) : server_(server) {}
  ~SimTrafficStreams();
  SimTrafficStreams(const SimTrafficStreams&) = delete;
  SimTrafficStreams& operator=(const SimTrafficStreams&) = delete;

  static constexpr size_t MaxClients = 8;
  static constexpr size_t MaxPending = size_t(1) << 20;  // bytes held for one slow reader
  static constexpr int PullIntervalMs = 50;

  // Whether a request line asks for the stream.
  static bool IsRequest(const std::string& line);
  // Takes over a connected, non-blocking client; its first line is `reply`. False (the
  // descriptor left to the caller) when MaxClients stream already or the thread cannot start.
  bool adopt(int fd, const std::string& reply);

 private:
  struct Client {
    int fd;
    uint64_t after;  // the last serial it was given
    std::string pending;
  };
  void run();
  void wake();

  SimServer* server_;
  std::mutex mutex_;
  std::vector<Client> incoming_;
  size_t count_ = 0;  // clients streaming or about to
  bool stopping_ = false;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread thread_;
};
