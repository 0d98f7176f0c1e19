#pragma once
// The simulator program (qx510-sim, beside the benchmark) as a child process on a free UDP
// port and a private endpoint, for the whole run; ended by SIGTERM to its own process id.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "sim/protocol.h"

extern char** environ;

inline std::string ExeDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

class SimProcess {
 public:
  // extra: options after --port 0 --endpoint ...; headless unless window is set (then the
  // window opens on the platform QT_QPA_PLATFORM names).
  explicit SimProcess(const std::vector<std::string>& extra = {}, bool window = false) {
    endpoint_ = "/tmp/qx510-bench-" + std::to_string(::getpid()) + "-" + std::to_string(++Count()) + ".sock";
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
      error_ = "pipe failed";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string program = ExeDir() + "/qx510-sim";
    std::vector<std::string> args = {program, "--no-state", "--port", "0", "--endpoint", endpoint_};
    if (!window) args.push_back("--headless");
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    output_ = out[0];
    if (rc != 0) {
      pid_ = -1;
      error_ = "cannot start " + program;
      return;
    }
    // The first line names the UDP port it took.
    std::string line;
    char c = 0;
    while (line.find('\n') == std::string::npos) {
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0 || ::read(output_, &c, 1) != 1) break;
      line += c;
    }
    std::smatch m;
    if (std::regex_search(line, m, std::regex("UDP 127\\.0\\.0\\.1:(\\d+),"))) port_ = uint16_t(std::stoi(m[1]));
    if (port_ == 0) error_ = "qx510-sim did not come up: " + line;
  }
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (output_ >= 0) ::close(output_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  pid_t pid() const { return pid_; }
  uint16_t port() const { return port_; }
  const std::string& endpoint() const { return endpoint_; }
  std::string controlPath() const { return endpoint_ + ".ctl"; }
  const std::string& error() const { return error_; }
  // Lets the stand-in drivers of this process reach it.
  void useEndpoint() const { ::setenv(simproto::EndpointEnv, endpoint_.c_str(), 1); }

 private:
  static int& Count() {
    static int count = 0;
    return count;
  }
  pid_t pid_ = -1;
  int output_ = -1;
  uint16_t port_ = 0;
  std::string endpoint_;
  std::string error_;
};
