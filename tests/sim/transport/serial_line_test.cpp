// The simulator's serial line: frames cut at the silence, the faults carried onto the wire's
// frame, and a real pseudo-terminal driven as a driver drives it.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "sim/serial_frame.h"
#include "sim/sim_server.h"
#include "sim/transport/serial_answer.h"
#include "sim/transport/serial_framer.h"
#include "sim/transport/serial_line.h"

namespace {

using namespace std::chrono_literals;
using simline::SerialFramer;
using simline::TimePoint;

const TimePoint T0 = TimePoint{} + 10s;
const serialframe::RequestFrame Identify = serialframe::EncodeRequest({7, 0, 200, 0, {}});

TEST(SerialFramer, AFrameEndsAtTheSilenceAfterItsLastByteOnTheWire) {
  // A pseudo-terminal hands over all the bytes at once: they still take their wire time.
  SerialFramer pty(true);
  pty.received(T0, Identify.data(), 4, 9600);
  pty.received(T0 + 1ms, Identify.data() + 4, Identify.size() - 4, 9600);  // within the first bytes' wire time
  const TimePoint end = T0 + wire::RequestTime(9600);
  EXPECT_EQ(pty.due(), end + wire::InterFrameSilence(9600));
  EXPECT_FALSE(pty.take(end));
  const auto frame = pty.take(end + wire::InterFrameSilence(9600));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->bytes, std::vector<uint8_t>(Identify.begin(), Identify.end()));
  EXPECT_EQ(frame->end, end);
  EXPECT_FALSE(pty.due());

  // On a real port a byte has crossed the wire when it is read; a pause longer than the
  // silence cuts what came before it off as a frame of its own.
  SerialFramer port(false);
  port.received(T0, Identify.data(), 5, 115200);
  EXPECT_EQ(port.due(), T0 + wire::MinimumSilence);
  EXPECT_EQ(port.take(T0 + 2ms)->bytes.size(), 5u);
  port.received(T0 + 3ms, Identify.data(), Identify.size(), 115200);
  EXPECT_EQ(port.take(T0 + 5ms)->bytes.size(), Identify.size());

  // A flood without a pause is kept only so far, and still too long to be a frame.
  std::vector<uint8_t> flood(1000, 0x55);
  port.received(T0, flood.data(), flood.size(), 9600);
  EXPECT_EQ(port.take(T0 + 1s)->bytes.size(), SerialFramer::MaxKept + 1);
}

// Every fault that spoils an answer over a socket spoils it on the wire too, as a driver
// checking the wire's frame (CRC, and the tag, address, command and index it echoes) sees it.
TEST(SerialAnswer, FaultsReachTheWiresFrame) {
  enum Seen { Sound, Rejected, WrongEcho, WrongData };
  struct Case {
    const char* name;
    SimFault fault;
    Seen seen;
  };
  const Case cases[] = {
      {"none", {.kind = SimFault::Refuse, .command = 99}, Sound},
      {"length", {.kind = SimFault::Malformed, .form = SimFault::WrongLength}, Rejected},
      {"bits", {.kind = SimFault::Malformed, .form = SimFault::FlippedBits}, Rejected},
      {"collision", {.kind = SimFault::Collision}, Rejected},
      {"sequence", {.kind = SimFault::Malformed, .form = SimFault::WrongSequence}, WrongEcho},
      {"address", {.kind = SimFault::Malformed, .form = SimFault::WrongAddress}, WrongEcho},
      {"value", {.kind = SimFault::Malformed, .form = SimFault::WrongValue}, WrongData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimBus bus;
    ASSERT_TRUE(bus.arm(0, c.fault));
    const auto wired = *serialframe::DecodeRequest(Identify.data(), Identify.size());
    simproto::Request request;
    request.seq = wired.tag;
    request.rate = 9600;
    request.address = wired.address;
    request.command = wired.command;
    const SimBus::Outcome outcome = bus.dispatch(request);
    const std::vector<uint8_t> bytes = SerialAnswerBytes(outcome, wired);
    const auto answer = serialframe::DecodeAnswer(bytes.data(), bytes.size());
    if (c.seen == Rejected) {
      EXPECT_FALSE(answer);
      continue;
    }
    ASSERT_TRUE(answer);
    const bool echoed = serialframe::Answers(*answer, wired);
    EXPECT_EQ(echoed, c.seen != WrongEcho);
    const bool identified = answer->data == std::array<uint8_t, 5>{0x00, 'Q', 'X', '-', '5'};
    EXPECT_EQ(identified, c.seen != WrongData);
  }
}

// The driver's side of the pseudo-terminal.
class PtyDriver {
 public:
  explicit PtyDriver(const std::string& link) : fd_(::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~PtyDriver() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool open() const { return fd_ >= 0; }
  bool setRate(speed_t speed) {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    return ::cfsetispeed(&t, speed) == 0 && ::cfsetospeed(&t, speed) == 0 && ::tcsetattr(fd_, TCSANOW, &t) == 0;
  }
  bool write(const uint8_t* p, size_t n) { return ::write(fd_, p, n) == ssize_t(n); }
  // Up to `want` bytes, waiting at most `limit` for each.
  std::vector<uint8_t> read(size_t want, std::chrono::milliseconds limit) {
    std::vector<uint8_t> got;
    while (got.size() < want) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, int(limit.count())) <= 0) break;
      uint8_t buffer[32];
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, want - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  int fd_;
};

template <class F>
bool WaitFor(F done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
  return done();
}

TEST(SerialLine, APseudoTerminalServesTheLineAtTheRateTheDriverSet) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string link = dir.filePath("ttyQX").toStdString();
  SimServerOptions o;
  o.udpPort = -1;
  o.serveLocal = false;
  o.ptyLink = link;
  // 9600 and 115200 Bd, and two alike at 7, the second 2 ms slower; the line paced, as users have it
  o.modules = {{0, 4}, {5, 8}, {7, 4, 1ms}, {7, 4, 3ms}};
  SimServer sim(o);
  std::string error;
  ASSERT_TRUE(sim.start(&error)) << error;
  ASSERT_NE(sim.serialLine(), nullptr);
  EXPECT_EQ(sim.serialLine()->device().rfind("/dev/pts/", 0), 0u);

  PtyDriver driver(link);
  ASSERT_TRUE(driver.open());
  struct Case {
    speed_t speed;
    uint8_t address;
    bool answered;
  };
  for (const Case c : {Case{B9600, 0, true}, Case{B115200, 5, true}, Case{B115200, 0, false}}) {
    SCOPED_TRACE(int(c.address));
    ASSERT_TRUE(driver.setRate(c.speed));
    const uint64_t before = sim.requestCount();
    const auto request = serialframe::EncodeRequest({1, c.address, 200, 0, {}});
    ASSERT_TRUE(driver.write(request.data(), request.size()));
    ASSERT_TRUE(WaitFor([&] { return sim.requestCount() > before; }));
    EXPECT_EQ(bool(sim.recentLog().back().answer), c.answered);
    // The module has decided; an answer would be on its way within the exchange's 7 ms.
    const std::vector<uint8_t> got = driver.read(serialframe::AnswerSize, c.answered ? 2000ms : 200ms);
    if (!c.answered) {
      EXPECT_TRUE(got.empty());
      continue;
    }
    const auto answer = serialframe::DecodeAnswer(got.data(), got.size());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->address, c.address);
    EXPECT_EQ(answer->command, 200);
    EXPECT_EQ(answer->data, (std::array<uint8_t, 5>{0x00, 'Q', 'X', '-', '5'}));
  }

  // The two at 7 answer at once: bytes for as long as both answers hold the wire, no frame
  // among them, though both meant the same.
  ASSERT_TRUE(driver.setRate(B9600));
  const auto collide = serialframe::EncodeRequest({2, 7, 200, 0, {}});
  ASSERT_TRUE(driver.write(collide.data(), collide.size()));
  const std::vector<uint8_t> garbage = driver.read(64, 1000ms);
  const auto character = wire::CharacterTime(9600);
  EXPECT_EQ(garbage.size(), size_t((wire::AnswerFrameTime(9600) + 2ms + character - 1ns) / character));
  EXPECT_EQ(std::count(garbage.begin(), garbage.end(), serialframe::AnswerMark), 0);

  // A frame cut short is counted as unreadable; the next whole one is answered.
  const uint64_t unreadable = sim.malformedCount();
  ASSERT_TRUE(driver.write(Identify.data(), 6));
  ASSERT_TRUE(WaitFor([&] { return sim.malformedCount() > unreadable; }));
  ASSERT_TRUE(driver.write(Identify.data(), Identify.size()));
  const std::vector<uint8_t> got = driver.read(serialframe::AnswerSize, 2s);
  EXPECT_TRUE(serialframe::DecodeAnswer(got.data(), got.size()));
  EXPECT_EQ(sim.malformedCount(), unreadable + 1);

  sim.stop();
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link outlived the simulator";
}

// What stands at the link's path is the simulator's only when it left it there itself: a link
// of the user's to a pseudo-terminal that is gone. Nothing else is taken over, nor removed.
TEST(SerialLine, APseudoTerminalTakesOverOnlyALinkAnEarlierSimulatorLeft) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string link = dir.filePath("ttyQX").toStdString(), file = dir.filePath("file").toStdString();
  ASSERT_TRUE(QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly));
  const struct {
    const char* target;  // nullptr: nothing there; "": the file itself
    bool taken;
  } cases[] = {{nullptr, true}, {"/dev/pts/4095", true}, {file.c_str(), false}, {"/nonexistent/ttyS9", false},
               {link.c_str(), false}, {"", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target ? c.target : "nothing");
    ::unlink(link.c_str());
    if (c.target) {
      ASSERT_EQ(*c.target ? ::symlink(c.target, link.c_str()) : ::link(file.c_str(), link.c_str()), 0);
    }
    struct stat before {}, after {};
    ::lstat(link.c_str(), &before);
    std::string error;
    auto line = SimSerialLine::Open(SimSerialLine::Kind::Pty, link, 9600, simline::Wire::Paced, &error);
    EXPECT_EQ(line != nullptr, c.taken) << error;
    line.reset();
    const bool there = ::lstat(link.c_str(), &after) == 0;
    EXPECT_EQ(there, !c.taken) << "a link taken over outlives the line, or another is removed";
    EXPECT_TRUE(c.taken || after.st_ino == before.st_ino);
  }
}

}  // namespace
