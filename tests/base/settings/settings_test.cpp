#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <random>

#include "base/settings/settings.h"
#include "base/settings/tdata.h"

namespace {

// Czech names spelled out in Windows-1250 bytes, independent of the program's own conversion.
const QByteArray Conn = "[P\xF8ipojen\xED]";
const QByteArray Iface = "Rozhran\xED";
const QByteArray PortKey = "\xC8\xEDslo portu";
const QByteArray BaseKey = "B\xE1zov\xE1 adresa";

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

TData Defaults() {
  TData d;
  InitData(&d);
  return d;
}

// The members the settings file carries, plus a few it must never touch.
void ExpectSameSettings(const TData& actual, const TData& expected) {
  EXPECT_EQ(actual.Interface, expected.Interface);
  EXPECT_EQ(actual.ModuleAddress, expected.ModuleAddress);
  EXPECT_EQ(actual.BaudRate, expected.BaudRate);
  EXPECT_EQ(actual.ResponseTimeout, expected.ResponseTimeout);
  EXPECT_EQ(actual.IsaBaseAddress, expected.IsaBaseAddress);
  EXPECT_EQ(actual.ComPort, expected.ComPort);
  EXPECT_EQ(actual.IpAddress, expected.IpAddress);
  EXPECT_EQ(actual.UdpPort, expected.UdpPort);
  EXPECT_EQ(actual.UdpTimeout, expected.UdpTimeout);
  EXPECT_EQ(actual.ConnectionStatus, expected.ConnectionStatus);
  EXPECT_EQ(actual.Connected, expected.Connected);
  EXPECT_EQ(actual.DriverHandle, expected.DriverHandle);
  EXPECT_TRUE(actual.ModuleConfig == expected.ModuleConfig);
}

class SettingsTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path = dir.filePath("W_qx510.ini");
};

TEST(TDataDefaults, InitDataFillsEveryMemberAndLeavesIdentAlone) {
  TData d;
  d.ModuleIdent = QStringLiteral("kept");
  d.DriverParams.fill(7);
  d.ModuleConfig.DinNegation = {1, 2, 3, 4};
  InitData(&d);
  EXPECT_EQ(d.Interface, 0);
  EXPECT_EQ(d.ModuleAddress, 0);
  EXPECT_EQ(d.BaudRate, 9600);
  EXPECT_EQ(d.ResponseTimeout, 150);
  EXPECT_EQ(d.IsaBaseAddress, 768);
  EXPECT_EQ(d.ComPort, 1);
  EXPECT_EQ(d.IpAddress, QByteArray(DefaultIpAddress));
  EXPECT_EQ(d.UdpPort, 5000);
  EXPECT_EQ(d.UdpTimeout, 100);
  EXPECT_EQ(d.ConnectionStatus, QStringLiteral("Připojení modulu dosud neinicializováno"));
  EXPECT_EQ(d.DriverHandle, 0u);
  EXPECT_FALSE(d.Connected);
  EXPECT_EQ(d.ModuleIdent, QStringLiteral("kept"));
  for (uintptr_t w : d.DriverParams) EXPECT_EQ(w, 0u);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&d.ModuleConfig);
  const uint8_t expected[21] = {1, 4, 0, 0, 0, 0, 0, 0, 6, 0xFF, 0xFF, 0xFF, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  for (int i = 0; i < 21; ++i) EXPECT_EQ(bytes[i], expected[i]) << "byte " << i;
  InitData(nullptr);  // ignored
}

TEST(SettingsInteger, ParsesDecimalAndBothHexForms) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},           {"672", true, 672},       {"-1", true, -1},
      {"+15", true, 15},        {"$1F", true, 31},        {"$1f", true, 31},
      {"0x1F", true, 31},       {"0X1f", true, 31},       {"-$10", true, -16},
      {"$FFFFFFFF", true, -1},  {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},                   {" 42 ", true, 42},
      {"", false, 0},           {"$", false, 0},          {"0x", false, 0},
      {"-", false, 0},          {"12a", false, 0},        {"1 2", false, 0},
      {"$1G", false, 0},        {"0x1.5", false, 0},      {"2147483648", false, 0},
      {"$100000000", false, 0}, {"99999999999999999999", false, 0},
      {"x1F", false, 0},        {"1e3", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = 12345;
    EXPECT_EQ(ParseSettingsInteger(QByteArray(c.text), &v), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(v, c.ok ? c.value : 12345) << '"' << c.text << '"';
  }
}

TEST_F(SettingsTest, NullRecordAndMissingFileReturnFalse) {
  EXPECT_FALSE(LoadConnectionSettings(nullptr, path));
  EXPECT_FALSE(SaveConnectionSettings(nullptr, path));
  EXPECT_FALSE(QFile::exists(path));
  TData d = Defaults();
  EXPECT_FALSE(LoadConnectionSettings(&d, path));
  ExpectSameSettings(d, Defaults());
  EXPECT_TRUE(d.ModuleIdent.isEmpty());
}

// Each interface writes its own keys; the bytes on disk are Windows-1250 with CRLF.
TEST_F(SettingsTest, SaveWritesExactFilePerInterface) {
  const QByteArray head = Conn + "\r\n" + Iface + "=";
  const QByteArray common = "Adresa=200\r\nRychlost=115200\r\nTimeout=65535\r\n";
  const QByteArray gap = "\r\n";
  const QByteArray serial = head + "COMx\r\n" + common + gap + "[COMx]\r\n" + PortKey + "=12\r\n";
  struct Case {
    uint8_t iface;
    QByteArray expected;
  };
  const Case cases[] = {
      {0, serial},
      {1, head + "ZK-660\r\n" + common + gap + "[ZK-660]\r\n" + BaseKey + "=672\r\n"},
      {2, head + "ZK-1660\r\n" + common},
      {3, head + "ZC-1660\r\n" + common},
      {4, head + "QN-1660\r\n" + common + gap +
              "[QN-1660]\r\nIP adresa=127.0.0.40\r\nUDP port=-7\r\nUDP timeout=250\r\n"},
      {9, serial},  // no such interface: saved as the serial port
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.iface));
    QFile::remove(path);
    TData d = Defaults();
    d.Interface = c.iface;
    d.ModuleAddress = 200;
    d.BaudRate = 115200;
    d.ResponseTimeout = 65535;
    d.ComPort = 12;
    d.IsaBaseAddress = 0x2A0;
    d.IpAddress = "127.0.0.40";
    d.UdpPort = -7;
    d.UdpTimeout = 250;
    ASSERT_TRUE(SaveConnectionSettings(&d, path));
    EXPECT_EQ(ReadAll(path), c.expected);

    TData back = Defaults();
    ASSERT_TRUE(LoadConnectionSettings(&back, path));
    EXPECT_EQ(back.Interface, c.iface < 5 ? c.iface : 0);
    EXPECT_EQ(back.ModuleAddress, 200);
    EXPECT_EQ(back.BaudRate, 115200);
    EXPECT_EQ(back.ResponseTimeout, 65535);
    EXPECT_EQ(back.ComPort, (c.iface == 0 || c.iface > 4) ? 12 : 1);
    EXPECT_EQ(back.IsaBaseAddress, c.iface == 1 ? 0x2A0 : 0x300);
    EXPECT_EQ(back.IpAddress, c.iface == 4 ? QByteArray("127.0.0.40") : QByteArray(DefaultIpAddress));
    EXPECT_EQ(back.UdpPort, c.iface == 4 ? -7 : 5000);
    EXPECT_EQ(back.UdpTimeout, c.iface == 4 ? 250 : 100);
  }
}

// What a file holds against what the record ends up with, starting from the defaults.
TEST_F(SettingsTest, LoadAppliesWhatParsesAndKeepsTheRest) {
  struct Case {
    const char* name;
    QByteArray file;
    bool result;
    std::function<void(TData&)> expect;
  };
  const Case cases[] = {
      {"only interface", Conn + "\r\n" + Iface + "=QN-1660\r\n", true, [](TData& d) { d.Interface = 4; }},
      {"interface in other case", Conn + "\r\n" + Iface + "=qn-1660\r\nAdresa=7\r\n", true,
       [](TData& d) { d.ModuleAddress = 7; }},
      {"empty interface name", Conn + "\r\n" + Iface + "=\r\nTimeout=20\r\n", true,
       [](TData& d) { d.ResponseTimeout = 20; }},
      {"no interface key", Conn + "\r\nAdresa=7\r\n", false, [](TData&) {}},
      {"interface jkl", Conn + "\r\n" + Iface + "=jkl\r\nAdresa=7\r\n", false, [](TData&) {}},
      {"low bits kept", Conn + "\r\n" + Iface + "=ZK-660\r\nAdresa=300\r\nTimeout=70000\r\n[ZK-660]\r\n" +
                            BaseKey + "=$12345\r\n[COMx]\r\n" + PortKey + "=-1\r\n",
       true,
       [](TData& d) {
         d.Interface = 1;
         d.ModuleAddress = 44;
         d.ResponseTimeout = 4464;
         d.IsaBaseAddress = 0x2345;
         d.ComPort = 255;
       }},
      {"hex forms", Conn + "\r\n" + Iface + "=ZC-1660\r\nAdresa=$1F\r\nRychlost=0x4B00\r\n[ZK-660]\r\n" + BaseKey +
                        "=0x2A0\r\n",
       true,
       [](TData& d) {
         d.Interface = 3;
         d.ModuleAddress = 31;
         d.BaudRate = 19200;
         d.IsaBaseAddress = 672;
       }},
      {"invalid numbers keep members", Conn + "\r\n" + Iface + "=ZK-1660\r\nAdresa=abc\r\nRychlost=\r\n" +
                                           "Timeout=12ms\r\n[QN-1660]\r\nUDP port=5e3\r\nUDP timeout=0x\r\n",
       true, [](TData& d) { d.Interface = 2; }},
      {"LF line ends and blanks around", Conn + "\n " + Iface + " =  QN-1660  \n[QN-1660]\nIP adresa = 10.0.0.9 \n" +
                                             "UDP port=6000\nUDP timeout=300\n",
       true,
       [](TData& d) {
         d.Interface = 4;
         d.IpAddress = "10.0.0.9";
         d.UdpPort = 6000;
         d.UdpTimeout = 300;
       }},
      {"section line without its bracket", Conn + "\r\n" + Iface + "=QN-1660\r\n[QN-1660\r\nIP adresa=10.0.0.7\r\n", true,
       [](TData& d) {
         d.Interface = 4;
         d.IpAddress = "10.0.0.7";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(path, c.file);
    TData d = Defaults();
    TData expected = Defaults();
    c.expect(expected);
    EXPECT_EQ(LoadConnectionSettings(&d, path), c.result);
    ExpectSameSettings(d, expected);
  }
}

TEST_F(SettingsTest, KeysOfOtherInterfacesSurviveASave) {
  TData lan = Defaults();
  lan.Interface = 4;
  lan.IpAddress = "10.0.0.7";
  lan.UdpPort = 7000;
  ASSERT_TRUE(SaveConnectionSettings(&lan, path));

  TData pci = Defaults();
  pci.Interface = 2;
  pci.IpAddress = "10.9.9.9";  // not written for interface 2
  pci.ComPort = 3;
  ASSERT_TRUE(SaveConnectionSettings(&pci, path));
  const QByteArray bytes = ReadAll(path);
  EXPECT_TRUE(bytes.contains("IP adresa=10.0.0.7\r\n"));
  EXPECT_FALSE(bytes.contains("10.9.9.9"));
  EXPECT_FALSE(bytes.contains(PortKey));

  TData back = Defaults();
  ASSERT_TRUE(LoadConnectionSettings(&back, path));
  EXPECT_EQ(back.Interface, 2);
  EXPECT_EQ(back.IpAddress, QByteArray("10.0.0.7"));
  EXPECT_EQ(back.UdpPort, 7000);
  EXPECT_EQ(back.ComPort, 1);
}

TEST_F(SettingsTest, UnknownContentAndCommentsAreKeptAndSavesAreStable) {
  const QByteArray original = "; nastaven\xED pro linku 3\r\n\r\n; p\xF8ipojen\xED\r\n" + Conn + "\r\n" + Iface +
                              "=COMx\r\nPozn\xE1mka=\xB9kol\xE1k\r\n\r\n[Jin\xE9]\r\n# hash comment\r\nKl\xED\xE8=hodnota\r\n"
                              "\r\n; konec souboru\r\n";
  WriteAll(path, original);
  TData d = Defaults();
  ASSERT_TRUE(LoadConnectionSettings(&d, path));
  ASSERT_TRUE(SaveConnectionSettings(&d, path));
  const QByteArray first = ReadAll(path);
  for (const QByteArray& kept :
       {QByteArray("; nastaven\xED pro linku 3\r\n"), QByteArray("; p\xF8ipojen\xED\r\n" + Conn + "\r\n"),
        QByteArray("Pozn\xE1mka=\xB9kol\xE1k\r\n"), QByteArray("[Jin\xE9]\r\n"), QByteArray("# hash comment\r\n"),
        QByteArray("Kl\xED\xE8=hodnota\r\n"), QByteArray("; konec souboru\r\n")}) {
    EXPECT_TRUE(first.contains(kept)) << kept.toStdString();
  }
  EXPECT_TRUE(first.endsWith("; konec souboru\r\n"));
  EXPECT_EQ(first.count("\r\n"), first.count('\n'));  // CRLF throughout

  TData again = Defaults();
  ASSERT_TRUE(LoadConnectionSettings(&again, path));
  ASSERT_TRUE(SaveConnectionSettings(&again, path));
  EXPECT_EQ(ReadAll(path), first);
}

TEST_F(SettingsTest, IpAddressCannotInjectLines) {
  TData d = Defaults();
  d.Interface = 4;
  d.IpAddress = QByteArray("10.0.0.1\r\n[P\xF8ipojen\xED]\r\nRozhran\xED=ZK-660");
  ASSERT_TRUE(SaveConnectionSettings(&d, path));
  TData back = Defaults();
  ASSERT_TRUE(LoadConnectionSettings(&back, path));
  EXPECT_EQ(back.Interface, 4);
  EXPECT_EQ(back.IpAddress, QByteArray("10.0.0.1"));
}

TEST_F(SettingsTest, Utf8EditedFileIsReadAsUtf8AndWrittenBackAsWindows1250) {
  const QByteArray body = QStringLiteral(
                              "[Připojení]\nRozhraní=QN-1660\nAdresa=17\n[ZK-660]\nBázová adresa=512\n"
                              "[QN-1660]\nIP adresa=10.1.2.3\n[Jiné]\nPoznámka=žluťoučký kůň 😀\n")
                              .toUtf8();
  for (const QByteArray& file : {body, QByteArray("\xEF\xBB\xBF") + body}) {
    SCOPED_TRACE(file.startsWith("\xEF") ? "with BOM" : "without BOM");
    WriteAll(path, file);
    TData d = Defaults();
    ASSERT_TRUE(LoadConnectionSettings(&d, path));
    EXPECT_EQ(d.Interface, 4);
    EXPECT_EQ(d.ModuleAddress, 17);
    EXPECT_EQ(d.IsaBaseAddress, 512);
    EXPECT_EQ(d.IpAddress, QByteArray("10.1.2.3"));

    ASSERT_TRUE(SaveConnectionSettings(&d, path));
    const QByteArray saved = ReadAll(path);
    EXPECT_TRUE(saved.startsWith(Conn + "\r\n" + Iface + "=QN-1660\r\n"));
    EXPECT_TRUE(saved.contains("Pozn\xE1mka=\x9Elu\x9Dou\xE8k\xFD k\xF9\xF2 ?\r\n"));
    EXPECT_FALSE(saved.contains("\xEF\xBB\xBF"));
    EXPECT_EQ(saved.count(Conn), 1);  // not a second section spelled in UTF-8
  }
}

TEST_F(SettingsTest, GarbageAndHugeFilesLoadWithoutHarm) {
  std::mt19937 random(510);
  QByteArray noise(256 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const QByteArray settings = "\n" + Conn + "\r\n" + Iface + "=ZK-1660\r\nAdresa=33\r\n";

  struct Case {
    const char* name;
    QByteArray file;
    bool settingsFound;
  };
  const Case cases[] = {
      {"binary only", noise, false},
      {"binary then settings", noise + settings, true},
      {"settings then binary", settings + noise, true},
      {"unbalanced brackets and equals", "[[[\r\n]]]=\r\n=5\r\n[" + QByteArray(5000, '[') + "\r\n" + settings, true},
      // Refused whole: a part of it is never taken for the whole.
      {"huge", settings + QByteArray(3 * 1024 * 1024, 'x') + "\r\n[COMx]\r\n" + PortKey + "=9\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(path, c.file);
    TData d = Defaults();
    LoadConnectionSettings(&d, path);
    if (c.settingsFound) {
      EXPECT_EQ(d.Interface, 2);
      EXPECT_EQ(d.ModuleAddress, 33);
    }
    EXPECT_EQ(d.ComPort, 1);
    // Saving over such a file still leaves a file the program reads back.
    d.Interface = 3;
    d.BaudRate = 57600;
    if (c.file.size() > MaxSettingsFileBytes) continue;  // kept as it is, see below
    ASSERT_TRUE(SaveConnectionSettings(&d, path));
    EXPECT_LE(QFileInfo(path).size(), 2 * MaxSettingsFileBytes);
    TData back = Defaults();
    ASSERT_TRUE(LoadConnectionSettings(&back, path));
    EXPECT_EQ(back.Interface, 3);
    EXPECT_EQ(back.BaudRate, 57600);
  }
}

// A file larger than the limit is neither read nor written: a save would drop what was not read.
TEST_F(SettingsTest, SaveLeavesAFileLargerThanTheReadLimitAsItIs) {
  const QByteArray filler = "; " + QByteArray(1500 * 1024, 'x') + "\r\n";
  const QByteArray tail = "[COMx]\r\n" + PortKey + "=9\r\n";
  struct Case {
    const char* name;
    QByteArray file;
    bool loads;
  };
  const Case cases[] = {
      {"with the connection section", Conn + "\r\n" + Iface + "=ZK-660\r\nAdresa=5\r\n" + filler + tail, false},
      {"without the connection section", filler + tail, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(path, c.file);
    TData d = Defaults();
    EXPECT_EQ(LoadConnectionSettings(&d, path), c.loads);
    d.ModuleAddress = 99;
    QString error;
    EXPECT_FALSE(SaveConnectionSettings(&d, path, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(ReadAll(path) == c.file);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"W_qx510.ini"});
  }
}

// Runs `body` where the file system refuses writes in `dir`: as root, in a child process that
// gave up its privileges; otherwise here. Returns what body returned.
bool WithoutWriteAccess(const QString& dir, const std::function<bool()>& body) {
  QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                 QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
  bool result = false;
  if (geteuid() != 0) {
    result = body();
  } else {
    const pid_t child = fork();
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
      _exit(body() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 3) << "could not drop privileges";
    result = WEXITSTATUS(status) == 1;
  }
  QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return result;
}

TEST_F(SettingsTest, FailedSaveInReadOnlyFolderKeepsOldFile) {
  const QByteArray old = Conn + "\r\n" + Iface + "=ZK-660\r\nAdresa=5\r\n";
  WriteAll(path, old);
  QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                  QFileDevice::ReadGroup);
  TData d = Defaults();
  d.ModuleAddress = 99;
  const bool saved = WithoutWriteAccess(dir.path(), [&] { return SaveConnectionSettings(&d, path); });
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadAll(path), old);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"W_qx510.ini"});
}

TEST_F(SettingsTest, FailedWriteOnFullDiskKeepsOldFile) {
  const QByteArray old = Conn + "\r\n" + Iface + "=ZK-660\r\nAdresa=5\r\n";
  WriteAll(path, old);
  TData d = Defaults();
  d.IsaBaseAddress = 0x280;
  // A file size limit below the new file's size makes the write fail as a full disk would.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tiny = saved;
  tiny.rlim_cur = 16;
  setrlimit(RLIMIT_FSIZE, &tiny);
  QString error;
  const bool ok = SaveConnectionSettings(&d, path, &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(ReadAll(path), old);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"W_qx510.ini"});
}

TEST_F(SettingsTest, UnreadableOrMisplacedFileIsNeitherLoadedNorOverwritten) {
  TData d = Defaults();
  d.Interface = 3;
  // A directory where the file should be.
  ASSERT_TRUE(QDir(dir.path()).mkdir("W_qx510.ini"));
  EXPECT_FALSE(LoadConnectionSettings(&d, path));
  QString error;
  EXPECT_FALSE(SaveConnectionSettings(&d, path, &error));
  EXPECT_FALSE(error.isEmpty());
  // A folder that does not exist.
  EXPECT_FALSE(SaveConnectionSettings(&d, dir.filePath("missing/W_qx510.ini")));
}

}  // namespace

TEST(SettingsLocation, BesideExecutableWhenWritableOrPresentElseUserFolder) {
  enum class Dir { Writable, ReadOnly, Missing, Unknown };
  struct Case {
    const char* name;
    Dir executableDir;
    bool fileThere;
    bool expectBeside;
    bool installed = false;  // the package's mark beside the executable
  };
  const Case cases[] = {
      {"portable copy, first run", Dir::Writable, false, true},
      {"portable copy, file saved", Dir::Writable, true, true},
      {"read-only copy, file put there by hand", Dir::ReadOnly, true, true},
      {"read-only copy, no file", Dir::ReadOnly, false, false},
      {"directory gone", Dir::Missing, false, false},
      {"executable's directory unknown", Dir::Unknown, false, false},
      {"installed, run by root who may write beside it", Dir::Writable, false, false, true},
      {"installed, a file beside it is not used", Dir::Writable, true, false, true},
      {"installed, read-only, a file beside it", Dir::ReadOnly, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir root;
    const QString exeDir = c.executableDir == Dir::Unknown ? QString() : root.filePath("lib");
    const QString userDir = root.filePath("config/qx510");
    if (c.executableDir == Dir::Writable || c.executableDir == Dir::ReadOnly) {
      ASSERT_TRUE(QDir().mkpath(exeDir));
    }
    if (c.fileThere) WriteAll(QDir(exeDir).filePath("W_qx510.ini"), "[x]\r\n");
    if (c.installed) WriteAll(QDir(exeDir).filePath(InstalledMarkerName), "");
    const QString expected = QDir(c.expectBeside ? exeDir : userDir).filePath("W_qx510.ini");
    const auto chosenRight = [&] { return ChooseConnectionSettingsPath(exeDir, userDir) == expected; };
    if (c.executableDir == Dir::ReadOnly) {
      // The child that gives up root must reach the directory.
      QFile::setPermissions(root.path(), QFile::permissions(root.path()) | QFileDevice::ExeOther);
      EXPECT_TRUE(WithoutWriteAccess(exeDir, chosenRight)) << qPrintable(expected);
    } else {
      EXPECT_EQ(ChooseConnectionSettingsPath(exeDir, userDir), expected);
    }
  }
}

TEST(SettingsLocation, SaveCreatesTheUserFolderButNoOtherMissingFolder) {
  QTemporaryDir root;
  const bool hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
  const QByteArray oldConfigHome = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", root.path().toLocal8Bit());
  const QString own = QDir(UserSettingsDirectory()).filePath("W_qx510.ini");
  TData d = Defaults();
  d.ComPort = 7;
  const bool savedOwn = SaveConnectionSettings(&d, own);
  const bool savedElsewhere = SaveConnectionSettings(&d, root.filePath("other/W_qx510.ini"));
  if (hadConfigHome) {
    qputenv("XDG_CONFIG_HOME", oldConfigHome);
  } else {
    qunsetenv("XDG_CONFIG_HOME");
  }
  EXPECT_EQ(own, root.filePath("qx510/W_qx510.ini"));
  EXPECT_TRUE(savedOwn);
  EXPECT_FALSE(savedElsewhere);
  TData back = Defaults();
  ASSERT_TRUE(LoadConnectionSettings(&back, own));
  EXPECT_EQ(back.ComPort, 7);
}
