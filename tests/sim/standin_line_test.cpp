// One program per line: while a handle holds a line, every other Init on it is refused with
// the holder's process id, in the tool's connection dialog and in the companion alike, until
// the holder lets go by Done or by ending, a crash included.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "base/driver_loader.h"
#include "base/tdata.h"
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
