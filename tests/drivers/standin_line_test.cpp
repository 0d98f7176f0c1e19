// One program per line: while a handle holds a line, every other Init on it is refused with
// the holder's process id, in the tool's connection dialog and in the companion alike, until
// the holder lets go by Done or by ending, a crash included. The LAN converter is one line
// whatever address of this host names it; a lock file that is not the user's is never used.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "base/exchange/driver_loader.h"
#include "base/settings/tdata.h"
#include "connect/tform2.h"
#include "sim/sim_server.h"
#include "tests/sim/sim_line.h"
#include "tests/sim/standin_support.h"

namespace {

constexpr uint32_t LineBusy = 12;

// Another process holding one line, through the driver this process loaded before the fork,
// until it is told to let go (Done) or killed.
class Holder {
 public:
  using Init = std::function<uint32_t(StandinLib&, uint32_t*)>;
  Holder(StandinLib& lib, const Init& init) {
    if (::pipe(toChild_) != 0 || ::pipe(fromChild_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      uint32_t handle = 0;
      char c = init(lib, &handle) == 0 ? 'h' : 'f';
      Write(fromChild_[1], c);
      if (::read(toChild_[0], &c, 1) == 1) lib.done(&handle);
      Write(fromChild_[1], 'd');
      while (::read(toChild_[0], &c, 1) > 0) {
      }
      ::_exit(0);
    }
    char state = 0;
    held_ = ::read(fromChild_[0], &state, 1) == 1 && state == 'h';
  }
  ~Holder() {
    crash();
    for (int fd : {toChild_[0], toChild_[1], fromChild_[0], fromChild_[1]}) ::close(fd);
  }
  bool held() const { return held_; }
  pid_t pid() const { return pid_; }
  // Done in the holder; the holder process lives on.
  void release() {
    Write(toChild_[1], 'x');
    char c = 0;
    EXPECT_EQ(::read(fromChild_[0], &c, 1), 1);
  }
  void crash() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  static void Write(int fd, char c) { EXPECT_EQ(::write(fd, &c, 1), 1); }
  int toChild_[2] = {-1, -1};
  int fromChild_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool held_ = false;
};

class StandinLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    sim_ = StartLine(dir_, {{0, 4}}, 0);
    ASSERT_TRUE(sim_);
    ::setenv(simproto::EndpointEnv, sim_->localPath().c_str(), 1);
  }
  void TearDown() override { ::unsetenv(simproto::EndpointEnv); }
  uint32_t init(StandinLib& lib, uint32_t* handle) { return lib.init(handle, "127.0.0.1", sim_->udpPort()); }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
};

TEST_F(StandinLine, HeldUntilDoneOrTheHolderEnds) {
  for (int kind = 0; kind < 5; ++kind) {
    StandinLib lib(kind);
    for (bool crash : {false, true}) {
      SCOPED_TRACE(std::string(StandinPrefixes[kind]) + (crash ? ", holder killed" : ", holder calls Done"));
      Holder holder(lib, [this](StandinLib& l, uint32_t* h) { return init(l, h); });
      ASSERT_TRUE(holder.held());
      uint32_t handle = 0x77;
      EXPECT_EQ(init(lib, &handle), LineBusy);
      EXPECT_EQ(handle, 0x77u);
      EXPECT_EQ(lib.errorText(LineBusy), "Linka je obsazena jiným programem (PID " + std::to_string(holder.pid()) + ")");
      // Another line of the same kind is free.
      uint32_t other = 0;
      const uint32_t otherStatus = kind == 0   ? lib.initWord(&other, 2)
                                   : kind == 1 ? lib.initWord(&other, 0x310)
                                   : kind == 4 ? lib.init(&other, "127.0.0.1", uint16_t(sim_->udpPort() + 1))
                                               : 0;
      EXPECT_EQ(otherStatus, 0u);
      if (other) lib.done(&other);

      crash ? holder.crash() : holder.release();
      ASSERT_EQ(init(lib, &handle), 0u);
      EXPECT_EQ(lib.exchange(handle, {0, 200, 0, 0, 0, 0, 0, 0}).status, 0u);
      // A second handle of this same process is refused too, as a port would be.
      uint32_t second = 0x77;
      EXPECT_EQ(init(lib, &second), LineBusy);
      EXPECT_EQ(lib.errorText(LineBusy), "Linka je již otevřena tímto programem");
      EXPECT_EQ(lib.done(&handle), 0u);
      ASSERT_EQ(init(lib, &second), 0u);
      EXPECT_EQ(lib.done(&second), 0u);
    }
  }
}

// Every address of this host reaches the one converter listening at the port (a simulator
// bound to the wildcard answers at all of them, one bound to 127.0.0.1 at 0.0.0.0 too): held at
// one of them, the converter is held at all of them.
TEST_F(StandinLine, TheLanConverterIsHeldWhateverAddressOfThisHostNamesIt) {
  constexpr uint32_t BadIp = 7;
  StandinLib lan(4);
  const uint16_t port = sim_->udpPort();
  // 0.0.0.0 is the same converter as 127.0.0.1, not another one.
  {
    uint32_t h = 0;
    ASSERT_EQ(lan.init(&h, "0.0.0.0", port), 0u);
    EXPECT_EQ(lan.exchange(h, {0, 200, 0, 0, 0, 0, 0, 0}).status, 0u);
    EXPECT_EQ(lan.done(&h), 0u);
  }
  std::vector<std::string> thisHost = {"127.0.0.1", "0.0.0.0", "127.0.0.2", "127.255.0.9"};
  ifaddrs* list = nullptr;
  ASSERT_EQ(::getifaddrs(&list), 0);
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
    thisHost.push_back(text);
  }
  ::freeifaddrs(list);

  for (const std::string& held : {std::string("127.0.0.1"), std::string("0.0.0.0")}) {
    uint32_t holder = 0;
    ASSERT_EQ(lan.init(&holder, held.c_str(), port), 0u);
    for (const std::string& other : thisHost) {
      SCOPED_TRACE(held + " held, " + other + " asked for");
      uint32_t h = 0x77;
      EXPECT_EQ(lan.init(&h, other.c_str(), port), LineBusy);
      EXPECT_EQ(h, 0x77u);
      EXPECT_EQ(lan.errorText(LineBusy), "Linka je již otevřena tímto programem");
    }
    // A name is no address of a converter: refused before it could reach one.
    uint32_t h = 0x77;
    EXPECT_EQ(lan.init(&h, "localhost", port), BadIp);
    // The converter at another port is another line.
    ASSERT_EQ(lan.init(&h, "0.0.0.0", uint16_t(port + 1)), 0u);
    EXPECT_EQ(lan.done(&h), 0u);
    EXPECT_EQ(lan.done(&holder), 0u);
  }
}

// A lock file in the private folder that is not the user's own (only root or the folder's
// owner could have put it there) is never used, whatever its mode, and never removed: Init
// says which file and why, with status 13.
TEST_F(StandinLine, AnotherUsersLockFileIsRefusedAndLeftInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a file of another user takes root";
  constexpr uint32_t LockFailed = 13;
  constexpr uid_t OtherUser = 65534;
  QTemporaryDir runtime(QStringLiteral("/tmp/qXXXXXX"));  // short, so the text holds the whole path
  ASSERT_TRUE(runtime.isValid());
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedValue = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
  for (int kind = 0; kind < 5; ++kind) {
    SCOPED_TRACE(StandinPrefixes[kind]);
    StandinLib lib(kind);
    // The line's own lock file, as the driver names it: the one its hold makes.
    uint32_t h = 0;
    ASSERT_EQ(init(lib, &h), 0u);
    const QStringList locks = QDir(runtime.path()).entryList({"qx510-line-*.lock"}, QDir::Files);
    ASSERT_EQ(locks.size(), 1) << locks.join(' ').toStdString();
    const std::string path = runtime.filePath(locks[0]).toStdString();
    ASSERT_EQ(lib.done(&h), 0u);
    ASSERT_NE(::access(path.c_str(), F_OK), 0) << "Done left the lock file";

    std::ofstream(path) << "4242\n";
    ASSERT_EQ(::chown(path.c_str(), OtherUser, OtherUser), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    h = 0x77;
    EXPECT_EQ(init(lib, &h), LockFailed);
    EXPECT_EQ(h, 0x77u);
    EXPECT_EQ(lib.errorText(LockFailed), "Zámek linky patří jinému uživateli: " + path);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << "the other user's file was removed";
    EXPECT_EQ(st.st_uid, OtherUser);
    std::ifstream kept(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "4242\n") << "written into";

    // Once it is gone, the line is free again.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(init(lib, &h), 0u);
    EXPECT_EQ(lib.done(&h), 0u);
  }
  if (saved) {
    ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

// The reason of a refused lock reads whole within the Error entry's 99 characters however long
// the private folder's path: the path is shortened in its middle, keeping both its ends.
TEST_F(StandinLine, ALongLockPathIsShortenedInItsMiddle) {
  constexpr uint32_t LockFailed = 13;
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  const QString deep = runtime.filePath(QString(60, QChar('d')));
  ASSERT_TRUE(QDir().mkpath(deep));
  ASSERT_EQ(::chmod(deep.toLocal8Bit().constData(), 0700), 0);
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedValue = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", deep.toLocal8Bit().constData(), 1);
  StandinLib lib(0);
  uint32_t h = 0;
  ASSERT_EQ(init(lib, &h), 0u);
  const QStringList locks = QDir(deep).entryList({"qx510-line-*.lock"}, QDir::Files);
  ASSERT_EQ(locks.size(), 1);
  const std::string path = (deep + "/" + locks[0]).toStdString();
  ASSERT_EQ(lib.done(&h), 0u);
  // A FIFO where the lock file belongs: not a file of the user's to lock (and no wait on it).
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(init(lib, &h), LockFailed);
  const std::string text = lib.errorText(LockFailed);
  const std::string lead = "Zámek linky není obyčejný soubor: ";
  EXPECT_EQ(text.rfind(lead, 0), 0u) << text;
  EXPECT_EQ(QString::fromStdString(text).size(), 99) << text;
  EXPECT_EQ(text.substr(lead.size(), 20), path.substr(0, 20)) << text;
  EXPECT_EQ(text.substr(text.size() - 20), path.substr(path.size() - 20)) << text;
  EXPECT_NE(text.find("…"), std::string::npos) << text;
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was removed";
  if (saved) {
    ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

// The tool's connection dialog and the companion program, each refused while another
// process holds the serial port they ask for.
TEST_F(StandinLine, ToolAndCompanionSayWhoHoldsTheLine) {
  StandinLib lib(0);
  Holder holder(lib, [](StandinLib& l, uint32_t* h) { return l.initWord(h, 1); });
  ASSERT_TRUE(holder.held());
  const QString busy = QStringLiteral("Linka je obsazena jiným programem (PID %1)").arg(holder.pid());

  TData data{};
  InitData(&data);
  TForm2 dialog;
  dialog.setData(&data);
  dialog.FormShow();
  dialog.Button1Click();
  EXPECT_FALSE(data.Connected);
  EXPECT_EQ(dialog.findChild<QLabel*>("Panel1")->text(), TForm2::InitFailedText + busy);

  QProcess cli;
  cli.start(QStringLiteral(QX510_CLI_PATH), {"identify", "--interface", "serial", "--com-port", "1"});
  ASSERT_TRUE(cli.waitForFinished(30000));
  EXPECT_EQ(cli.exitCode(), 3);
  // The companion adds the connection it tried.
  const QString said = QString::fromUtf8(cli.readAllStandardError()).trimmed();
  EXPECT_TRUE(said.startsWith(TForm2::InitFailedText + busy + QStringLiteral(" (rozhraní serial COM1"))) << said.toStdString();
  EXPECT_EQ(cli.readAllStandardOutput(), QByteArray());

  holder.crash();
  dialog.Button1Click();
  EXPECT_TRUE(data.Connected);
  DriverDone(data.Interface, &data.DriverHandle);
}

}  // namespace
