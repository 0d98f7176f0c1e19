// The control channel as a script meets it: commands that change the line, and every kind of
// bad request answered with an error line that changes nothing.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim/sim_control.h"
#include "sim/sim_server.h"
#include "tests/sim/sim_line.h"

namespace {

QJsonObject Reply(const std::string& line) { return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object(); }

class SimControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    sim_ = StartLine(dir_, {{0, 4}, {5, 7}});
    ASSERT_TRUE(sim_);
  }
  // Over the socket, as `qx510-sim ctl` sends it.
  QJsonObject Send(const std::string& line) {
    std::string reply, error;
    EXPECT_TRUE(SimControlRequest(sim_->controlPath(), line, &reply, &error, 10000)) << error;
    return Reply(reply);
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
};

TEST_F(SimControlTest, CommandsDriveTheLine) {
  EXPECT_EQ(sim_->controlPath(), sim_->localPath() + ".ctl");
  EXPECT_TRUE(Send(R"({"cmd":"input","module":1,"input":9,"on":true})")["ok"].toBool());
  EXPECT_TRUE(Send(R"({"cmd":"voltage","module":1,"volts":2.5})")["ok"].toBool());
  EXPECT_TRUE(Send(R"({"cmd":"status","module":1,"bit":"ERR24"})")["ok"].toBool());
  EXPECT_EQ(Send(R"({"cmd":"add","address":9,"baud":115200})")["module"].toInt(), 2);
  EXPECT_TRUE(Send(R"({"cmd":"fault","module":2,"kind":"delay","ms":300,"count":2})")["ok"].toBool());
  const SimBus bus = sim_->busSnapshot();
  EXPECT_EQ(bus.module(1).inputSwitches(), 1u << 9);
  EXPECT_EQ(bus.module(1).sourceVoltage(), 2.5);
  EXPECT_TRUE(bus.module(1).statusRegister() & SimModule::StatusERR24);
  EXPECT_EQ(bus.module(2).baudRate(), 115200);
  ASSERT_EQ(bus.faults(2).size(), 1u);
  EXPECT_EQ(bus.faults(2)[0].describe(), "delay 300 ms, 2 left");

  const QJsonObject read = Send(R"({"cmd":"read","module":1})");
  EXPECT_EQ(read["inputs"].toInteger(), 1 << 9);
  EXPECT_TRUE(read["memory"].toString().endsWith("07 05"));  // baud code, address

  std::string line, error;
  ASSERT_TRUE(SimControlLineFromArgs({"fault", "kind=malformed", "form=value", "count=2", "module=0"}, &line, &error));
  EXPECT_EQ(Reply(line), Reply(R"({"cmd":"fault","kind":"malformed","form":"value","count":2,"module":0})"));
  EXPECT_FALSE(SimControlLineFromArgs({"list", "module"}, &line, &error));
}

TEST_F(SimControlTest, BadRequestsGetAnErrorAndChangeNothing) {
  const SimBus before = sim_->busSnapshot();
  struct Bad {
    const char* line;
    const char* error;  // the start of the error text
  };
  const Bad bad[] = {
      {"", "a request is one JSON object"},
      {"not json", "a request is one JSON object"},
      {"[1,2]", "a request is one JSON object"},
      {R"({"module":0})", "missing cmd"},
      {R"({"cmd":7})", "missing cmd"},
      {R"({"cmd":"explode"})", "unknown command explode"},
      {R"({"cmd":"list","verbose":true})", "unknown argument verbose"},
      {R"({"cmd":"voltage","volts":1})", "missing module"},
      {R"({"cmd":"voltage","module":2,"volts":1})", "module must be a whole number 0..1"},
      {R"({"cmd":"voltage","module":-1,"volts":1})", "module must be"},
      {R"({"cmd":"voltage","module":0.5,"volts":1})", "module must be"},
      {R"({"cmd":"voltage","module":"0","volts":1})", "module must be"},
      {R"({"cmd":"voltage","module":0,"volts":13})", "volts must be a number -12.5..12.5"},
      {R"({"cmd":"voltage","module":0,"volts":"5"})", "volts must be"},
      {R"({"cmd":"current","module":0,"milliamps":-26})", "milliamps must be"},
      {R"({"cmd":"short","module":0,"on":1})", "on must be true or false"},
      {R"({"cmd":"input","module":0,"input":32,"on":true})", "input must be"},
      {R"({"cmd":"inputs","module":0,"value":4294967296})", "value must be"},
      {R"({"cmd":"status","module":0,"bit":"XYZ"})", "bit must be"},
      {R"({"cmd":"add","address":256})", "address must be"},
      {R"({"cmd":"add","address":0})", "another module already answers"},
      {R"({"cmd":"add","address":3,"baud":9601})", "baud must be"},
      {R"({"cmd":"fault","kind":"meteor"})", "kind must be"},
      {R"({"cmd":"fault","kind":"delay"})", "missing ms"},
      {R"({"cmd":"fault","kind":"delay","ms":0})", "ms must be"},
      {R"({"cmd":"fault","kind":"silent","count":0})", "count must be"},
      {R"({"cmd":"fault","kind":"silent","command":256})", "command must be"},
      {R"({"cmd":"fault","kind":"refuse","status":19})", "status must be"},
      {R"({"cmd":"fault","kind":"malformed","form":"wobbly"})", "form must be"},
      {R"({"cmd":"fault","kind":"powerloss"})", "missing after"},
      {R"({"cmd":"fault","kind":"powerloss","after":2,"count":1})", "unknown argument count"},
      {R"({"cmd":"fault","module":9,"kind":"collision"})", "module must be"},
      {R"({"cmd":"clear","module":9})", "module must be"},
      {R"({"cmd":"cycle","module":"all"})", "module must be"},
      {R"({"cmd":"counters","reset":"yes"})", "reset must be"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.line);
    const QJsonObject reply = Reply(SimControlExecute(*sim_, b.line));
    EXPECT_FALSE(reply["ok"].toBool());
    EXPECT_TRUE(reply["error"].toString().startsWith(b.error)) << reply["error"].toString().toStdString();
  }
  const SimBus after = sim_->busSnapshot();
  EXPECT_EQ(after.memories(), before.memories());
  EXPECT_TRUE(after.faults(SimBus::Line).empty());
  EXPECT_EQ(after.module(0).sourceVoltage(), before.module(0).sourceVoltage());

  // A line without end is cut off, and the channel still serves the next client.
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, sim_->controlPath().c_str());
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string flood(64 * 1024, 'x');
  ::send(s, flood.data(), flood.size(), MSG_NOSIGNAL);
  ::close(s);
  EXPECT_TRUE(Send(R"({"cmd":"list"})")["ok"].toBool());
}

}  // namespace
