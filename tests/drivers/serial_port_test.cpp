// The serial port's and the USB converter's stand-ins on a real tty: the user's mapping file
// points the port at the slave of a pseudo-terminal, and the test plays the module on its
// master side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/wire/port_map.h"
#include "sim/serial_frame.h"
#include "tests/sim/standin_support.h"

namespace {

constexpr int SerialKind = 0, UsbKind = 3;
enum : uint32_t {
  Ok = 0, NotRunning = 1, Timeout = 2, Damaged = 9, LineBusy = 12, Late = 15,
  DeviceMissing = 16, DeviceDenied = 17, DeviceBusy = 18, NotATty = 19, DeviceLost = 24, BadPortMap = 27,
};

constexpr std::array<uint32_t, 8> Request(uint8_t address = 5, uint8_t command = 100) {
  return {address, command, 0, 9, 8, 7, 6, 5};
}
constexpr std::array<uint8_t, 5> AnswerData{1, 2, 3, 4, 5};

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The module on the master side of a pseudo-terminal: a thread that reads the requests and
// hands each to the test's script, which answers on the wire as it likes.
class PtyModule {
 public:
  using Frame = serialframe::RequestFrame;
  using Script = std::function<void(PtyModule&, const Frame&)>;

  PtyModule() {
    char name[64] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    slavePath_ = name;
  }
  ~PtyModule() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) ::close(master_);
    ::close(slave_);
  }

  void run(Script script) {
    script_ = std::move(script);
    thread_ = std::thread([this] { loop(); });
  }

  const std::string& slavePath() const { return slavePath_; }
  int slaveFd() const { return slave_; }
  termios slaveSettings() const {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
  }
  // What the line ran at when each request came.
  std::vector<speed_t> speeds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return speeds_;
  }

  void write(const uint8_t* bytes, size_t n) { (void)!::write(master_, bytes, n); }
  template <size_t N>
  void write(const std::array<uint8_t, N>& f) { write(f.data(), f.size()); }
  // The answer to `request` as a module gives it, with its own data and, where asked, another
  // address or tag.
  static serialframe::AnswerFrame AnswerTo(const Frame& request, std::array<uint8_t, 5> data = AnswerData,
                                           int address = -1, int tag = -1) {
    const auto r = *serialframe::DecodeRequest(request.data(), request.size());
    serialframe::WireAnswer a{r.tag, r.address, r.command, r.index, 0, data};
    if (address >= 0) a.address = uint8_t(address);
    if (tag >= 0) a.tag = uint8_t(tag);
    return serialframe::EncodeAnswer(a);
  }
  void answer(const Frame& request) {
    wireDelay();
    write(AnswerTo(request));
  }
  // As long as a request, the silence after it and the answer take at the line's rate: a
  // module on a wire is heard no sooner.
  void wireDelay() const {
    const termios line = slaveSettings();
    static constexpr std::pair<speed_t, int32_t> Rates[] = {
        {B600, 600},     {B1200, 1200},   {B2400, 2400},     {B4800, 4800},    {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600},   {B115200, 115200}, {B921600, 921600}};
    int32_t rate = 9600;
    for (const auto& [speed, r] : Rates)
      if (speed == ::cfgetospeed(&line)) rate = r;
    std::this_thread::sleep_for(wire::RequestTime(rate) + wire::InterFrameSilence(rate) + wire::AnswerFrameTime(rate));
  }
  // The adapter is unplugged: the tty hangs up.
  void unplug() {
    ::close(master_);
    master_ = -1;
    stop_ = true;
  }

 private:
  void loop() {
    Frame request{};
    size_t have = 0;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      const ssize_t n = ::read(master_, request.data() + have, request.size() - have);
      if (n <= 0) continue;
      have += size_t(n);
      if (have < request.size()) continue;
      have = 0;
      {
        const termios line = slaveSettings();
        std::lock_guard<std::mutex> lock(mutex_);
        speeds_.push_back(::cfgetospeed(&line));
      }
      script_(*this, request);
    }
  }

  int master_ = -1, slave_ = -1;
  std::string slavePath_;
  Script script_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<speed_t> speeds_;
  std::thread thread_;
};

// Each test gets its own settings folder, holding the mapping it writes, and its own
// simulator endpoint, which no simulator serves.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ::setenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit().constData(), 1);
    ::setenv(simproto::EndpointEnv, dir_.filePath("sim.sock").toLocal8Bit().constData(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv(simproto::EndpointEnv);
  }
  void map(const std::string& lines) {
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("qx510")));
    QFile file(dir_.filePath(QStringLiteral("qx510/") + QLatin1String(portmap::FileName)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString("# written by the test\n" + lines + "\n"));
  }
  // Init, then the rate and the response timeout.
  uint32_t open(StandinLib& lib, uint32_t& handle, uint32_t rate = 115200, uint32_t timeoutMs = 1000) {
    const uint32_t s = lib.init(&handle);
    if (s != Ok) return s;
    return lib.setConfig(handle, rate, timeoutMs, 2);
  }

  QTemporaryDir dir_;
};

TEST_F(SerialPortTest, ExchangesAtEveryRateInRawEightNOne) {
  const std::pair<uint32_t, speed_t> rates[] = {{600, B600},     {1200, B1200},   {2400, B2400},
                                                {4800, B4800},   {9600, B9600},   {19200, B19200},
                                                {38400, B38400}, {57600, B57600}, {115200, B115200}};
  for (int kind : {SerialKind, UsbKind}) {
    SCOPED_TRACE(kind);
    PtyModule module;
    module.run([](PtyModule& m, const PtyModule::Frame& r) { m.answer(r); });
    map(std::string(kind == SerialKind ? "COM1=" : "usb=") + module.slavePath());
    StandinLib lib(kind);
    uint32_t handle = 0;
    const uint32_t opened = lib.init(&handle);
    ASSERT_EQ(opened, Ok) << lib.errorText(opened);
    for (const auto& [rate, speed] : rates) {
      ASSERT_EQ(lib.setConfig(handle, rate, 500, 2), Ok) << rate;
      const auto r = lib.exchange(handle, Request());
      EXPECT_EQ(r.status, Ok) << rate;
      EXPECT_EQ(r.data, AnswerData) << rate;
      EXPECT_EQ(module.speeds().back(), speed) << rate;
    }
    const termios t = module.slaveSettings();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS | CLOCAL | CREAD), tcflag_t(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(lib.done(&handle), Ok);
  }
}

struct WireCase {
  const char* name;
  const char* options;
  uint32_t rate, timeoutMs;
  PtyModule::Script module;
  uint32_t status;
  std::array<uint32_t, 8> request = Request();
};

// What a master on a wire must tell apart: its answer, late or not, from an echo, an earlier
// request's answer, a frame that claims too much, and bytes that are no frame at all.
TEST_F(SerialPortTest, TellsAnswersFromWhatTheWireDidToThem) {
  using F = const PtyModule::Frame&;
  auto withStatus = [](F r, uint8_t status) {
    auto a = *serialframe::DecodeAnswer(PtyModule::AnswerTo(r).data(), serialframe::AnswerSize);
    a.status = status;
    return serialframe::EncodeAnswer(a);
  };
  const WireCase cases[] = {
      {"slow within the timeout", "", 9600, 2000, [](PtyModule& m, F r) { Pause(50); m.answer(r); }, Ok},
      {"slow beyond the timeout and its wait", "", 9600, 20, [](PtyModule& m, F r) { Pause(300); m.answer(r); }, Timeout},
      // At 600 Bd the answer's own 217 ms on the wire: the master still listens then, and says so.
      {"after the timeout, while the master waits the answer out", "", 600, 20,
       [](PtyModule& m, F r) { Pause(300); m.write(PtyModule::AnswerTo(r)); }, Late},
      {"echoing adapter", "echo=1", 9600, 1000, [](PtyModule& m, F r) { m.write(r); m.answer(r); }, Ok},
      {"an echo the mapping does not announce", "", 9600, 1000, [](PtyModule& m, F r) { m.write(r); m.answer(r); }, Ok},
      {"a line that only echoes", "", 9600, 100, [](PtyModule& m, F r) { m.write(r); }, Timeout},
      {"echo spoilt by a second sender", "echo=1", 9600, 100,
       [](PtyModule& m, F r) {
         PtyModule::Frame spoilt = r;
         spoilt[5] ^= 0x10;
         m.write(spoilt);
         m.answer(r);
       },
       Damaged},
      {"a frame cut short, then a sound one", "", 9600, 1000,
       [](PtyModule& m, F r) {
         Pause(20);
         m.write(PtyModule::AnswerTo(r, {7, 7, 7, 7, 7}).data(), 6);
         Pause(30);
         m.answer(r);
       },
       Ok},
      {"a wrong CRC only", "", 9600, 100,
       [](PtyModule& m, F r) {
         auto a = PtyModule::AnswerTo(r);
         a[9] ^= 1;
         m.wireDelay();
         m.write(a);
       },
       Damaged},
      {"a status no module answers", "", 9600, 100,
       [&](PtyModule& m, F r) { m.wireDelay(); m.write(withStatus(r, 1)); }, Damaged},
      {"a module's refusal", "", 9600, 100,
       [&](PtyModule& m, F r) { m.wireDelay(); m.write(withStatus(r, 21)); }, 21},
      {"quicker than the wire allows", "", 9600, 1000, [](PtyModule& m, F r) { m.write(PtyModule::AnswerTo(r)); },
       Damaged},
      {"this request's tag naming another address", "", 9600, 100,
       [](PtyModule& m, F r) { m.wireDelay(); m.write(PtyModule::AnswerTo(r, AnswerData, 6)); }, Damaged},
      {"an earlier request's answer only", "", 9600, 100,
       [](PtyModule& m, F r) { m.wireDelay(); m.write(PtyModule::AnswerTo(r, AnswerData, -1, r[1] - 1)); }, Late},
      {"a configuration read naming another configuration address", "", 9600, 100,
       [](PtyModule& m, F r) { m.wireDelay(); m.write(PtyModule::AnswerTo(r, {0, 9, 9, 1, 1})); }, Damaged,
       {5, 102, 0, 0, 8, 8, 0, 0}},
      {"a configuration read", "", 9600, 100,
       [](PtyModule& m, F r) { m.wireDelay(); m.write(PtyModule::AnswerTo(r, {0, 8, 8, 1, 1})); }, Ok,
       {5, 102, 0, 0, 8, 8, 0, 0}},
  };
  for (const WireCase& c : cases) {
    SCOPED_TRACE(c.name);
    PtyModule module;
    module.run(c.module);
    map("COM1=" + module.slavePath() + " " + c.options);
    StandinLib lib(SerialKind);
    uint32_t handle = 0;
    ASSERT_EQ(open(lib, handle, c.rate, c.timeoutMs), Ok);
    const auto r = lib.exchange(handle, c.request);
    EXPECT_EQ(r.status, c.status) << lib.errorText(r.status);
    lib.done(&handle);
  }
}

TEST_F(SerialPortTest, DropsTheLateAnswerToAnEarlierRequest) {
  PtyModule module;
  module.run([](PtyModule& m, const PtyModule::Frame& r) {
    const uint8_t address = r[2];
    if (address == 5) Pause(300);  // answers the first request only after its timeout and the wait
    else m.wireDelay();
    m.write(PtyModule::AnswerTo(r, {address, 0, 0, 0, 0}));
  });
  map("COM1=" + module.slavePath());
  StandinLib lib(SerialKind);
  uint32_t handle = 0;
  ASSERT_EQ(open(lib, handle, 115200, 20), Ok);
  EXPECT_EQ(lib.exchange(handle, Request(5)).status, Timeout);
  ASSERT_EQ(lib.setConfig(handle, 115200, 2000, 2), Ok);
  const auto r = lib.exchange(handle, Request(6));
  EXPECT_EQ(r.status, Ok);
  EXPECT_EQ(r.data[0], 6);
  lib.done(&handle);
}

TEST_F(SerialPortTest, ADeviceUnpluggedMidExchangeFailsWithItsReason) {
  PtyModule module;
  module.run([](PtyModule& m, const PtyModule::Frame&) { m.unplug(); });
  map("COM1=" + module.slavePath());
  StandinLib lib(SerialKind);
  uint32_t handle = 0;
  // Far beyond what the test may take: a driver that missed the hangup would end in a timeout.
  ASSERT_EQ(open(lib, handle, 9600, 60000), Ok);
  const auto r = lib.exchange(handle, Request());
  EXPECT_EQ(r.status, DeviceLost);
  EXPECT_EQ(lib.errorText(DeviceLost), "Sériové zařízení bylo odpojeno: " + module.slavePath());
  lib.done(&handle);
}

TEST_F(SerialPortTest, HoldsTheDeviceAgainstEveryOtherUser) {
  PtyModule module;
  map("COM1=" + module.slavePath() + "\nUSB=" + module.slavePath());
  StandinLib serial(SerialKind), usb(UsbKind);
  uint32_t handle = 0, second = 0;
  ASSERT_EQ(serial.init(&handle), Ok);
  EXPECT_EQ(serial.init(&second), LineBusy);
  EXPECT_EQ(usb.init(&second), LineBusy) << "the same device under another port";
  EXPECT_EQ(usb.errorText(LineBusy), "Linka je již otevřena tímto programem");
  ASSERT_EQ(serial.done(&handle), Ok);

  // A serial program that locks the device as this driver does.
  const int other = ::open(module.slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(serial.init(&handle), DeviceBusy);
  EXPECT_EQ(serial.errorText(DeviceBusy),
            "Sériové zařízení drží jiný program (PID " + std::to_string(::getpid()) + "): " + module.slavePath());
  // One that only keeps others out of the tty, which binds all but root.
  ASSERT_EQ(::flock(other, LOCK_UN), 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
  if (::geteuid() != 0) {
    EXPECT_EQ(serial.init(&handle), DeviceBusy);
    EXPECT_EQ(serial.errorText(DeviceBusy),
              "Sériové zařízení drží jiný program (PID " + std::to_string(::getpid()) + "): " + module.slavePath());
  }
  ::close(other);  // TIOCEXCL belongs to the tty, not to the descriptor
  ASSERT_EQ(::ioctl(module.slaveFd(), TIOCNXCL), 0);
  EXPECT_EQ(serial.init(&handle), Ok);
  serial.done(&handle);
}

TEST_F(SerialPortTest, GivesTheDeviceItsSettingsBackAtDone) {
  PtyModule module;
  module.run([](PtyModule& m, const PtyModule::Frame& r) { m.answer(r); });
  const termios before = module.slaveSettings();
  map("COM1=" + module.slavePath());
  StandinLib lib(SerialKind);
  uint32_t handle = 0;
  ASSERT_EQ(open(lib, handle, 57600), Ok);
  ASSERT_EQ(lib.exchange(handle, Request()).status, Ok);
  ASSERT_EQ(lib.done(&handle), Ok);
  const termios after = module.slaveSettings();
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(::cfgetispeed(&after), ::cfgetispeed(&before));
  EXPECT_EQ(0, std::memcmp(after.c_cc, before.c_cc, sizeof before.c_cc));
}

TEST_F(SerialPortTest, RefusesWhatIsNoUsableDeviceWithTheReason) {
  const std::string missing = dir_.filePath(QStringLiteral("ttyUSB9")).toStdString();
  const struct {
    std::string mapping;
    uint32_t status;
    std::string text;
  } cases[] = {
      {"COM1=" + missing, DeviceMissing, "Sériové zařízení neexistuje: " + missing},
      {"COM1=/dev/null", NotATty, "Zařízení není sériové: /dev/null"},
      {"COM1=/dev/null\nCOM1=/dev/null", BadPortMap,
       "Chyba v souboru serial-ports, řádek 3: port „COM1“ uveden podruhé"},
      // Another port's mapping leaves this one with the simulator.
      {"COM2=/dev/null", NotRunning, "Simulátor modulu QX-510 není spuštěn"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mapping);
    map(c.mapping);
    StandinLib lib(SerialKind);
    uint32_t handle = 0;
    EXPECT_EQ(lib.init(&handle), c.status);
    EXPECT_EQ(lib.errorText(c.status), c.text);
  }
}

TEST_F(SerialPortTest, NamesTheDialoutGroupWhenTheDeviceIsClosedToTheUser) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens any device";
  PtyModule module;
  ASSERT_EQ(::chmod(module.slavePath().c_str(), 0), 0);
  map("COM1=" + module.slavePath());
  StandinLib lib(SerialKind);
  uint32_t handle = 0;
  EXPECT_EQ(lib.init(&handle), DeviceDenied);
  EXPECT_EQ(lib.errorText(DeviceDenied),
            "K sériovému zařízení chybí oprávnění (skupina dialout): " + module.slavePath());
}

// A module that is late, cut short, flooded, echoed, repeated or answers nonsense, at random,
// behind a real tty: every request carries a number, the module's answer a value made from it,
// and the master must never take a value for a request it was not made for.
TEST_F(SerialPortTest, NoRandomMisbehaviourOfTheWireYieldsAWrongValue) {
  constexpr int Exchanges = 10000;
  constexpr uint32_t Rate = 921600, TimeoutMs = 5;
  auto value = [](uint32_t n) {
    const uint32_t v = n * 2654435761u;
    return std::array<uint8_t, 5>{uint8_t(n), uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  };
  std::mt19937 random(20261208);
  PtyModule module;
  module.run([&](PtyModule& m, const PtyModule::Frame& r) {
    const auto request = *serialframe::DecodeRequest(r.data(), r.size());
    const uint32_t n = uint32_t(request.data[1]) | uint32_t(request.data[2]) << 8 | uint32_t(request.data[3]) << 16 |
                       uint32_t(request.data[4]) << 24;
    const auto answer = PtyModule::AnswerTo(r, value(n));
    auto nonsense = *serialframe::DecodeAnswer(answer.data(), answer.size());
    nonsense.status = uint8_t(1 + random() % 19);  // a status no module answers
    uint8_t noise[64];
    for (uint8_t& b : noise) b = uint8_t(random());
    const int roll = int(random() % 100);
    m.wireDelay();
    if (roll < 60) {
      m.write(answer);
    } else if (roll < 70) {  // late: into the master's wait, or into the next exchange
      Pause(int(random() % (3 * TimeoutMs)));
      m.write(answer);
    } else if (roll < 76) {  // cut short, then silent
      m.write(answer.data(), 1 + random() % (answer.size() - 1));
    } else if (roll < 82) {  // a flood of noise
      for (int burst = int(random() % 8); burst >= 0; --burst, Pause(1)) m.write(noise, sizeof noise);
    } else if (roll < 88) {  // answered twice: the copy meets the next request
      m.write(answer);
      Pause(1);
      m.write(answer);
    } else if (roll < 94) {  // the request handed back, then the answer
      m.write(r);
      m.write(answer);
    } else {
      m.write(serialframe::EncodeAnswer(nonsense));
    }
  });
  map("COM1=" + module.slavePath());
  StandinLib lib(SerialKind);
  uint32_t handle = 0;
  ASSERT_EQ(open(lib, handle, Rate, TimeoutMs), Ok);
  int good = 0, wrong = 0;
  for (uint32_t n = 1; n <= Exchanges; ++n) {
    const auto r = lib.exchange(handle, {5, 100, 0, 0, n & 0xFF, n >> 8 & 0xFF, n >> 16 & 0xFF, n >> 24});
    if (r.status != Ok) continue;
    ++good;
    if (r.data != value(n)) ++wrong;
  }
  lib.done(&handle);
  EXPECT_EQ(wrong, 0) << "of " << good << " good answers";
  EXPECT_GT(good, Exchanges / 3) << "too few answers taken for the run to say anything";
}

}  // namespace
