// The control channel as a script meets it: commands that change the line, every kind of
// bad request answered with an error line that changes nothing, and the traffic stream.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim/control/sim_control.h"
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
  EXPECT_EQ(bus.faults(2)[0].describe(), "delay 300 ms, zbývá 2");

  // A second module where one already answers is added; the list names it beside the first.
  EXPECT_EQ(Send(R"({"cmd":"add","address":0})")["alike"].toArray(), QJsonArray({0}));
  EXPECT_EQ(Send(R"({"cmd":"list"})")["modules"][0]["alike"].toArray(), QJsonArray({3}));
  EXPECT_TRUE(Send(R"({"cmd":"remove","module":3})")["ok"].toBool());

  const QJsonObject read = Send(R"({"cmd":"read","module":1})");
  EXPECT_EQ(read["inputs"].toInteger(), 1 << 9);
  EXPECT_TRUE(read["memory"].toString().endsWith("07 05"));  // baud code, address

  std::string line, error;
  ASSERT_TRUE(SimControlLineFromArgs({"fault", "kind=malformed", "form=value", "count=2", "module=0"}, &line, &error));
  EXPECT_EQ(Reply(line), Reply(R"({"cmd":"fault","kind":"malformed","form":"value","count":2,"module":0})"));
  EXPECT_FALSE(SimControlLineFromArgs({"list", "module"}, &line, &error));
  // `qx510-sim ctl` builds no request with a key twice either.
  EXPECT_FALSE(SimControlLineFromArgs({"list", "cmd=cycle"}, &line, &error));
  EXPECT_FALSE(SimControlLineFromArgs({"fault", "kind=silent", "kind=delay", "ms=5"}, &line, &error));
  EXPECT_EQ(error, "klíč kind je uveden dvakrát");
  // Over the socket, a repeated `cmd` naming traffic neither streams nor runs anything.
  const QJsonObject repeated = Send(R"({"cmd":"cycle","cmd":"traffic"})");
  EXPECT_FALSE(repeated["ok"].toBool(true));
  EXPECT_TRUE(Send(R"({"cmd":"list"})")["ok"].toBool());
}

TEST_F(SimControlTest, BadRequestsGetAnErrorAndChangeNothing) {
  const SimBus before = sim_->busSnapshot();
  struct Bad {
    const char* line;
    const char* error;  // the start of the error text
  };
  const Bad bad[] = {
      {"", "požadavek je jeden objekt JSON"},
      {"not json", "požadavek je jeden objekt JSON"},
      {"[1,2]", "požadavek je jeden objekt JSON"},
      {R"({"module":0})", "chybí cmd"},
      {R"({"cmd":7})", "chybí cmd"},
      {R"({"cmd":"explode"})", "neznámý příkaz explode"},
      {R"({"cmd":"list","verbose":true})", "neznámý argument verbose"},
      {R"({"cmd":"voltage","volts":1})", "chybí module"},
      {R"({"cmd":"voltage","module":2,"volts":1})", "module musí být celé číslo 0..1"},
      {R"({"cmd":"voltage","module":-1,"volts":1})", "module musí být"},
      {R"({"cmd":"voltage","module":0.5,"volts":1})", "module musí být"},
      {R"({"cmd":"voltage","module":"0","volts":1})", "module musí být"},
      {R"({"cmd":"voltage","module":0,"volts":13})", "volts musí být číslo -12.5..12.5"},
      {R"({"cmd":"voltage","module":0,"volts":"5"})", "volts musí být"},
      {R"({"cmd":"current","module":0,"milliamps":-26})", "milliamps musí být"},
      {R"({"cmd":"short","module":0,"on":1})", "on musí být true nebo false"},
      {R"({"cmd":"input","module":0,"input":32,"on":true})", "input musí být"},
      {R"({"cmd":"inputs","module":0,"value":4294967296})", "value musí být"},
      {R"({"cmd":"status","module":0,"bit":"XYZ"})", "bit musí být"},
      {R"({"cmd":"add","address":256})", "address musí být"},
      {R"({"cmd":"add","address":3,"baud":9601})", "baud musí být"},
      {R"({"cmd":"fault","kind":"meteor"})", "kind musí být"},
      {R"({"cmd":"fault","kind":"delay"})", "chybí ms"},
      {R"({"cmd":"fault","kind":"delay","ms":0})", "ms musí být"},
      {R"({"cmd":"fault","kind":"silent","count":0})", "count musí být"},
      {R"({"cmd":"fault","kind":"silent","command":256})", "command musí být"},
      {R"({"cmd":"fault","kind":"refuse","status":19})", "status musí být"},
      {R"({"cmd":"fault","kind":"malformed","form":"wobbly"})", "form musí být"},
      {R"({"cmd":"fault","kind":"powerloss"})", "chybí after"},
      {R"({"cmd":"fault","kind":"powerloss","after":2,"count":1})", "neznámý argument count"},
      {R"({"cmd":"fault","module":9,"kind":"collision"})", "module musí být"},
      {R"({"cmd":"clear","module":9})", "module musí být"},
      {R"({"cmd":"cycle","module":"all"})", "module musí být"},
      {R"({"cmd":"counters","reset":"yes"})", "reset musí být"},
      // A key given twice: QJsonDocument would keep the last one and run it.
      {R"({"cmd":"list","cmd":"fault","kind":"silent"})", "klíč cmd se v požadavku opakuje"},
      {R"({"cmd":"fault","kind":"silent","cmd":"list"})", "klíč cmd se v požadavku opakuje"},
      {R"({"cmd":"list","c\u006dd":"cycle"})", "klíč cmd se v požadavku opakuje"},
      {R"({"cmd":"voltage","module":0,"volts":1,"volts":2})", "klíč volts se v požadavku opakuje"},
      {R"({"cmd":"voltage","module":0,"module":1,"volts":1})", "klíč module se v požadavku opakuje"},
      {R"({"cmd":"list","a\"b":1,"a\"b":2})", "klíč a\"b se v požadavku opakuje"},
      {R"({"cmd":"list","x":{"k":1,"y":[{"k":2,"k":3}]}})", "klíč k se v požadavku opakuje"},
      // The same key in two objects is no repetition.
      {R"({"cmd":"list","x":[{"k":1},{"k":2}],"k":3})", "neznámý argument"},
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

// `traffic` turns the connection into a stream: the reply line, then one JSON line for each
// exchange served from then on, until the client hangs up; the channel serves others meanwhile.
TEST_F(SimControlTest, TrafficStreamsEveryExchange) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, sim_->controlPath().c_str());
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string request = "{\"cmd\":\"traffic\"}\n";
  ASSERT_EQ(::send(s, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
  std::string in;
  auto readLines = [&](size_t lines) {
    while (size_t(std::count(in.begin(), in.end(), '\n')) < lines) {
      pollfd p{s, POLLIN, 0};
      char buffer[4096];
      ssize_t n = 0;
      if (::poll(&p, 1, 10000) <= 0 || (n = ::recv(s, buffer, sizeof buffer, 0)) <= 0) return false;
      in.append(buffer, size_t(n));
    }
    return true;
  };
  ASSERT_TRUE(readLines(1));
  EXPECT_EQ(in, "{\"ok\":true}\n");

  struct Exchange {
    uint8_t address, command;
    const char* name;
    bool answered;
  };
  const Exchange exchanges[] = {{5, 100, "čtení stavu", true}, {0, 200, "identifikace", true}, {7, 100, "čtení stavu", false}};
  for (const auto& x : exchanges) {
    simproto::Request r;
    r.rate = x.address == 5 ? 57600 : 9600;
    r.address = x.address;
    r.command = x.command;
    const auto frame = simproto::EncodeRequest(r);
    sim_->handleFrame(frame.data(), frame.size(), SimLogEntry::Local);
  }
  EXPECT_TRUE(Send(R"({"cmd":"list"})")["ok"].toBool()) << "the stream holds up the channel";
  ASSERT_TRUE(readLines(1 + std::size(exchanges)));
  std::vector<std::string> lines;
  for (size_t at = 0, eol; (eol = in.find('\n', at)) != std::string::npos; at = eol + 1) lines.push_back(in.substr(at, eol - at));
  for (size_t i = 0; i < std::size(exchanges); ++i) {
    SCOPED_TRACE(i);
    const QJsonObject o = Reply(lines[i + 1]);
    EXPECT_EQ(o["serial"].toInteger(), qint64(i + 1));
    EXPECT_EQ(o["address"].toInt(), exchanges[i].address);
    EXPECT_EQ(o["name"].toString(), QString::fromUtf8(exchanges[i].name));
    EXPECT_EQ(o["answered"].toBool(), exchanges[i].answered);
    EXPECT_EQ(o.contains("status"), exchanges[i].answered);
    EXPECT_TRUE(o["time"].toString().contains('T'));
  }
  ::close(s);
  EXPECT_EQ(Reply(SimControlExecute(*sim_, R"({"cmd":"traffic","module":0})"))["error"].toString(),
            "neznámý argument module");
}

}  // namespace
