// The simulator's server where it meets the machine: what lies at its endpoint, a state file
// it cannot write, many writes in a row, and running out of descriptors.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "sim/app/sim_window.h"
#include "sim/line/state_file.h"
#include "sim/sim_server.h"

namespace {

SimServerOptions Options(const QTemporaryDir& dir, const std::string& statePath = {}) {
  SimServerOptions o;
  o.wire = simline::Wire::Instant;  // measures no time
  o.udpPort = -1;
  o.localPath = dir.filePath("sim.sock").toStdString();
  o.statePath = statePath;
  return o;
}

// One request over an open local connection; the answer's status, or -1 without an answer.
int Ask(int fd, uint8_t command, std::array<uint8_t, 5> data = {}) {
  simproto::Request r;
  r.seq = 7;
  r.rate = 9600;
  r.command = command;
  r.data = data;
  const auto frame = simproto::EncodeRequest(r);
  if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size())) return -1;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 5000) != 1) return -1;
  uint8_t buffer[64];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  const auto answer = simproto::DecodeAnswer(buffer, n > 0 ? size_t(n) : 0);
  return answer ? answer->status : -1;
}

uint8_t StoredByte(const std::string& path, int address) {
  std::vector<SimModule::Memory> line;
  EXPECT_EQ(LoadSimState(path, line), SimStateLoad::Loaded);
  return line.empty() ? 0 : line[0][size_t(address)];
}

TEST(SimServerStart, LeavesWhatIsNotItsOwnAtTheEndpointAndTheStatePath) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string endpoint = dir.filePath("sim.sock").toStdString();
  const std::string blocker = dir.filePath("blocker").toStdString();  // a file where a folder must be
  std::ofstream(blocker) << "keep me";

  struct Case {
    const char* name;
    std::function<void()> prepare;  // what lies at the endpoint path
    std::string statePath;
    bool starts;
  };
  const Case cases[] = {
      {"regular file at the endpoint", [&] { std::ofstream(endpoint) << "keep me"; }, "", false},
      {"symbolic link at the endpoint", [&] { ASSERT_EQ(::symlink(blocker.c_str(), endpoint.c_str()), 0); }, "", false},
      {"directory at the endpoint", [&] { ASSERT_TRUE(QDir().mkpath(QString::fromStdString(endpoint))); }, "", false},
      {"socket nobody listens on",
       [&] {
         const int s = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
         sockaddr_un a{};
         a.sun_family = AF_UNIX;
         std::strcpy(a.sun_path, endpoint.c_str());
         ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
         ::close(s);
       },
       "", true},
      {"state folder cannot be created", [] {}, blocker + "/module.state", false},
      {"state path is a device", [] {}, "/dev/null", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(QString::fromStdString(endpoint)).removeRecursively();
    ::unlink(endpoint.c_str());
    c.prepare();
    struct stat before {};
    const bool existed = ::lstat(endpoint.c_str(), &before) == 0;
    std::string error;
    {
      SimServer sim(Options(dir, c.statePath));
      EXPECT_EQ(sim.start(&error), c.starts) << error;
      if (!c.starts) {
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
      }
    }
    struct stat after {};
    if (existed && !c.starts) {
      ASSERT_EQ(::lstat(endpoint.c_str(), &after), 0) << "removed";
      EXPECT_EQ(after.st_ino, before.st_ino);
    }
    std::ifstream kept(blocker);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
  }
}

// A failed store is reported every time until one succeeds again; the window shows it.
TEST(SimServerStore, FailuresAreReportedUntilAStoreSucceeds) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.filePath("state");
  const std::string path = (folder + "/module.state").toStdString();
  SimServerOptions o = Options(dir, path);
  std::atomic<int> failures{0};
  o.onStoreFailure = [&](const std::string& why) {
    EXPECT_FALSE(why.empty());
    ++failures;
  };
  SimServer sim(o);
  ASSERT_TRUE(sim.start());
  SimWindow panel(&sim, "127.0.0.1", path);
  auto* label = panel.findChild<QLabel*>("StoreErrorLabel");
  ASSERT_NE(label, nullptr);

  // The folder turns into a file: nothing can be stored there any more.
  ASSERT_TRUE(QDir().rename(folder, folder + ".away"));
  ASSERT_TRUE(QFile(folder).open(QIODevice::WriteOnly));
  for (uint8_t value : {1, 2}) {
    const int before = failures;
    sim.withModule([&](SimModule& m) { m.setConfigByte(40, value); });
    sim.powerCycle();
    EXPECT_GT(failures.load(), before) << int(value);
    EXPECT_FALSE(sim.storeError().empty());
    panel.refresh();
    EXPECT_TRUE(label->isVisibleTo(&panel));
    EXPECT_TRUE(label->text().contains(QString::fromStdString(sim.storeError())));
  }
  if (const char* shots = std::getenv("QX510_SCREENSHOT_DIR")) {
    panel.resize(panel.sizeHint());
    panel.grab().save(QDir(shots).filePath("qx510-sim-store-error.png"));
  }

  ASSERT_TRUE(QFile::remove(folder));
  ASSERT_TRUE(QDir().rename(folder + ".away", folder));
  sim.powerCycle();
  EXPECT_TRUE(sim.storeError().empty());
  EXPECT_EQ(StoredByte(path, 40), 2);
  panel.refresh();
  EXPECT_FALSE(label->isVisibleTo(&panel));
}

// Many writes in a row are stored a few times, not once each; the last one always lands.
TEST(SimServerStore, WritesAreCoalescedAndTheLastOneIsKept) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("module.state").toStdString();
  constexpr int Writes = 1000;
  {
    SimServer sim(Options(dir, path));
    ASSERT_TRUE(sim.start());
    const int fd = simproto::ConnectEndpoint(sim.localPath());
    ASSERT_GE(fd, 0);
    for (int i = 1; i <= Writes; ++i) {
      const uint8_t v = uint8_t(i);
      ASSERT_EQ(Ask(fd, 103, {0, 40, 40, v, v}), 0);
    }
    ::close(fd);
    EXPECT_LT(sim.storeCount(), uint64_t(Writes / 10));

    // A power cycle stores at once, without waiting for the interval.
    sim.withModule([](SimModule& m) { m.setConfigByte(41, 0x77); });
    sim.powerCycle();
    EXPECT_EQ(StoredByte(path, 41), 0x77);
    sim.withModule([](SimModule& m) { m.setConfigByte(42, 0x55); });
  }
  EXPECT_EQ(StoredByte(path, 40), uint8_t(Writes));
  EXPECT_EQ(StoredByte(path, 42), 0x55);  // stored on the way out
}

// Out of descriptors, the listener stays readable: the server must neither spin on it nor
// drop the clients it already serves, and it takes the waiting client once it can.
TEST(SimServerAccept, OutOfDescriptorsCostsNoBusyLoop) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  SimServer sim(Options(dir));
  ASSERT_TRUE(sim.start());
  const int served = simproto::ConnectEndpoint(sim.localPath());
  ASSERT_GE(served, 0);
  ASSERT_EQ(Ask(served, 200), 0);
  const int waiting = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  ASSERT_GE(waiting, 0);

  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowestFree = ::dup(0);
  ::close(lowestFree);
  rlimit full = saved;
  full.rlim_cur = rlim_t(lowestFree);  // every further descriptor fails with EMFILE
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &full), 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, sim.localPath().c_str());
  const int connected = ::connect(waiting, reinterpret_cast<sockaddr*>(&a), sizeof a);
  const uint64_t roundsBefore = sim.loopRounds();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const uint64_t rounds = sim.loopRounds() - roundsBefore;
  const int answeredMeanwhile = Ask(served, 200);
  ::setrlimit(RLIMIT_NOFILE, &saved);

  ASSERT_EQ(connected, 0);
  EXPECT_LT(rounds, 100u) << "the server polls a listener it cannot accept from in a tight loop";
  EXPECT_EQ(answeredMeanwhile, 0);
  EXPECT_EQ(Ask(waiting, 200), 0);
  ::close(waiting);
  ::close(served);
}

// A record of no bytes from a client is an unreadable request, counted as one, and the client
// stays connected: only the end of the connection ends it.
TEST(SimServerFrames, AnEmptyRecordIsUnreadableNotAHangUp) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  SimServer sim(Options(dir));
  ASSERT_TRUE(sim.start());
  const int fd = simproto::ConnectEndpoint(sim.localPath());
  ASSERT_GE(fd, 0);
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(::send(fd, "", 0, MSG_NOSIGNAL), 0);
    EXPECT_EQ(Ask(fd, 200), 0) << "the client was dropped";
    EXPECT_EQ(sim.malformedCount(), uint64_t(round));
  }
  ::close(fd);
}

}  // namespace

namespace {

SimModule::Memory ModuleAt(uint8_t address, uint8_t baudCode, uint8_t marker) {
  SimModule::Memory m = SimModule::FactoryMemory();
  m[63] = address;
  m[62] = baudCode;
  m[40] = marker;
  return m;
}

// Two modules set up alike are a legal saved line: it comes back whole, and nothing the
// simulator does before it has the line (a start that fails) replaces the file.
TEST(SimServerState, ASavedLineComesBackWhole) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("module.state").toStdString();
  const std::vector<SimModule::Memory> line = {ModuleAt(0, 4, 1), ModuleAt(0, 4, 2), ModuleAt(5, 7, 3)};
  ASSERT_TRUE(SaveSimState(path, line));
  {
    SimServer sim(Options(dir, path));
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    EXPECT_EQ(sim.stateWarning(), "");
    EXPECT_EQ(sim.busSnapshot().memories(), line);
    // A second simulator on the same endpoint, with a line of its own, cannot start and
    // must not store its line over the first one's file.
    SimServerOptions other = Options(dir, path);
    other.modules = {{9, 4}};
    SimServer refused(other);
    EXPECT_FALSE(refused.start(&error));
  }
  std::vector<SimModule::Memory> stored;
  ASSERT_EQ(LoadSimState(path, stored), SimStateLoad::Loaded);
  EXPECT_EQ(stored, line);

  // A file that cannot be read as a line is kept aside, never stored over.
  std::string truncated;
  {
    std::ifstream in(path);
    truncated.assign(std::istreambuf_iterator<char>(in), {});
  }
  truncated.resize(truncated.size() - 40);
  std::ofstream(path, std::ios::trunc) << truncated;
  {
    SimServer sim(Options(dir, path));
    ASSERT_TRUE(sim.start());
    EXPECT_NE(sim.stateWarning(), "");
    sim.withModule([](SimModule& m) { m.setConfigByte(40, 7); });
    sim.powerCycle();
  }
  std::ifstream aside(path + ".invalid");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), truncated);
  EXPECT_EQ(StoredByte(path, 40), 7);

  // Typed in by hand, two modules alike start too, the one saved memory given to one of them.
  SimServerOptions typed = Options(dir, path);
  typed.modules = {{0, 4}, {0, 4}};
  SimServer sim(typed);
  ASSERT_TRUE(sim.start());
  EXPECT_EQ(sim.snapshot(0).configByte(40), 7);
  EXPECT_EQ(sim.snapshot(1).configByte(40), 0);
}

// The temporary file of a store: never one somebody made first, and the state file keeps its
// owner and mode; those a killed store left behind are cleared at start, others' are not.
TEST(SimServerState, TemporaryFilesAreTheSimulatorsOwn) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("module.state").toStdString();
  ASSERT_TRUE(SaveSimState(path, {ModuleAt(0, 4, 1)}));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  const std::string stale = path + ".tmp-AbCdEfGh1234";
  std::ofstream(stale) << "left by a kill";
  const std::string unrelated = dir.filePath("module.state.tmp-notes.txt").toStdString();
  const std::string planted = path + ".tmp" + std::to_string(::getpid());
  std::ofstream(unrelated) << "keep me";

  {
    SimServer sim(Options(dir, path));
    ASSERT_TRUE(sim.start());
    EXPECT_NE(::access(stale.c_str(), F_OK), 0) << "a stale temporary file was left";
    // The name an earlier version chose, made by somebody else while the simulator runs.
    std::ofstream(planted) << "planted";
    ASSERT_EQ(::chmod(planted.c_str(), 0666), 0);
    if (root) {
      ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    }
    sim.withModule([](SimModule& m) { m.setConfigByte(40, 9); });
    sim.powerCycle();
    ASSERT_EQ(sim.storeError(), "");
  }
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, ::geteuid());
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(StoredByte(path, 40), 9);
  EXPECT_EQ(::access(unrelated.c_str(), F_OK), 0);
  if (root) {
    EXPECT_EQ(::access(planted.c_str(), F_OK), 0) << "another user's file was removed";
  }
  const QStringList left = QDir(dir.path()).entryList({"module.state.tmp-*"}, QDir::Files);
  EXPECT_EQ(left, QStringList{"module.state.tmp-notes.txt"});
}

}  // namespace

namespace {

// Another process holding a state file, as a simulator does, until it is killed.
class StateHolder {
 public:
  StateHolder(const std::string& path, const std::string& endpoint) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      SimStateHold hold;
      const char c = HoldSimState(path, endpoint, &hold) ? 'h' : 'f';
      [[maybe_unused]] auto n = ::write(ready[1], &c, 1);
      for (;;) ::pause();
    }
    char c = 0;
    held_ = ::read(ready[0], &c, 1) == 1 && c == 'h';
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~StateHolder() { kill(); }
  bool held() const { return held_; }
  pid_t pid() const { return pid_; }
  void kill() {  // as a crash ends a simulator: nothing let go by hand
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

// Two simulators never store into one state file, whatever their endpoints: the second is
// refused before it reads or writes anything of it, and told which simulator holds it. The
// hold dies with its holder, so the lock file a killed simulator left blocks nobody.
TEST(SimServerState, OneSimulatorPerStateFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("state/module.state").toStdString();
  const std::vector<SimModule::Memory> line = {ModuleAt(0, 4, 1)};
  ASSERT_TRUE(SaveSimState(path, line));
  const std::string firstEndpoint = dir.filePath("first.sock").toStdString();

  {
    SimServerOptions first = Options(dir, path);
    first.localPath = firstEndpoint;
    SimServer holder(first);
    std::string error;
    ASSERT_TRUE(holder.start(&error)) << error;
    SimServerOptions second = Options(dir, path);
    second.localPath = dir.filePath("second.sock").toStdString();
    second.modules = {{9, 4}};  // a line of its own, which it would store at once
    SimServer refused(second);
    EXPECT_FALSE(refused.start(&error));
    EXPECT_NE(error.find("už používá jiný simulátor (PID " + std::to_string(::getpid()) + ", endpoint " + firstEndpoint + ")"),
              std::string::npos)
        << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_FALSE(refused.running());
    EXPECT_NE(::access(second.localPath.c_str(), F_OK), 0) << "the refused one opened its endpoint";
    // The holder stores on as before.
    holder.withModule([](SimModule& m) { m.setConfigByte(40, 0x21); });
    holder.powerCycle();
    EXPECT_EQ(StoredByte(path, 40), 0x21);
    EXPECT_EQ(StoredByte(path, 63), 0) << "the refused one's line was stored";
  }
  // Let go at the holder's stop, lock file and all.
  EXPECT_NE(::access((path + ".lock").c_str(), F_OK), 0);

  // Held by another process, which is then killed.
  StateHolder other(path, "/elsewhere/sim.sock");
  ASSERT_TRUE(other.held());
  {
    SimServer refused(Options(dir, path));
    std::string error;
    EXPECT_FALSE(refused.start(&error));
    EXPECT_NE(error.find("(PID " + std::to_string(other.pid()) + ", endpoint /elsewhere/sim.sock)"), std::string::npos)
        << error;
  }
  other.kill();
  ASSERT_EQ(::access((path + ".lock").c_str(), F_OK), 0) << "the killed holder's lock file should still lie there";
  {
    SimServer sim(Options(dir, path));
    std::string error;
    EXPECT_TRUE(sim.start(&error)) << error;
  }
  // A lock file a dead simulator left, never locked by anybody now, blocks nobody either.
  std::ofstream(path + ".lock") << "999999999\n/gone/sim.sock\n";
  SimServer sim(Options(dir, path));
  std::string error;
  EXPECT_TRUE(sim.start(&error)) << error;
}

}  // namespace
