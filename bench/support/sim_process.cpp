#include "bench/support/sim_process.h"

#include "sim/protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <vector>

extern char** environ;

std::string BenchDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

SimulatorProcess::SimulatorProcess(bool withWindow, const std::vector<std::string>& extra, bool paced) {
  static std::atomic<int> serial{0};
  endpoint_ = "/tmp/qx510-bench-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".sock";
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  if (withWindow) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const std::string program = BenchDirectory() + "/qx510-sim";
  // Most benchmarks measure the simulator's own cost against loopback floors, not the wire.
  std::vector<std::string> args = {program, "--no-state", "--wire", paced ? "paced" : "instant", "--port", "0",
                                   "--endpoint", endpoint_};
  if (!withWindow) args.insert(args.begin() + 1, "--headless");
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

SimulatorProcess::~SimulatorProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (output_ >= 0) ::close(output_);
}

void SimulatorProcess::useEndpoint() const { ::setenv(simproto::EndpointEnv, endpoint_.c_str(), 1); }

namespace {
double TaskCpuSeconds(const std::filesystem::path& task) {
  std::ifstream in(task / "schedstat");
  double onCpu = 0;
  return in >> onCpu ? onCpu * 1e-9 : -1;
}
}  // namespace

double SimulatorProcess::mainThreadCpuSeconds() const {
  if (pid_ <= 0) return -1;
  const std::string pid = std::to_string(pid_);
  return TaskCpuSeconds("/proc/" + pid + "/task/" + pid);
}

bool PinToOneCpu() {
  const int cpu = sched_getcpu();
  if (cpu < 0) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

int RunProgram(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double SimulatorProcess::cpuSeconds() const {
  if (pid_ <= 0) return -1;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
  std::error_code ec;
  double ns = 0;
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream in(task.path() / "schedstat");
    double onCpu = 0;
    if (in >> onCpu) ns += onCpu;
  }
  return ec ? -1 : ns * 1e-9;
}
