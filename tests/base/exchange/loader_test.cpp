// The driver loader against the scripted libraries beside this executable and their
// variants lacking one entry each (without_<Entry>/).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

#include "base/settings/tdata.h"
#include "base/exchange/driver_loader.h"
#include "tests/support/scripted_driver.h"

namespace {

const char* const Roles[] = {"Version", "Init", "SetConfig", "GetConfig", "Send", "Done", "Error"};

QString ExeDir() { return QCoreApplication::applicationDirPath(); }

QString LibraryPath(const QString& dir, uint8_t iface) { return dir + "/" + DriverLibraryName(iface); }

// Whether the process still has the file mapped, whoever opened it.
bool Mapped(const QString& path) {
  void* h = dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return false;
  dlclose(h);
  return true;
}

MessageBuffer Filled(uint32_t value) {
  MessageBuffer b;
  b.fill(value);
  return b;
}

class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (DriverLibraryLoaded()) {
      uint32_t h = 0;
      for (uint8_t i = 0; i < InterfaceCount && DriverLibraryLoaded(); ++i) DriverDone(i, &h);
    }
    DriverSetLibraryDirectory(QString());
  }
};

TEST_F(LoaderTest, LibraryNames) {
  const char* names[] = {"KSER660.DLL", "KISA660.DLL", "KBRD1660.DLL", "KCNV1660.DLL", "KNET1660.DLL"};
  for (uint8_t i = 0; i < InterfaceCount; ++i) EXPECT_EQ(DriverLibraryName(i), names[i]);
  EXPECT_TRUE(DriverLibraryName(5).isEmpty());
}

TEST_F(LoaderTest, InterfaceOutOfRangeLoadsNothing) {
  for (uint8_t iface : {uint8_t(5), uint8_t(7), uint8_t(255)}) {
    uint32_t h = 0x77;
    EXPECT_EQ(DriverInit(iface, &h, {}), 10u) << int(iface);
    EXPECT_FALSE(DriverLibraryLoaded());
    EXPECT_EQ(h, 0x77u);
  }
}

TEST_F(LoaderTest, OutOfRangeInterfaceAfterLoadForgetsTheEarlierLibrary) {
  ScriptedDriver drv(InterfaceSerial);
  uint32_t h = 0;
  ASSERT_EQ(DriverInit(InterfaceSerial, &h, {}), 0u);
  // A new attempt starts from a clean state even when it fails at once.
  EXPECT_EQ(DriverInit(7, &h, {}), 10u);
  EXPECT_FALSE(DriverLibraryLoaded());
  EXPECT_EQ(DriverSetConfig(InterfaceSerial, h, 1, 2, 3), 10u);
}

TEST_F(LoaderTest, CallsWithoutLibraryReturn10) {
  for (uint8_t iface : {uint8_t(0), uint8_t(4), uint8_t(9)}) {
    uint32_t h = 0x51;
    uint32_t req[8] = {};
    uint32_t resp[100] = {};
    uint32_t aux = 0, st = 0;
    EXPECT_EQ(DriverSetConfig(iface, h, 9600, 100, 2), 10u);
    EXPECT_EQ(DriverSend(iface, h, req, resp, &aux, &st), 10u);
    EXPECT_EQ(DriverDone(iface, &h), 10u);
    EXPECT_EQ(h, 0x51u);
    MessageBuffer buffer = Filled(0x41);
    EXPECT_EQ(DriverErrorText(iface, 5, &buffer), 10u);
    EXPECT_EQ(buffer, Filled(0x41)) << "the buffer must be left as it was";
  }
}

TEST_F(LoaderTest, OwnStatusTextsNeedNoLibrary) {
  const struct {
    uint32_t code;
    const char* text;
  } table[] = {
      {100, "chyba inicializace knihovny KSER660.DLL"}, {101, "chyba inicializace knihovny KISA660.DLL"},
      {102, "chyba inicializace knihovny KBRD1660.DLL"}, {103, "chyba inicializace knihovny KCNV1660.DLL"},
      {104, "chyba inicializace knihovny KNET1660.DLL"}, {110, "chybná knihovna KSER660.DLL"},
      {111, "chybná knihovna KISA660.DLL"},              {112, "chybná knihovna KBRD1660.DLL"},
      {113, "chybná knihovna KCNV1660.DLL"},             {114, "chybná knihovna KNET1660.DLL"},
      {105, "neznámý chybový kód"},                      {107, "neznámý chybový kód"},
      {109, "neznámý chybový kód"},                      {115, "neznámý chybový kód"},
      {256, "neznámý chybový kód"},                      {0xFFFFFFFF, "neznámý chybový kód"},
  };
  for (const auto& row : table) {
    for (uint8_t iface : {uint8_t(0), uint8_t(4), uint8_t(7)}) {
      MessageBuffer buffer = Filled(0x5A);  // stale text must not survive
      EXPECT_EQ(DriverErrorText(iface, row.code, &buffer), 0u) << row.code;
      EXPECT_EQ(MessageBufferToString(buffer), QString::fromUtf8(row.text)) << row.code;
      EXPECT_EQ(DriverStatusText(iface, row.code), QString::fromUtf8(row.text)) << row.code;
    }
  }
}

// Every library name loads from the scripted directory, starts, exchanges, reads its texts
// and shuts down; Init receives the arguments of its interface's group.
TEST_F(LoaderTest, EachLibraryLoadsExchangesAndShutsDown) {
  for (uint8_t iface = 0; iface < InterfaceCount; ++iface) {
    SCOPED_TRACE(DriverLibraryName(iface).toStdString());
    ScriptedDriver drv(iface);
    drv.setHandle(0x1000 + iface);
    drv.setAnswer(200, 1, {9, 'Q', 'X', '5', '1'});

    static const char ip[] = "127.0.0.1";
    DriverParamBlock params{};
    params[0] = iface == InterfaceLan ? reinterpret_cast<uintptr_t>(ip) : 0x2A0;
    params[1] = 5000;
    params[2] = 300;
    params[15] = 0xBEEF;
    uint32_t h = 0;
    ASSERT_EQ(DriverInit(iface, &h, params), 0u);
    EXPECT_TRUE(DriverLibraryLoaded());
    EXPECT_EQ(h, 0x1000u + iface);

    EXPECT_EQ(DriverSetConfig(iface, h, 19200, 250, 2), 0u);
    const uint32_t req[8] = {7, 200, 1, 0, 0, 0, 0, 0};
    uint32_t resp[100] = {};
    uint32_t aux = 0, st = 0xFF;
    EXPECT_EQ(DriverSend(iface, h, req, resp, &aux, &st), 0u);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(aux & 0xFF, 9u);
    EXPECT_EQ(resp[0] & 0xFF, uint32_t('Q'));
    EXPECT_EQ(resp[3] & 0xFF, uint32_t('1'));

    EXPECT_EQ(DriverStatusText(iface, 0), "Bez chyby");
    EXPECT_EQ(DriverStatusText(iface, 10), "Chyba č. 10");
    EXPECT_EQ(DriverStatusText(iface, 99), "Chyba č. 99");
    EXPECT_EQ(DriverStatusText(iface, 101), "chyba inicializace knihovny KISA660.DLL");

    EXPECT_EQ(DriverDone(iface, &h), 0u);
    EXPECT_FALSE(DriverLibraryLoaded());
    EXPECT_EQ(DriverSend(iface, h, req, resp, &aux, &st), 10u);

    std::vector<LoggedCall> calls;
    for (const LoggedCall& call : drv.calls())
      if (call.kind != LoggedCall::Error) calls.push_back(call);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, LoggedCall::Init);
    if (iface <= InterfaceIsa) {
      EXPECT_EQ(calls[0].word0, 0x2A0u);
    }
    if (iface == InterfaceLan) {
      EXPECT_EQ(calls[0].ipText, "127.0.0.1");
      EXPECT_EQ(calls[0].block[0], reinterpret_cast<uintptr_t>(ip)) << "word 0 must carry the whole address";
      EXPECT_EQ(calls[0].block[1], 5000u);
      EXPECT_EQ(calls[0].block[2], 300u);
      EXPECT_EQ(calls[0].block[15], 0xBEEFu);
    }
    EXPECT_EQ(calls[1].kind, LoggedCall::SetConfig);
    EXPECT_EQ(calls[1].handle, 0x1000u + iface);
    EXPECT_EQ(calls[1].config, (std::array<uint32_t, 3>{19200, 250, 2}));
    EXPECT_EQ(calls[2].kind, LoggedCall::Send);
    EXPECT_EQ(calls[2].request, (std::array<uint32_t, 8>{7, 200, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(calls[3].kind, LoggedCall::Done);
    EXPECT_EQ(calls[3].handle, 0x1000u + iface);
  }
}

TEST_F(LoaderTest, WordInterfacesReceiveTheLow32BitsOfWord0) {
  ScriptedDriver drv(InterfaceIsa);
  DriverParamBlock params{};
  params[0] = uintptr_t(0x300);
  uint32_t h = 0;
  ASSERT_EQ(DriverInit(InterfaceIsa, &h, params), 0u);
  EXPECT_EQ(drv.calls().at(0).word0, 0x300u);
}

TEST_F(LoaderTest, ErrorTextOfLoadedDriverNeedsAValidInterface) {
  ScriptedDriver drv(InterfaceUsb);
  uint32_t h = 0;
  ASSERT_EQ(DriverInit(InterfaceUsb, &h, {}), 0u);
  MessageBuffer buffer = Filled(0x41);
  EXPECT_EQ(DriverErrorText(5, 3, &buffer), 10u);
  EXPECT_EQ(buffer, Filled(0x41));
  // The interface is only range-checked: the loaded library answers.
  EXPECT_EQ(DriverErrorText(InterfaceSerial, 3, &buffer), 0u);
  EXPECT_EQ(MessageBufferToString(buffer), "Chyba č. 3");
  uint32_t req[8] = {}, resp[100] = {}, aux = 0, st = 0;
  EXPECT_EQ(DriverSend(5, h, req, resp, &aux, &st), 10u);
  EXPECT_EQ(DriverSetConfig(5, h, 1, 2, 3), 10u);
  EXPECT_EQ(DriverDone(5, &h), 10u);
  EXPECT_TRUE(DriverLibraryLoaded()) << "a refused Done leaves the library loaded";
  EXPECT_EQ(drv.count(LoggedCall::Send) + drv.count(LoggedCall::SetConfig) + drv.count(LoggedCall::Done), 0);
}

TEST_F(LoaderTest, MissingOrBrokenLibraryGives100PlusType) {
  QTemporaryDir empty;
  QTemporaryDir broken;
  ASSERT_TRUE(empty.isValid() && broken.isValid());
  for (uint8_t iface = 0; iface < InterfaceCount; ++iface) {
    QFile f(LibraryPath(broken.path(), iface));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a shared object\n");
  }
  for (const QString& dir : {empty.path(), broken.path()}) {
    DriverSetLibraryDirectory(dir);
    for (uint8_t iface = 0; iface < InterfaceCount; ++iface) {
      uint32_t h = 0x33;
      EXPECT_EQ(DriverInit(iface, &h, {}), 100u + iface);
      EXPECT_FALSE(DriverLibraryLoaded());
      EXPECT_EQ(h, 0x33u);
    }
  }
}

TEST_F(LoaderTest, NeverLoadsFromTheWorkingDirectory) {
  QTemporaryDir empty;
  QTemporaryDir cwd;
  ASSERT_TRUE(QFile::copy(LibraryPath(ExeDir(), InterfaceSerial), LibraryPath(cwd.path(), InterfaceSerial)));
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(cwd.path()));
  DriverSetLibraryDirectory(empty.path());
  uint32_t h = 0;
  const uint32_t status = DriverInit(InterfaceSerial, &h, {});
  QDir::setCurrent(previous);
  EXPECT_EQ(status, 100u);
  EXPECT_FALSE(DriverLibraryLoaded());
}

// The dynamic linker reads LD_LIBRARY_PATH at start-up, so each search runs in a child with
// the variable set. A planted copy lies in the working directory, in a relative folder and in
// an absolute one; only the absolute one may be loaded (it lacks the entries: status 110).
TEST(LoaderSearch, LdLibraryPathNeverLeadsToTheWorkingDirectory) {
  QTemporaryDir cwd;
  QTemporaryDir absolute;
  ASSERT_TRUE(cwd.isValid() && absolute.isValid() && QDir(cwd.path()).mkdir("lib"));
  const QString relativeDir = cwd.path() + "/lib";
  for (const QString& dir : {cwd.path(), relativeDir, absolute.path()})
    ASSERT_TRUE(QFile::copy(QStringLiteral(QX510_PLANTED_LIBRARY), dir + "/KSER660.DLL"));

  struct Case {
    const char* name;
    std::optional<QString> path;  // nullopt: unset
    bool loadsAbsolute;
  };
  const Case cases[] = {
      {"unset", std::nullopt, false},
      {"empty", QString(), false},
      {"empty element first", ":/nonexistent", false},
      {"empty element last", "/nonexistent:", false},
      {"empty element between", "/nonexistent::/nonexistent", false},
      {"dot", ".", false},
      {"relative", "lib", false},
      {"dot before the absolute folder", ".:" + absolute.path(), true},
      {"absolute folder", absolute.path(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const QString& dir : {cwd.path(), relativeDir, absolute.path()}) QFile::remove(dir + "/loaded");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("LD_LIBRARY_PATH");
    if (c.path) env.insert("LD_LIBRARY_PATH", *c.path);
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.setWorkingDirectory(cwd.path());
    probe.start(QStringLiteral(QX510_LOADER_PROBE), {});
    ASSERT_TRUE(probe.waitForFinished(60000));
    EXPECT_EQ(probe.readAllStandardOutput().trimmed(), c.loadsAbsolute ? "110" : "100");
    EXPECT_FALSE(QFile::exists(cwd.path() + "/loaded"));
    EXPECT_FALSE(QFile::exists(relativeDir + "/loaded"));
    EXPECT_EQ(QFile::exists(absolute.path() + "/loaded"), c.loadsAbsolute);
  }
}

TEST_F(LoaderTest, LibraryDirectoryOverridesTheExecutableDirectory) {
  QTemporaryDir dir;
  ASSERT_TRUE(QFile::copy(LibraryPath(ExeDir(), InterfaceLan), LibraryPath(dir.path(), InterfaceLan)));
  ScriptedDriver copy(InterfaceLan, dir.path().toStdString());
  ScriptedDriver beside(InterfaceLan);
  DriverSetLibraryDirectory(dir.path());
  uint32_t h = 0;
  ASSERT_EQ(DriverInit(InterfaceLan, &h, {}), 0u);
  EXPECT_EQ(copy.count(LoggedCall::Init), 1);
  EXPECT_EQ(beside.count(LoggedCall::Init), 0);
}

// A library lacking any one of its seven entries is rejected and unloaded again, and
// nothing in it is called.
class MissingEntryTest : public LoaderTest, public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(MissingEntryTest, Gives110PlusTypeAndUnloads) {
  const auto [role, ifaceInt] = GetParam();
  const uint8_t iface = uint8_t(ifaceInt);
  const QString dir = ExeDir() + "/without_" + Roles[role];
  {
    ScriptedDriver drv(iface, dir.toStdString());
    DriverSetLibraryDirectory(dir);
    uint32_t h = 0x44;
    EXPECT_EQ(DriverInit(iface, &h, {}), 110u + iface);
    EXPECT_FALSE(DriverLibraryLoaded());
    EXPECT_EQ(h, 0x44u);
    EXPECT_TRUE(drv.calls().empty());
    EXPECT_EQ(DriverStatusText(iface, 110 + iface), "chybná knihovna " + DriverLibraryName(iface));
    MessageBuffer buffer = Filled(0x41);
    EXPECT_EQ(DriverErrorText(iface, 0, &buffer), 10u);
  }
  EXPECT_FALSE(Mapped(LibraryPath(dir, iface))) << "the rejected library must be unloaded";
}

INSTANTIATE_TEST_SUITE_P(AllEntriesAllInterfaces, MissingEntryTest,
                         ::testing::Combine(::testing::Range(0, 7), ::testing::Range(0, InterfaceCount)),
                         [](const auto& info) {
                           return std::string(Roles[std::get<0>(info.param)]) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

TEST_F(LoaderTest, FailedInitKeepsLibraryAndRetriesDoNotPileUp) {
  const QString path = LibraryPath(ExeDir(), InterfaceUsb);
  auto drv = std::make_unique<ScriptedDriver>(InterfaceUsb);
  drv->setInitStatus(7);
  uint32_t h = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(DriverInit(InterfaceUsb, &h, {}), 7u);
    EXPECT_EQ(h, 0u);
    // The library stays loaded with its entries available.
    EXPECT_TRUE(DriverLibraryLoaded());
    EXPECT_EQ(DriverStatusText(InterfaceUsb, 7), "Chyba č. 7");
  }
  EXPECT_EQ(drv->count(LoggedCall::Init), 3);
  drv->setInitStatus(0);
  ASSERT_EQ(DriverInit(InterfaceUsb, &h, {}), 0u);
  EXPECT_EQ(h, 0x51u);
  drv.reset();  // our own reference goes
  EXPECT_TRUE(Mapped(path));
  EXPECT_EQ(DriverDone(InterfaceUsb, &h), 0u);
  EXPECT_EQ(h, 0u);
  EXPECT_FALSE(DriverLibraryLoaded());
  EXPECT_FALSE(Mapped(path)) << "each attempt must release the library the previous one left loaded";
}

// A failed Init leaves its library loaded, state and all: the next attempt loads the same
// library afresh without unloading it in between, and gives back the reference it held.
TEST_F(LoaderTest, AttemptAfterAFailedInitFindsTheLibraryAsItWasLeft) {
  const QString path = LibraryPath(ExeDir(), InterfaceUsb);
  auto drv = std::make_unique<ScriptedDriver>(InterfaceUsb);
  drv->setInitStatus(7);
  uint32_t h = 0;
  ASSERT_EQ(DriverInit(InterfaceUsb, &h, {}), 7u);
  drv.reset();  // from here the loader's reference alone keeps it
  ASSERT_TRUE(Mapped(path));
  EXPECT_EQ(DriverStatusText(InterfaceUsb, 7), "Chyba č. 7");
  EXPECT_EQ(DriverInit(InterfaceUsb, &h, {}), 7u) << "a library loaded anew would have forgotten its state";
  drv = std::make_unique<ScriptedDriver>(InterfaceUsb);  // the same mapping: resets the script
  drv->setInitStatus(0);
  drv.reset();
  ASSERT_EQ(DriverInit(InterfaceUsb, &h, {}), 0u);
  EXPECT_EQ(DriverDone(InterfaceUsb, &h), 0u);
  EXPECT_FALSE(Mapped(path)) << "no attempt may keep a reference";
}

// The text of a result is that of its byte: the driver's Error entry is asked for 0..99 only,
// the loader's table answers from 100 up, and a failure whose low byte is 0 reads as 255.
TEST_F(LoaderTest, StatusTextIsTheTextOfTheResultsByte) {
  ScriptedDriver drv(InterfaceLan);
  uint32_t h = 0;
  ASSERT_EQ(DriverInit(InterfaceLan, &h, {}), 0u);
  const struct {
    uint32_t result;
    const char* text;
    int asked;  // the code the Error entry gets, -1 none
  } cases[] = {
      {0, "Bez chyby", 0},
      {7, "Chyba č. 7", 7},
      {0x107, "Chyba č. 7", 7},
      {0xFFFFFF63, "Chyba č. 99", 99},
      {104, "chyba inicializace knihovny KNET1660.DLL", -1},
      {0x172, "chybná knihovna KNET1660.DLL", -1},  // low byte 114
      {107, "neznámý chybový kód", -1},
      {0x100, "neznámý chybový kód", -1},
      {0x10000, "neznámý chybový kód", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    drv.clearLog();
    EXPECT_EQ(DriverStatusText(InterfaceLan, c.result), QString::fromUtf8(c.text));
    std::vector<uint32_t> asked;
    for (const LoggedCall& call : drv.calls()) asked.push_back(call.code);
    EXPECT_EQ(asked, c.asked < 0 ? std::vector<uint32_t>{} : std::vector<uint32_t>{uint32_t(c.asked)});
  }
}

TEST_F(LoaderTest, SwitchingInterfacesReleasesTheOldLibrary) {
  const QString serial = LibraryPath(ExeDir(), InterfaceSerial);
  uint32_t h = 0;
  ASSERT_EQ(DriverInit(InterfaceSerial, &h, {}), 0u);
  EXPECT_TRUE(Mapped(serial));
  ASSERT_EQ(DriverInit(InterfacePci, &h, {}), 0u);
  EXPECT_FALSE(Mapped(serial));
  EXPECT_EQ(DriverDone(InterfacePci, &h), 0u);
  EXPECT_FALSE(Mapped(LibraryPath(ExeDir(), InterfacePci)));
}

// The helper other suites connect with: the block filled as the connection dialog fills it.
TEST_F(LoaderTest, ConnectScriptedStartsTheDriverLikeTheDialog) {
  for (uint8_t iface : {uint8_t(InterfaceSerial), uint8_t(InterfaceIsa), uint8_t(InterfaceLan)}) {
    SCOPED_TRACE(int(iface));
    ScriptedDriver drv(iface);
    drv.setHandle(0x9A);
    TData data;
    InitData(&data);
    data.Interface = iface;
    data.ComPort = 3;
    data.IsaBaseAddress = 0x2A0;
    data.IpAddress = "127.0.0.1";
    data.UdpPort = 10001;
    data.UdpTimeout = 500;
    ConnectScripted(data);
    EXPECT_TRUE(IsConnected(&data));
    EXPECT_EQ(data.DriverHandle, 0x9Au);
    const LoggedCall init = drv.calls().at(0);
    if (iface != InterfaceLan) {
      EXPECT_EQ(init.word0, iface == InterfaceSerial ? 3u : 0x2A0u);
    } else {
      EXPECT_EQ(init.ipText, "127.0.0.1");
      EXPECT_EQ(init.block[1], 10001u);
      EXPECT_EQ(init.block[2], 500u);
    }
    DisconnectScripted(data);
    EXPECT_FALSE(IsConnected(&data));
    EXPECT_FALSE(DriverLibraryLoaded());
    EXPECT_EQ(drv.count(LoggedCall::Done), 1);
    EXPECT_EQ(drv.calls().back().handle, 0x9Au);
  }
}

}  // namespace
