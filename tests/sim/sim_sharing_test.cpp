// The simulator on a machine shared with other users and other programs: its sockets are the
// user's alone, another user's simulator is never talked to nor can it be controlled, a
// stalled simulator holds nobody up, and the control channel cannot be crowded out.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <memory>
#include <optional>
#include <vector>

#include "sim/control/sim_control.h"
#include "sim/sim_server.h"
#include "sim/transport/local_socket.h"
#include "tests/sim/standin_support.h"

namespace {

constexpr uid_t OtherUser = 65534;

SimServerOptions Options(const QTemporaryDir& dir) {
  SimServerOptions o;
  o.wire = simline::Wire::Instant;  // measures no time
  o.udpPort = -1;
  o.localPath = dir.filePath("sim.sock").toStdString();
  return o;
}

QJsonObject Json(const std::string& line) { return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object(); }

// A plain connection without any check of who listens, as another program would make it.
int RawConnect(const std::string& path, int type) {
  const int s = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, path.c_str());
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

// The next line the peer sends; empty when it closes the connection first (or after 10 s,
// a guard against a hang only).
std::string ReadLine(int fd) {
  std::string in;
  char c = 0;
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 10000) == 1 && ::recv(fd, &c, 1, 0) == 1 && c != '\n') in += c;
  return in;
}

std::string RawRequest(const std::string& path, const std::string& line) {
  const int s = RawConnect(path, SOCK_STREAM);
  if (s < 0) return {};
  [[maybe_unused]] auto n = ::send(s, (line + "\n").data(), line.size() + 1, MSG_NOSIGNAL);
  const std::string reply = ReadLine(s);
  ::close(s);
  return reply;
}

// Runs body in a child process as another user; the child lives until the object goes.
// Empty when this machine cannot switch users (not root).
class AsOtherUser {
 public:
  static std::unique_ptr<AsOtherUser> Start(const QTemporaryDir& dir, std::function<bool()> body) {
    if (::geteuid() != 0) return nullptr;
    if (::chown(dir.path().toLocal8Bit().constData(), OtherUser, OtherUser) != 0) return nullptr;
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) return nullptr;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      if (::setgid(OtherUser) != 0 || ::setuid(OtherUser) != 0 || !body()) ::_exit(3);
      const char byte = 1;
      [[maybe_unused]] auto n = ::write(ready[1], &byte, 1);
      char end = 0;
      [[maybe_unused]] auto m = ::read(release[0], &end, 1);  // until the parent closes it
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    auto child = std::unique_ptr<AsOtherUser>(new AsOtherUser(pid, release[1]));
    char byte = 0;
    const bool up = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return up ? std::move(child) : nullptr;
  }
  ~AsOtherUser() {
    ::close(release_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }

 private:
  AsOtherUser(pid_t pid, int release) : pid_(pid), release_(release) {}
  pid_t pid_;
  int release_;
};

// Listens on both sockets of a simulator at endpoint, as somebody else's program would.
bool ListenAsImpostor(const std::string& endpoint) {
  for (const auto& [path, type] : {std::pair{endpoint, SOCK_SEQPACKET}, std::pair{endpoint + ".ctl", SOCK_STREAM}}) {
    const int s = ::socket(AF_UNIX, type, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0) return false;
    ::chmod(path.c_str(), 0777);
  }
  return true;
}

// A listener whose backlog is full and which never accepts: a simulator that stalled.
struct StalledListener {
  int fd = -1;
  std::vector<int> queued;
  StalledListener(const std::string& path, int type) {
    fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd, 0), 0);
    for (int i = 0; i < 64; ++i) {
      const int c = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(c);
        break;
      }
      queued.push_back(c);
    }
  }
  ~StalledListener() {
    for (int c : queued) ::close(c);
    ::close(fd);
  }
};

// The default endpoint goes only into a folder of the user's own that nobody else may enter.
TEST(SimSharing, DefaultEndpointOnlyInAPrivateFolder) {
  QTemporaryDir dir;
  const std::string base = dir.path().toStdString();
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    bool used;
  };
  const Case cases[] = {
      {"private folder", [](const std::string& p) { ::mkdir(p.c_str(), 0700); }, true},
      {"open to others",
       [](const std::string& p) {
         ::mkdir(p.c_str(), 0700);
         ::chmod(p.c_str(), 0755);
       },
       false},
      {"a link to a private folder",
       [&](const std::string& p) {
         ::mkdir((p + ".real").c_str(), 0700);
         [[maybe_unused]] int r = ::symlink((p + ".real").c_str(), p.c_str());
       },
       false},
      {"a file", [](const std::string& p) { ::close(::open(p.c_str(), O_CREAT | O_WRONLY, 0600)); }, false},
      {"another user's folder",
       [&](const std::string& p) {
         ::mkdir(p.c_str(), 0700);
         if (root) [[maybe_unused]] int r = ::chown(p.c_str(), OtherUser, OtherUser);
       },
       !root},
  };
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedValue = saved ? saved : "";
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = base + "/run" + std::to_string(i++);
    c.make(folder);
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    const std::string endpoint = simproto::DefaultEndpointPath();
    EXPECT_EQ(endpoint.rfind(folder + "/", 0) == 0, c.used) << endpoint;
  }
  if (saved) {
    ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

TEST(SimSharing, SocketsAreTheUsersAloneWhateverTheUmask) {
  for (const mode_t umask : {mode_t(0), mode_t(022), mode_t(0277)}) {
    SCOPED_TRACE(umask);
    QTemporaryDir dir;
    const mode_t saved = ::umask(umask);
    SimServer sim(Options(dir));
    const bool started = sim.start();
    ::umask(saved);
    ASSERT_TRUE(started);
    for (const std::string& path : {sim.localPath(), sim.controlPath()}) {
      struct stat st {};
      ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
      EXPECT_EQ(st.st_mode & 07777, 0600u) << path;
    }
    std::string reply, error;
    EXPECT_TRUE(SimControlRequest(sim.controlPath(), R"({"cmd":"list"})", &reply, &error)) << error;
  }
}

// Another user's program at the endpoint, there first: nothing of it is used, and the
// user's own simulator refuses to start instead of removing it.
TEST(SimSharing, AnotherUsersSimulatorIsNeverUsed) {
  QTemporaryDir dir;
  const std::string endpoint = dir.filePath("sim.sock").toStdString();
  auto impostor = AsOtherUser::Start(dir, [&] { return ListenAsImpostor(endpoint); });
  if (!impostor) {
    ASSERT_NE(::geteuid(), 0u) << "the impostor did not start as another user";
    // No second user here: a listener of our own, taken for somebody else's.
    ASSERT_TRUE(ListenAsImpostor(endpoint));
    EXPECT_EQ(simproto::ConnectEndpoint(endpoint, SimWaitMs, ::geteuid() + 1), simproto::ForeignPeer);
    GTEST_SKIP() << "cannot run a process as another user here";
  }
  EXPECT_EQ(simproto::ConnectEndpoint(endpoint, SimWaitMs), simproto::ForeignPeer);

  ::setenv(simproto::EndpointEnv, endpoint.c_str(), 1);
  StandinLib serial(0);
  uint32_t handle = 0;
  const uint32_t status = serial.init(&handle);
  ::unsetenv(simproto::EndpointEnv);
  EXPECT_EQ(status, 11u);
  EXPECT_NE(serial.errorText(status).find("jiným uživatelem"), std::string::npos) << serial.errorText(status);

  std::string reply, error;
  EXPECT_FALSE(SimControlRequest(endpoint + ".ctl", R"({"cmd":"list"})", &reply, &error));
  EXPECT_NE(error.find("jiným uživatelem"), std::string::npos) << error;

  SimServer sim(Options(dir));
  EXPECT_FALSE(sim.start(&error));
  struct stat st {};
  EXPECT_EQ(::lstat(endpoint.c_str(), &st), 0) << "the other user's socket was removed";
}

TEST(SimSharing, ControlRequestsOfAnotherUserAreRefused) {
  struct Case {
    const char* name;
    bool secondUser;  // else the server is told to serve another user than this one
  };
  for (const Case c : {Case{"peer check made to differ", false}, Case{"a second user's simulator", true}}) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    SimServerOptions o = Options(dir);
    std::unique_ptr<SimServer> sim;
    std::unique_ptr<AsOtherUser> child;
    if (c.secondUser) {
      child = AsOtherUser::Start(dir, [&] {
        sim = std::make_unique<SimServer>(o);
        return sim->start();
      });
      if (!child) {
        EXPECT_NE(::geteuid(), 0u) << "the simulator did not start as another user";
        continue;  // no second user on this machine
      }
    } else {
      o.controlLimits.user = long(::geteuid()) + 1;
      sim = std::make_unique<SimServer>(o);
      ASSERT_TRUE(sim->start());
    }
    const QJsonObject reply = Json(RawRequest(o.localPath + ".ctl", R"({"cmd":"remove","module":0})"));
    EXPECT_FALSE(reply["ok"].toBool(true));
    EXPECT_TRUE(reply["error"].toString().contains(QStringLiteral("jiného uživatele"))) << reply["error"].toString().toStdString();
    if (!c.secondUser) {
      EXPECT_EQ(sim->moduleCount(), 1);
    }
  }
}

// Nothing of the simulator's own waits for good on a simulator that accepts no connection.
TEST(SimSharing, AStalledSimulatorHoldsNobodyUp) {
  QTemporaryDir dir;
  const std::string endpoint = dir.filePath("sim.sock").toStdString();
  StalledListener exchanges(endpoint, SOCK_SEQPACKET);
  StalledListener control(endpoint + ".ctl", SOCK_STREAM);
  ASSERT_FALSE(exchanges.queued.empty());

  std::string reply, error;
  EXPECT_FALSE(SimControlRequest(endpoint + ".ctl", R"({"cmd":"list"})", &reply, &error, 200));
  EXPECT_FALSE(error.empty());
  SimServer sim(Options(dir));
  EXPECT_FALSE(sim.start(&error));
  EXPECT_NE(error.find("nepřijímá spojení"), std::string::npos) << error;
  struct stat st {};
  EXPECT_EQ(::lstat(endpoint.c_str(), &st), 0) << "a live simulator's socket was taken over";

  // The program: 2 from a probe and a command that could not be answered, 1 from a start.
  const QString program = QCoreApplication::applicationDirPath() + "/qx510-sim";
  const QString at = QString::fromStdString(endpoint);
  const struct {
    QStringList arguments;
    int exitCode;
  } runs[] = {
      {{"--probe", "--endpoint", at}, 2},
      {{"ctl", "--endpoint", at, "list"}, 2},
      {{"--headless", "--no-state", "--port", "0", "--endpoint", at}, 1},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.arguments.join(' ').toStdString());
    QProcess p;
    p.start(program, run.arguments);
    ASSERT_TRUE(p.waitForFinished(60000)) << "hangs";  // a guard against a hang only
    EXPECT_EQ(p.exitCode(), run.exitCode);
    EXPECT_EQ(p.readAllStandardError().count('\n'), 1);
  }
}

// `--probe` answers 0 only after a simulator has answered it: a connection alone is no answer,
// for the kernel takes one into a listener's backlog whether or not anybody ever reads it.
TEST(SimSharing, ProbeAnswersZeroOnlyForASimulatorThatAnswers) {
  using Clock = std::chrono::steady_clock;
  struct Case {
    const char* name;
    int exitCode;
  };
  const Case cases[] = {{"nothing at the endpoint", 1},
                        {"a simulator", 0},
                        {"a listener that never accepts", 2},
                        {"a listener that accepts and never answers", 2},
                        {"a listener that sends its request back", 2},
                        {"a listener that hangs up at once", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const std::string endpoint = dir.filePath("sim.sock").toStdString();
    std::unique_ptr<SimServer> sim;
    int listener = -1;
    std::atomic<bool> stop{false};
    std::thread peer;
    if (c.exitCode == 0) {
      sim = std::make_unique<SimServer>(Options(dir));
      ASSERT_TRUE(sim->start());
    } else if (c.exitCode == 2) {
      listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      std::strcpy(a.sun_path, endpoint.c_str());
      ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
      ASSERT_EQ(::listen(listener, 16), 0);
      const std::string name = c.name;
      if (name != "a listener that never accepts") {
        peer = std::thread([&, name] {
          std::vector<int> accepted;
          while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 10) == 1) accepted.push_back(::accept(listener, nullptr, nullptr));
            for (int fd : accepted) {
              if (name == "a listener that hangs up at once") {
                ::close(fd);
                continue;
              }
              uint8_t buffer[64];
              const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
              if (n > 0 && name == "a listener that sends its request back") ::send(fd, buffer, size_t(n), MSG_NOSIGNAL);
            }
            if (name == "a listener that hangs up at once") accepted.clear();
          }
          for (int fd : accepted) ::close(fd);
        });
      }
    }
    QProcess p;
    const auto start = Clock::now();
    p.start(QCoreApplication::applicationDirPath() + "/qx510-sim", {"--probe", "--endpoint", QString::fromStdString(endpoint)});
    ASSERT_TRUE(p.waitForFinished(60000)) << "hangs";  // a guard against a hang only
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(p.exitCode(), c.exitCode);
    EXPECT_EQ(p.readAllStandardError().count('\n'), c.exitCode == 2 ? 1 : 0);
    stop = true;
    if (peer.joinable()) peer.join();
    if (listener >= 0) ::close(listener);
    if (sim) {
      EXPECT_EQ(sim->requestCount(), 0u) << "a probe is no request of the line";
      EXPECT_EQ(sim->malformedCount(), 0u);
    }
  }
}

// At most so many control clients at once and none idle for ever; the exchanges go on
// whatever the control clients do.
TEST(SimSharing, ControlClientsCannotCrowdOutTheLine) {
  QTemporaryDir dir;
  SimServerOptions o = Options(dir);
  SimServer sim(o);
  ASSERT_TRUE(sim.start());
  const SimControlLimits limits;
  std::vector<int> held;
  for (int i = 0; i < limits.maxClients; ++i) {
    const int s = RawConnect(sim.controlPath(), SOCK_STREAM);
    ASSERT_GE(s, 0);
    held.push_back(s);
  }
  // Each of them is served...
  const std::string list = "{\"cmd\":\"list\"}\n";
  for (int s : held) ASSERT_EQ(::send(s, list.data(), list.size(), MSG_NOSIGNAL), ssize_t(list.size()));
  for (int s : held) EXPECT_TRUE(Json(ReadLine(s))["ok"].toBool());
  // ...one more gets an error line and is closed.
  const int extra = RawConnect(sim.controlPath(), SOCK_STREAM);
  ASSERT_GE(extra, 0);
  EXPECT_FALSE(Json(ReadLine(extra))["ok"].toBool(true));
  EXPECT_EQ(ReadLine(extra), "");
  ::close(extra);

  const int line = simproto::ConnectEndpoint(sim.localPath(), SimWaitMs);
  ASSERT_GE(line, 0);
  simproto::Request r;
  r.rate = 9600;
  r.command = 200;
  const auto frame = simproto::EncodeRequest(r);
  ASSERT_EQ(::send(line, frame.data(), frame.size(), MSG_NOSIGNAL), ssize_t(frame.size()));
  pollfd p{line, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 10000), 1) << "no answer on the line while the control channel is full";
  ::close(line);
  for (int s : held) ::close(s);
}

TEST(SimSharing, AnIdleControlClientIsDropped) {
  QTemporaryDir dir;
  SimServerOptions o = Options(dir);
  o.controlLimits.idle = std::chrono::milliseconds(100);
  SimServer sim(o);
  ASSERT_TRUE(sim.start());
  const int silent = RawConnect(sim.controlPath(), SOCK_STREAM);
  const int halfLine = RawConnect(sim.controlPath(), SOCK_STREAM);
  ASSERT_GE(silent, 0);
  ASSERT_GE(halfLine, 0);
  ::send(halfLine, "{\"cmd\":", 7, MSG_NOSIGNAL);  // a request begun is no request received
  EXPECT_EQ(ReadLine(silent), "");  // closed by the simulator, not by the 10 s guard
  EXPECT_EQ(ReadLine(halfLine), "");
  pollfd p[2] = {{silent, POLLIN, 0}, {halfLine, POLLIN, 0}};
  ASSERT_EQ(::poll(p, 2, 0), 2);
  char byte = 0;
  EXPECT_EQ(::recv(silent, &byte, 1, MSG_DONTWAIT), 0) << "still open";
  EXPECT_EQ(::recv(halfLine, &byte, 1, MSG_DONTWAIT), 0) << "still open";
  ::close(silent);
  ::close(halfLine);
}

}  // namespace
