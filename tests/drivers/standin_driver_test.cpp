// The five stand-in drivers, called through their entries: with no simulator, against the
// in-process simulator on 127.0.0.1, and (LAN) against a converter that misbehaves.
#include <gtest/gtest.h>

#include <elf.h>
#include <sys/un.h>

#include <QByteArray>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <thread>

#include "base/exchange/driver_loader.h"
#include "sim/sim_server.h"
#include "tests/sim/standin_support.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t NotRunning = 1, Timeout = 2, BadHandle = 3, BadParams = 4, BadIp = 7, BadPort = 8;

std::array<uint32_t, 8> Request(uint8_t address, uint8_t command, uint8_t index, std::array<uint8_t, 5> d = {}) {
  return {address, command, index, d[0], d[1], d[2], d[3], d[4]};
}
std::array<uint32_t, 8> ReadCfg(uint8_t a, uint8_t module = 0) { return Request(module, 102, 0, {0, a, a, 0, 0}); }
std::array<uint32_t, 8> WriteCfg(uint8_t a, uint8_t v, uint8_t module = 0) {
  return Request(module, 103, 0, {0, a, a, v, v});
}

// Each test gets its own endpoint path, so no running simulator of the user's is reached.
class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    endpoint_ = dir_.filePath("sim.sock").toStdString();
    ::setenv(simproto::EndpointEnv, endpoint_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv(simproto::EndpointEnv); }

  std::unique_ptr<SimServer> startSim() {
    SimServerOptions o;
    o.wire = simline::Wire::Instant;  // measures no time
    o.udpPort = 0;
    o.localPath = endpoint_;
    auto sim = std::make_unique<SimServer>(o);
    std::string error;
    EXPECT_TRUE(sim->start(&error)) << error;
    return sim;
  }

  QTemporaryDir dir_;
  std::string endpoint_;
};

TEST_F(StandinTest, EveryInterfaceReportsTheSimulatorNotRunning) {
  // A socket file left behind by a simulator that died must read as "not running" too.
  {
    SimServerOptions o;
    o.wire = simline::Wire::Instant;  // measures no time
    o.udpPort = -1;
    o.localPath = endpoint_;
    SimServer dead(o);
    ASSERT_TRUE(dead.start());
    dead.stop();
  }
  for (bool staleFile : {false, true}) {
    if (staleFile) {
      const int s = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      std::snprintf(a.sun_path, sizeof a.sun_path, "%s", endpoint_.c_str());
      ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
      ::close(s);  // the file stays, nobody listens
    }
    for (int kind = 0; kind < 4; ++kind) {
      StandinLib lib(kind);
      uint32_t handle = 0x77;
      EXPECT_EQ(lib.init(&handle), NotRunning) << StandinPrefixes[kind] << " stale file " << staleFile;
      EXPECT_EQ(handle, 0x77u) << "a failed Init wrote a handle";
      EXPECT_EQ(lib.errorText(NotRunning), "Simulátor modulu QX-510 není spuštěn");
    }
  }

  // UDP has no connection: the LAN stand-in comes up and its first exchange finds the
  // port closed, well before its timeout.
  StandinLib lan(4);
  uint32_t handle = 0;
  ASSERT_EQ(lan.init(&handle, "127.0.0.1", ClosedUdpPort(), 2000), 0u);
  ASSERT_NE(handle, 0u);
  ASSERT_EQ(lan.setConfig(handle, 9600, 1000, 2), 0u);
  const auto start = Clock::now();
  const auto r = lan.exchange(handle, Request(0, 200, 0));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(r.returned, NotRunning);
  EXPECT_EQ(r.status, NotRunning);
  EXPECT_EQ(r.aux, 0u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(r.response[size_t(i)], 0u) << "response word " << i << " not cleared";
  EXPECT_EQ(lan.done(&handle), 0u);
  EXPECT_EQ(handle, 0u);
}

// A simulator that listens but never accepts nor reads: stalled, or overloaded with its
// backlog full.
class StalledListener {
 public:
  explicit StalledListener(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    const sockaddr_un a = Address();
    EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd_, 1), 0);
  }
  ~StalledListener() {
    for (int c : clients_) ::close(c);
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  // Connects clients of its own until the backlog takes no more.
  void fill() {
    for (;;) {
      const int c = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
      const sockaddr_un a = Address();
      if (::connect(c, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(c);
        return;
      }
      clients_.push_back(c);
    }
  }

 private:
  sockaddr_un Address() const {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path_.c_str());
    return a;
  }
  std::string path_;
  int fd_ = -1;
  std::vector<int> clients_;
};

TEST_F(StandinTest, StalledSimulatorGivesTheTimeoutStatus) {
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(StandinPrefixes[kind]);
    StalledListener sim(endpoint_);
    StandinLib lib(kind);
    // This connection got into the backlog before it filled; nothing reads what it sends.
    uint32_t handle = 0;
    ASSERT_EQ(lib.init(&handle), 0u);
    ASSERT_EQ(lib.setConfig(handle, 9600, 1, 2), 0u);
    sim.fill();
    StandinLib other((kind + 1) % 4);  // another line: this one is held
    uint32_t refused = 0x77;
    EXPECT_EQ(other.init(&refused), Timeout);
    EXPECT_EQ(refused, 0x77u);
    // More requests than the unread queue holds: the later ones find no room to be sent.
    for (int i = 0; i < 1000; ++i) {
      const auto r = lib.exchange(handle, Request(0, 200, 0));
      ASSERT_EQ(r.returned, Timeout) << "request " << i;
    }
    EXPECT_EQ(lib.done(&handle), 0u);
  }
}

// What a library's dynamic section offers to dlsym and to dlopen's name matching.
struct DynamicSymbols {
  bool read = false;
  std::set<std::string> defined;  // global or weak, default or protected visibility
  std::string soname;
};

DynamicSymbols ReadDynamicSymbols(const std::string& path) {
  DynamicSymbols out;
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  auto at = [&](uint64_t offset, auto& value) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof value) return false;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return true;
  };
  auto text = [&](const Elf64_Shdr& strtab, uint64_t offset) {
    std::string s;
    for (uint64_t i = strtab.sh_offset + offset; i < bytes.size() && bytes[i] != 0; ++i) s += bytes[i];
    return s;
  };
  Elf64_Ehdr eh{};
  if (!at(0, eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return out;
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  for (size_t i = 0; i < sections.size(); ++i)
    if (!at(eh.e_shoff + i * eh.e_shentsize, sections[i])) return out;
  for (const Elf64_Shdr& sh : sections) {
    if ((sh.sh_type != SHT_DYNSYM && sh.sh_type != SHT_DYNAMIC) || sh.sh_link >= sections.size()) continue;
    const Elf64_Shdr& strtab = sections[sh.sh_link];
    for (uint64_t off = 0; sh.sh_entsize != 0 && off + sh.sh_entsize <= sh.sh_size; off += sh.sh_entsize) {
      if (sh.sh_type == SHT_DYNSYM) {
        Elf64_Sym sym{};
        if (!at(sh.sh_offset + off, sym)) return out;
        const int bind = ELF64_ST_BIND(sym.st_info), vis = ELF64_ST_VISIBILITY(sym.st_other);
        if (sym.st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK) &&
            (vis == STV_DEFAULT || vis == STV_PROTECTED))
          out.defined.insert(text(strtab, sym.st_name));
      } else {
        Elf64_Dyn dyn{};
        if (!at(sh.sh_offset + off, dyn)) return out;
        if (dyn.d_tag == DT_SONAME) out.soname = text(strtab, dyn.d_un.d_val);
      }
    }
  }
  out.read = true;
  return out;
}

TEST_F(StandinTest, LibrariesOfferTheSevenEntriesAndNoSoname) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "the reader knows 64-bit ELF only";
  for (const char* prefix : StandinPrefixes) {
    SCOPED_TRACE(prefix);
    const DynamicSymbols dyn =
        ReadDynamicSymbols(QCoreApplication::applicationDirPath().toStdString() + "/" + prefix + ".DLL");
    ASSERT_TRUE(dyn.read);
    std::set<std::string> entries;
    for (const char* role : {"Version", "Init", "SetConfig", "GetConfig", "Send", "Done", "Error"})
      entries.insert(std::string(prefix) + "_" + role);
    EXPECT_EQ(dyn.defined, entries);
    EXPECT_EQ(dyn.soname, "");
  }

  // Held open from here, a library must still not be found by its bare name elsewhere: the
  // loader's fallback would otherwise pick up this copy instead of reporting it missing.
  StandinLib held(0);
  QTemporaryDir empty;
  DriverSetLibraryDirectory(empty.path());
  uint32_t handle = 0x33;
  EXPECT_EQ(DriverInit(InterfaceSerial, &handle, {}), 100u);
  EXPECT_FALSE(DriverLibraryLoaded());
  DriverSetLibraryDirectory(QString());
}

TEST_F(StandinTest, ErrorTextsCoverEveryCode) {
  const std::pair<uint32_t, const char*> known[] = {
      {0, "Bez chyby"},
      {1, "Simulátor modulu QX-510 není spuštěn"},
      {2, "Modul neodpověděl (vypršel čas pro odpověď)"},
      {3, "Neplatný identifikátor připojení"},
      {4, "Neplatné parametry volání ovladače"},
      {22, "Adresa mimo konfigurační paměť modulu"},
  };
  for (int kind = 0; kind < 5; ++kind) {
    StandinLib lib(kind);
    for (const auto& [code, text] : known) EXPECT_EQ(lib.errorText(code), text) << StandinPrefixes[kind];
    std::set<std::string> distinct;
    for (uint32_t code = 0; code < 100; ++code) {
      const std::string text = lib.errorText(code);
      EXPECT_FALSE(text.empty()) << code;
      distinct.insert(text);
    }
    EXPECT_EQ(distinct.size(), 100u) << "two codes share a text";
    EXPECT_EQ(lib.errorText(57), "Neznámý chybový kód 57");
    EXPECT_EQ(lib.errorText(4000000000u), "Neznámý chybový kód 4000000000");
    EXPECT_NE(lib.error(1, nullptr), 0u);
    uint32_t v = 0;
    EXPECT_EQ(lib.version(&v), 0u);
  }
}

TEST_F(StandinTest, RefusesBadParametersAndHandles) {
  auto sim = startSim();
  // Init parameters.
  {
    StandinLib ser(0), isa(1), lan(4);
    uint32_t h = 0;
    EXPECT_EQ(ser.initWord(&h, 0), BadParams);
    EXPECT_EQ(ser.initWord(&h, 256), BadParams);
    EXPECT_EQ(isa.initWord(&h, 0x50), BadParams);
    EXPECT_EQ(ser.initWord(nullptr, 1), BadParams);
    EXPECT_EQ(lan.initBlock(&h, nullptr), BadParams);
    std::array<uintptr_t, 16> block{};
    block[1] = 5000;
    EXPECT_EQ(lan.initBlock(&h, block.data()), BadIp) << "null IP text";
    for (const char* ip : {"", "999.1.1.1", "localhost", "127.0.0", "127.0.0.1 "})
      EXPECT_EQ(lan.init(&h, ip, 5000), BadIp) << "'" << ip << "'";
    EXPECT_EQ(lan.init(&h, "127.0.0.1", 0), BadPort);
    block[0] = reinterpret_cast<uintptr_t>("127.0.0.1");
    block[1] = 70000;
    EXPECT_EQ(lan.initBlock(&h, block.data()), BadPort);
    EXPECT_EQ(h, 0u);
  }
  for (int kind = 0; kind < 5; ++kind) {
    SCOPED_TRACE(StandinPrefixes[kind]);
    StandinLib lib(kind);
    uint32_t h = 0;
    ASSERT_EQ(lib.init(&h, "127.0.0.1", sim->udpPort()), 0u);
    EXPECT_EQ(lib.setConfig(h + 1, 9600, 100, 2), BadHandle);
    EXPECT_EQ(lib.setConfig(h, 0, 100, 2), BadParams);
    EXPECT_EQ(lib.setConfig(h, 9600, 0, 2), BadParams);
    ASSERT_EQ(lib.setConfig(h, 19200, 123, 2), 0u);
    uint32_t a = 0, b = 0, c = 0;
    EXPECT_EQ(lib.getConfig(h, &a, &b, &c), 0u);
    const std::array<uint32_t, 3> got{a, b, c}, want{19200, 123, 2};
    EXPECT_EQ(got, want);

    auto bad = Request(0, 200, 0);
    bad[3] = 0x100;  // a request word must hold a byte
    EXPECT_EQ(lib.exchange(h, bad).returned, BadParams);
    std::array<uint32_t, 100> response{};
    uint32_t aux = 0, status = 0;
    const auto req = Request(0, 200, 0);
    EXPECT_EQ(lib.send(h, nullptr, response.data(), &aux, &status), BadParams);
    EXPECT_EQ(lib.send(h, req.data(), nullptr, &aux, &status), BadParams);
    EXPECT_EQ(lib.send(h, req.data(), response.data(), nullptr, &status), BadParams);
    EXPECT_EQ(lib.send(h, req.data(), response.data(), &aux, nullptr), BadParams);
    EXPECT_EQ(lib.exchange(0, req).returned, BadHandle);

    const uint32_t old = h;
    EXPECT_EQ(lib.done(&h), 0u);
    EXPECT_EQ(lib.done(&h), BadHandle);
    uint32_t stale = old;
    EXPECT_EQ(lib.exchange(stale, req).returned, BadHandle);
    // A new connection may reuse the slot but never the old handle's value.
    uint32_t again = 0;
    ASSERT_EQ(lib.init(&again, "127.0.0.1", sim->udpPort()), 0u);
    EXPECT_NE(again, old);
    EXPECT_EQ(lib.exchange(old, req).returned, BadHandle);
    EXPECT_EQ(lib.done(&stale), BadHandle);
    EXPECT_EQ(lib.done(&again), 0u);
    EXPECT_EQ(lib.done(nullptr), BadParams);
  }
}

class StandinEveryInterface : public StandinTest, public ::testing::WithParamInterface<int> {};

TEST_P(StandinEveryInterface, TalksToTheSimulatedModule) {
  const int kind = GetParam();
  auto sim = startSim();
  StandinLib lib(kind);
  uint32_t h = 0;
  ASSERT_EQ(lib.init(&h, "127.0.0.1", sim->udpPort(), 10), 0u);
  ASSERT_EQ(lib.setConfig(h, 9600, 60, 2), 0u);

  std::string ident;
  for (uint8_t index : {0, 1, 2}) {
    const auto r = lib.exchange(h, Request(0, 200, index));
    ASSERT_EQ(r.returned, 0u);
    ASSERT_EQ(r.status, 0u);
    for (int i = 1; i <= 4; ++i) ident += char(r.data[size_t(i)]);
  }
  EXPECT_EQ(ident, std::string(SimModule::Name) + SimModule::FirmwareVersion);

  const uint8_t value = uint8_t(0xA0 + kind);
  EXPECT_EQ(lib.exchange(h, WriteCfg(40, value)).status, 0u);
  EXPECT_EQ(lib.exchange(h, ReadCfg(40)).data[3], value);
  EXPECT_EQ(sim->snapshot().configByte(40), value);

  // A module's refusal is a status of the exchange, not a failed call.
  const auto refused = lib.exchange(h, ReadCfg(70));
  EXPECT_EQ(refused.returned, 0u);
  EXPECT_EQ(refused.status, simproto::ModuleStatus::BadConfigAddress);
  EXPECT_EQ(refused.data, (std::array<uint8_t, 5>{}));

  // Nobody answers another address or another rate: the driver waits out its timeout
  // (LAN: response timeout plus UDP timeout) and says so.
  const auto waitMs = std::chrono::milliseconds(60 + (kind == 4 ? 10 : 0));
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) {
      ASSERT_EQ(lib.setConfig(h, 19200, 60, 2), 0u);
    }
    const auto start = Clock::now();
    const auto r = lib.exchange(h, attempt == 0 ? ReadCfg(63, 5) : ReadCfg(63));
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.returned, Timeout) << "attempt " << attempt;
    EXPECT_EQ(r.status, Timeout);
    EXPECT_GE(took, waitMs);
    EXPECT_LT(took, waitMs + std::chrono::milliseconds(400));
  }
  ASSERT_EQ(lib.setConfig(h, 9600, 60, 2), 0u);
  EXPECT_EQ(lib.exchange(h, ReadCfg(40)).data[3], value);
  EXPECT_EQ(lib.done(&h), 0u);
}

INSTANTIATE_TEST_SUITE_P(Interfaces, StandinEveryInterface, ::testing::Range(0, 5),
                         [](const auto& info) { return std::string(StandinPrefixes[info.param]); });

TEST_F(StandinTest, LocalInterfacesFollowARestartedSimulator) {
  auto sim = startSim();
  StandinLib lib(3);
  uint32_t h = 0;
  ASSERT_EQ(lib.init(&h), 0u);
  ASSERT_EQ(lib.exchange(h, WriteCfg(41, 0x5A)).status, 0u);
  sim.reset();
  EXPECT_EQ(lib.exchange(h, ReadCfg(41)).returned, NotRunning);
  sim = startSim();
  const auto r = lib.exchange(h, ReadCfg(41));
  EXPECT_EQ(r.returned, 0u);
  EXPECT_EQ(r.data[3], 0) << "a fresh simulator without a state file starts with factory memory";
  EXPECT_EQ(lib.done(&h), 0u);
}

// --- the local stand-ins against a simulator that sends records of no bytes ---

// A record of no bytes reads as the end of the connection does; while the connection is open
// it is a damaged frame: passed over and counted, and the exchange waits on for its answer.
// Only damaged frames within the timeout end it with status 9, and the connection stays.
struct EmptyRecordCase {
  const char* name;
  int emptyRecords;      // sent before the answer (or instead of it)
  bool answered;         // the real answer follows them
};

class StandinEmptyRecords : public StandinTest, public ::testing::WithParamInterface<EmptyRecordCase> {};

TEST_P(StandinEmptyRecords, AreDamagedFramesNotAHangUp) {
  constexpr uint32_t Damaged = 9;
  const EmptyRecordCase c = GetParam();
  const std::array<uint8_t, 5> good = {0, 0x11, 0x22, 0x33, 0x44};
  FakeLocalSimulator sim(endpoint_, [&](FakeLocalSimulator& f, int n, const simproto::Request& r, int connection) {
    if (n % 2 == 1) {  // each interface's first request meets the case, its second a plain answer
      for (int i = 0; i < c.emptyRecords; ++i) f.sendRaw(connection, "", 0);
      if (!c.answered) return;
    }
    f.reply(connection, FakeLocalSimulator::AnswerTo(r, good));
  });
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(StandinPrefixes[kind]);
    StandinLib lib(kind);
    uint32_t h = 0;
    ASSERT_EQ(lib.init(&h), 0u);
    ASSERT_EQ(lib.setConfig(h, 9600, 100, 2), 0u);
    const auto start = Clock::now();
    const auto first = lib.exchange(h, Request(0, 100, 0));
    if (c.answered) {
      EXPECT_EQ(first.returned, 0u);
      EXPECT_EQ(first.status, 0u);
      EXPECT_EQ(first.data, good);
    } else {
      EXPECT_EQ(first.returned, Damaged);
      EXPECT_EQ(first.status, Damaged);
      EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100)) << "gave up before the timeout";
    }
    // The same connection serves the next exchange: nothing was taken for a hang-up.
    const auto second = lib.exchange(h, Request(0, 100, 0));
    EXPECT_EQ(second.returned, 0u);
    EXPECT_EQ(second.data, good);
    EXPECT_EQ(sim.connectionsAccepted(), kind + 1) << "the driver reconnected";
    EXPECT_EQ(lib.done(&h), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Endpoint, StandinEmptyRecords,
    ::testing::Values(EmptyRecordCase{"OneBeforeTheAnswer", 1, true}, EmptyRecordCase{"ManyBeforeTheAnswer", 5, true},
                      EmptyRecordCase{"OneAlone", 1, false}, EmptyRecordCase{"ManyAlone", 3, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the LAN stand-in against a converter that misbehaves ---

struct LanCase {
  const char* name;
  FakeConverter::Script script;
  bool firstTimesOut;  // the first exchange gets no usable answer
};

void PrintTo(const LanCase& c, std::ostream* os) { *os << c.name; }

const std::array<uint8_t, 5> Good = {0, 0x11, 0x22, 0x33, 0x44};
const std::array<uint8_t, 5> Good2 = {0, 0x55, 0x66, 0x77, 0x88};  // the answer to the second request
const std::array<uint8_t, 5> Wrong = {9, 0xEE, 0xEE, 0xEE, 0xEE};
const std::array<uint8_t, 5>& GoodFor(int n) { return n == 1 ? Good : Good2; }

class StandinLanMisbehaviour : public ::testing::TestWithParam<LanCase> {};

TEST_P(StandinLanMisbehaviour, TakesOnlyTheAnswerToItsOwnRequest) {
  const auto& c = GetParam();
  FakeConverter converter(c.script);
  StandinLib lib(4);
  uint32_t h = 0;
  ASSERT_EQ(lib.init(&h, "127.0.0.1", converter.port(), 20), 0u);
  ASSERT_EQ(lib.setConfig(h, 9600, 80, 2), 0u);

  const auto first = lib.exchange(h, Request(0, 100, 0));
  if (c.firstTimesOut) {
    EXPECT_EQ(first.returned, Timeout);
  } else {
    EXPECT_EQ(first.returned, 0u);
    EXPECT_EQ(first.data, Good);
  }
  const auto second = lib.exchange(h, Request(0, 100, 0));
  EXPECT_EQ(second.returned, 0u);
  EXPECT_EQ(second.status, 0u);
  EXPECT_EQ(second.data, Good2);

  const auto requests = converter.received();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].seq, requests[1].seq);
  EXPECT_EQ(requests[0].rate, 9600u);
  EXPECT_EQ(lib.done(&h), 0u);
}

using simproto::Request;
INSTANTIATE_TEST_SUITE_P(
    Converter, StandinLanMisbehaviour,
    ::testing::Values(
        LanCase{"GarbageBeforeTheAnswer",
                [](FakeConverter& f, int n, const simproto::Request& r, const sockaddr_in& from) {
                  const uint8_t junk[] = {1, 2, 3, 4, 5};
                  f.sendRaw(from, junk, sizeof junk);
                  auto wrongMagic = simproto::EncodeAnswer(FakeConverter::AnswerTo(r, Wrong));
                  wrongMagic[0] = 'Z';
                  f.sendRaw(from, wrongMagic.data(), wrongMagic.size());
                  auto request = simproto::EncodeRequest(r);  // a request is no answer
                  f.sendRaw(from, request.data(), request.size());
                  auto longer = simproto::EncodeAnswer(FakeConverter::AnswerTo(r, Wrong));
                  std::vector<uint8_t> padded(longer.begin(), longer.end());
                  padded.push_back(0);
                  f.sendRaw(from, padded.data(), padded.size());
                  f.reply(from, FakeConverter::AnswerTo(r, GoodFor(n)));
                },
                false},
        LanCase{"EmptyDatagramsBeforeTheAnswer",
                [](FakeConverter& f, int n, const simproto::Request& r, const sockaddr_in& from) {
                  f.sendRaw(from, "", 0);
                  f.sendRaw(from, "", 0);
                  f.reply(from, FakeConverter::AnswerTo(r, GoodFor(n)));
                },
                false},
        LanCase{"LateAnswerToTheEarlierRequest",
                [](FakeConverter& f, int n, const simproto::Request& r, const sockaddr_in& from) {
                  static simproto::Request earlier;
                  if (n == 1) {
                    earlier = r;  // silent: the driver times out
                    return;
                  }
                  f.reply(from, FakeConverter::AnswerTo(earlier, Wrong));
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  f.reply(from, FakeConverter::AnswerTo(r, Good2));
                },
                true},
        LanCase{"DuplicateAnswers",
                [](FakeConverter& f, int n, const simproto::Request& r, const sockaddr_in& from) {
                  static simproto::Request earlier;
                  if (n == 1) {
                    earlier = r;
                    f.reply(from, FakeConverter::AnswerTo(r, Good));
                    f.reply(from, FakeConverter::AnswerTo(r, Good));
                    return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  f.reply(from, FakeConverter::AnswerTo(earlier, Good));  // a third copy, later still
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  f.reply(from, FakeConverter::AnswerTo(r, Good2));
                },
                false},
        LanCase{"ForeignSenderAndMismatchedCommand",
                [](FakeConverter& f, int n, const simproto::Request& r, const sockaddr_in& from) {
                  f.reply(from, FakeConverter::AnswerTo(r, Wrong), /*fromForeignPort=*/true);
                  auto otherCommand = FakeConverter::AnswerTo(r, Wrong);
                  otherCommand.command = 101;
                  f.reply(from, otherCommand);
                  auto otherAddress = FakeConverter::AnswerTo(r, Wrong);
                  otherAddress.address = 7;
                  f.reply(from, otherAddress);
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  f.reply(from, FakeConverter::AnswerTo(r, GoodFor(n)));
                },
                false},
        LanCase{"AnswerWithinTheTimeoutIsTaken",
                [](FakeConverter& f, int n, const simproto::Request& r, const sockaddr_in& from) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // of 80 + 20 ms
                  f.reply(from, FakeConverter::AnswerTo(r, GoodFor(n)));
                },
                false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
