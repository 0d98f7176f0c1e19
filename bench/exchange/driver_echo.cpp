// What a stand-in driver adds to one exchange: KNET1660.DLL over UDP and KSER660.DLL over a
// local SOCK_SEQPACKET connection, each against a responder that turns every request frame
// straight into its answer, beside a bare client that sends the same request frame over the
// same kind of socket to the same responder and reads the answer. The two alternate, one
// round trip each, and the medians of the single round trips are compared. Both processes
// run on one CPU, so that a round trip is two context switches and not the machine's wake-up
// latency, which would hide the driver's own cost.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/figures.h"
#include "bench/support/sim_process.h"
#include "bench/support/standin_driver.h"
#include "drivers/driver_abi.h"
#include "sim/protocol.h"

namespace {

constexpr double MaxRatio = 1.2;

// The answer to a request frame, with no more work than the frame itself asks for.
bool AnswerFrame(const uint8_t* in, ssize_t n, std::array<uint8_t, simproto::AnswerSize>& out) {
  const auto request = simproto::DecodeRequest(in, size_t(n));
  if (!request) return false;
  simproto::Answer a;
  a.seq = request->seq;
  a.address = request->address;
  a.command = request->command;
  a.data = request->data;
  out = simproto::EncodeAnswer(a);
  return true;
}

[[noreturn]] void ServeSeqpacket(int listener) {
  for (;;) {
    const int c = ::accept(listener, nullptr, nullptr);
    if (c < 0) continue;
    std::thread([c] {
      uint8_t buffer[64];
      std::array<uint8_t, simproto::AnswerSize> answer;
      for (ssize_t n; (n = ::recv(c, buffer, sizeof buffer, 0)) > 0;)
        if (AnswerFrame(buffer, n, answer)) ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(c);
    }).detach();
  }
}

[[noreturn]] void ServeUdp(int fd) {
  uint8_t buffer[64];
  std::array<uint8_t, simproto::AnswerSize> answer;
  for (;;) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n > 0 && AnswerFrame(buffer, n, answer))
      ::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
}

// The responder: a child process on this process's CPU, serving both sockets until killed.
class Responder {
 public:
  Responder() {
    path_ = "/tmp/qx510-bench-echo-" + std::to_string(::getpid()) + ".sock";
    ::unlink(path_.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un ua{};
    ua.sun_family = AF_UNIX;
    std::snprintf(ua.sun_path, sizeof ua.sun_path, "%s", path_.c_str());
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in ia{};
    ia.sin_family = AF_INET;
    ia.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof ia;
    if (listener < 0 || udp < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&ua), sizeof ua) != 0 ||
        ::listen(listener, 4) != 0 || ::bind(udp, reinterpret_cast<sockaddr*>(&ia), sizeof ia) != 0 ||
        ::getsockname(udp, reinterpret_cast<sockaddr*>(&ia), &len) != 0)
      throw std::runtime_error("responder sockets");
    port_ = ntohs(ia.sin_port);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      std::thread([udp] { ServeUdp(udp); }).detach();
      ServeSeqpacket(listener);
    }
    ::close(listener);
    ::close(udp);
  }
  ~Responder() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    ::unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }
  uint16_t port() const { return port_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string path_;
};

Responder* Echo = nullptr;

std::array<uint8_t, simproto::RequestSize> StatusRequest() {
  simproto::Request r;
  r.seq = 1;
  r.rate = 9600;
  r.command = 100;
  return simproto::EncodeRequest(r);
}

// Seconds per round trip, each taken alone, so that their medians are not moved by the
// spells in which other work on the machine holds the CPU.
struct Samples {
  std::vector<double> bare, driver;
  double median(std::vector<double>& v) const {
    if (v.empty()) return -1;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
  }
};
Samples UdpSamples, SeqpacketSamples;

// The bare round trip and the driver's, alternately, so that both meet the machine alike.
void Alternate(benchmark::State& state, int bareFd, Driver& d, uint32_t initStatus, uint32_t handle, Samples& out) {
  if (bareFd < 0 || initStatus != 0 || d.setConfig(handle, 9600, 150, 2) != 0) {
    state.SkipWithError("connect, Init or SetConfig failed");
    return;
  }
  const auto frame = StatusRequest();
  uint8_t buffer[64];
  const std::array<uint32_t, 8> request{0, 100, 0, 0, 0, 0, 0, 0};
  std::array<uint32_t, 100> response{};
  uint32_t aux = 0, status = 0;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const bool bareOk = ::send(bareFd, frame.data(), frame.size(), MSG_NOSIGNAL) == ssize_t(frame.size()) &&
                        ::recv(bareFd, buffer, sizeof buffer, 0) == ssize_t(simproto::AnswerSize);
    const auto t1 = Clock::now();
    const bool driverOk = d.send(handle, request.data(), response.data(), &aux, &status) == 0 && status == 0;
    const auto t2 = Clock::now();
    if (!bareOk || !driverOk) {
      state.SkipWithError(bareOk ? "driver exchange failed" : "bare exchange failed");
      break;
    }
    out.bare.push_back(std::chrono::duration<double>(t1 - t0).count());
    out.driver.push_back(std::chrono::duration<double>(t2 - t1).count());
    benchmark::DoNotOptimize(buffer);
    benchmark::DoNotOptimize(response);
  }
  d.done(&handle);
  ::close(bareFd);
}

void BM_Udp(benchmark::State& state) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(Echo->port());
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  Driver d("KNET1660");
  std::array<uintptr_t, 16> block{};
  block[0] = reinterpret_cast<uintptr_t>("127.0.0.1");
  block[1] = Echo->port();
  block[2] = 100;
  uint32_t handle = 0;
  const uint32_t s = reinterpret_cast<DriverInitBlockFn>(d.init)(&handle, block.data());
  Alternate(state, connected ? fd : -1, d, s, handle, UdpSamples);
}

void BM_Seqpacket(benchmark::State& state) {
  const int fd = simproto::ConnectEndpoint(Echo->path());
  ::setenv(simproto::EndpointEnv, Echo->path().c_str(), 1);
  Driver d("KSER660");
  uint32_t handle = 0;
  const uint32_t s = reinterpret_cast<DriverInitWordFn>(d.init)(&handle, 1);
  Alternate(state, fd, d, s, handle, SeqpacketSamples);
}

void Register() {
  benchmark::RegisterBenchmark("BM_Udp", BM_Udp)->MinTime(1.0)->UseRealTime();
  benchmark::RegisterBenchmark("BM_Seqpacket", BM_Seqpacket)->MinTime(1.0)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!PinToOneCpu()) {  // the responder, forked later, inherits it
    std::fprintf(stderr, "cannot pin the benchmark to one CPU\n");
    return 1;
  }
  Responder responder;
  Echo = &responder;
  Register();
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("medians of single round trips, each beside a bare one of the same frame:\n");
  bool met = PrintRatio("KNET1660.DLL exchange, UDP", UdpSamples.median(UdpSamples.driver),
                        UdpSamples.median(UdpSamples.bare), 1e6, "us", MaxRatio);
  met = PrintRatio("KSER660.DLL exchange, SEQPACKET", SeqpacketSamples.median(SeqpacketSamples.driver),
                   SeqpacketSamples.median(SeqpacketSamples.bare), 1e6, "us", MaxRatio) &&
        met;
  return Verdict(met);
}
