#pragma once
// The simulator's control channel: scripts and tests drive the line through it. One request
// line of JSON in, one reply line of JSON out, over a local stream socket beside the endpoint
// (SimServer's controlPath()); `qx510-sim ctl ...` sends the same commands from a shell.
//
//   {"cmd":"voltage","module":1,"volts":2.5}    ->  {"ok":true}
//   {"cmd":"fault","kind":"silent","count":2}   ->  {"ok":true}
//   {"cmd":"volts"}                             ->  {"ok":false,"error":"unknown command volts"}
//
// The commands are listed in the README. Every argument is checked; a bad request gets an
// error reply and changes nothing.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "sim/traffic_stream.h"

class SimServer;

// Runs one request line against the server and returns the reply line (without newline).
std::string SimControlExecute(SimServer& server, const std::string& line);

// Sends one request line to a running simulator's control socket and reads the reply line.
// False with a reason when the socket cannot be reached or the reply does not come.
bool SimControlRequest(const std::string& path, const std::string& line, std::string* reply, std::string* error,
                       int timeoutMs = 5000);

// The request line of `qx510-sim ctl` arguments: either one JSON object, or a command name
// followed by key=value words whose values are JSON literals where they parse as such
// ("module=1 on=true kind=silent" -> {"cmd":..., "module":1, "on":true, "kind":"silent"}).
bool SimControlLineFromArgs(const std::vector<std::string>& args, std::string* line, std::string* error);

// Serves the control socket on a thread of its own.
class SimControlListener {
 public:
  explicit SimControlListener(SimServer* server) : server_(server), traffic_(server) {}
  ~SimControlListener() { stop(); }
  SimControlListener(const SimControlListener&) = delete;
  SimControlListener& operator=(const SimControlListener&) = delete;

  bool start(const std::string& path, std::string* error);
  void stop();

 private:
  void run();

  SimServer* server_;
  SimTrafficStreams traffic_;  // the clients that asked for `traffic`, served on their own thread
  std::string path_;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  bool ownsFile_ = false;
  std::thread thread_;
};
