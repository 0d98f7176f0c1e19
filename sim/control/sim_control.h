#pragma once
// The simulator's control channel: scripts and tests drive the line through it. One request
// line of JSON in, one reply line of JSON out, over a local stream socket beside the endpoint
// (SimServer's controlPath()); `qx510-sim ctl ...` sends the same commands from a shell.
//
//   {"cmd":"voltage","module":1,"volts":2.5}    ->  {"ok":true}
//   {"cmd":"fault","kind":"silent","count":2}   ->  {"ok":true}
//   {"cmd":"volts"}                             ->  {"ok":false,"error":"unknown command volts"}
//
// The commands are listed in the handbook (docs/simulator.md). Every argument is checked; a bad request gets an
// error reply and changes nothing.

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/control/traffic_stream.h"
#include "sim/transport/local_socket.h"

class SimServer;

// Runs one request line against the server and returns the reply line (without newline).
std::string SimControlExecute(SimServer& server, const std::string& line);

// Sends one request line to a running simulator's control socket and reads the reply line,
// all within timeoutMs. False with a one-line reason when the socket cannot be reached, the
// simulator there runs as another user, or the reply does not come in time.
bool SimControlRequest(const std::string& path, const std::string& line, std::string* reply, std::string* error,
                       int timeoutMs = SimWaitMs);

// The request line of `qx510-sim ctl` arguments: either one JSON object, or a command name
// followed by key=value words whose values are JSON literals where they parse as such
// ("module=1 on=true kind=silent" -> {"cmd":..., "module":1, "on":true, "kind":"silent"}).
bool SimControlLineFromArgs(const std::vector<std::string>& args, std::string* line, std::string* error);

// Limits of the control channel, so that no number or kind of client can take the
// simulator's descriptors or attention from the exchanges it serves.
struct SimControlLimits {
  int maxClients = 64;  // one more is answered with an error and closed
  // A client that has sent no request for this long, and is not being streamed to, is closed.
  std::chrono::milliseconds idle{30000};
  // The only user whose requests are served; -1: the simulator's own (tests set another).
  long user = -1;
};

// Serves the control socket on a thread of its own.
class SimControlListener {
 public:
  explicit SimControlListener(SimServer* server, SimControlLimits limits = {})
      : server_(server), traffic_(server), limits_(limits) {}
  ~SimControlListener() { stop(); }
  SimControlListener(const SimControlListener&) = delete;
  SimControlListener& operator=(const SimControlListener&) = delete;

  bool start(const std::string& path, std::string* error);
  void stop();

 private:
  using Clock = std::chrono::steady_clock;
  struct Client {
    int fd = -1;
    std::string pending;       // received, not yet a whole line
    Clock::time_point lastRequest;
    bool streaming = false;    // something is being streamed to it: never idle
  };
  void run();
  bool acceptClients(std::vector<Client>& clients);
  bool serve(Client& client);  // false: close it (fd -1: handed to the traffic streams)
  std::optional<Clock::time_point> idleDeadline(const std::vector<Client>& clients) const;

  SimServer* server_;
  SimTrafficStreams traffic_;  // the clients that asked for `traffic`, served on their own thread
  SimControlLimits limits_;
  std::string path_;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  bool ownsFile_ = false;
  std::thread thread_;
};
