#include "sim/app/send_command.h"

#include <dlfcn.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringDecoder>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "drivers/driver_abi.h"
#include "sim/protocol.h"

namespace {
int Usage() {
  std::fprintf(stderr,
               "použití: qx510-sim send [--endpoint CESTA | --udp PORT] [--rate BD] [--timeout MS] "
               "ADRESA PŘÍKAZ INDEX [D0 D1 D2 D3 D4]\n");
  return 2;
}

bool Number(const char* text, unsigned long high, unsigned long* value) {
  char* end = nullptr;
  *value = std::strtoul(text, &end, 0);
  return *text && *end == 0 && *value <= high;
}

std::string ProgramDir(const char* argv0) {
  const QFileInfo self(QStringLiteral("/proc/self/exe"));
  const QString exe = self.symLinkTarget();
  return (exe.isEmpty() ? QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath() : QFileInfo(exe).absolutePath())
      .toStdString();
}
}  // namespace

int RunSendCommand(int argc, char** argv) {
  unsigned long udpPort = 0, rate = 9600, timeout = 150;
  std::vector<unsigned long> words;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool option = arg == "--endpoint" || arg == "--udp" || arg == "--rate" || arg == "--timeout";
    if (option && i + 1 >= argc) return Usage();
    unsigned long v = 0;
    if (arg == "--endpoint") {
      ::setenv(simproto::EndpointEnv, argv[++i], 1);
    } else if (option) {
      unsigned long* target = arg == "--udp" ? &udpPort : arg == "--rate" ? &rate : &timeout;
      if (!Number(argv[++i], arg == "--udp" ? 65535 : 1000000, target)) return Usage();
    } else if (Number(argv[i], 255, &v)) {
      words.push_back(v);
    } else {
      return Usage();
    }
  }
  if (words.size() < 3 || words.size() > 8) return Usage();
  words.resize(8, 0);

  const std::string prefix = udpPort ? "KNET1660" : "KSER660";
  const std::string path = ProgramDir(argv[0]) + "/" + prefix + ".DLL";
  void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "qx510-sim send: %s\n", ::dlerror());
    return 2;
  }
  auto entry = [&](const char* role) { return ::dlsym(lib, (prefix + "_" + role).c_str()); };
  const auto setConfig = reinterpret_cast<DriverSetConfigFn>(entry("SetConfig"));
  const auto send = reinterpret_cast<DriverSendFn>(entry("Send"));
  const auto done = reinterpret_cast<DriverDoneFn>(entry("Done"));
  const auto error = reinterpret_cast<DriverErrorFn>(entry("Error"));
  void* init = entry("Init");
  if (!setConfig || !send || !done || !error || !init) {
    std::fprintf(stderr, "qx510-sim send: %s postrádá vstupní bod\n", path.c_str());
    return 2;
  }
  uint32_t handle = 0;
  uint32_t status = 0;
  if (udpPort) {
    std::array<uintptr_t, 16> block{};
    block[0] = reinterpret_cast<uintptr_t>("127.0.0.1");
    block[1] = udpPort;
    status = reinterpret_cast<DriverInitBlockFn>(init)(&handle, block.data());
  } else {
    status = reinterpret_cast<DriverInitWordFn>(init)(&handle, 1);
  }
  if (status == 0) status = setConfig(handle, uint32_t(rate), uint32_t(timeout), 2);
  std::array<uint32_t, 100> response{};
  uint32_t aux = 0;
  if (status == 0) {
    const std::array<uint32_t, 8> request{uint32_t(words[0]), uint32_t(words[1]), uint32_t(words[2]), uint32_t(words[3]),
                                          uint32_t(words[4]), uint32_t(words[5]), uint32_t(words[6]), uint32_t(words[7])};
    if (const uint32_t r = send(handle, request.data(), response.data(), &aux, &status); r != 0) status = r;
    done(&handle);
  }
  std::array<uint32_t, 100> text{};
  QByteArray bytes;
  if (error(status, text.data()) == 0)
    for (size_t i = text[0] ? 0 : 1; i < text.size() && text[i]; ++i) bytes.append(char(text[i]));
  const QString decoded = QStringDecoder("windows-1250").decode(bytes);
  std::printf("status %u: %s; data %u %u %u %u %u\n", unsigned(status), decoded.toUtf8().constData(),
              unsigned(aux & 0xFF), unsigned(response[0] & 0xFF), unsigned(response[1] & 0xFF),
              unsigned(response[2] & 0xFF), unsigned(response[3] & 0xFF));
  ::dlclose(lib);
  return status == 0 ? 0 : 1;
}
