#include "sim/state_file.h"

#include "sim/sim_bus.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {
constexpr const char* HeaderV1 = "qx510-sim 1";
constexpr const char* Header = "qx510-sim 2";
constexpr const char* ModuleMark = "module";

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}
}  // namespace

std::string DefaultSimStatePath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::filesystem::path dir;
  if (state && *state) {
    dir = state;
  } else {
    const char* home = std::getenv("HOME");
    dir = std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "state";
  }
  return (dir / "qx510-sim" / "module.state").string();
}

// Two hexadecimal digits exactly: strtol alone would also take a sign ("-1" as 0xFF).
static bool ReadMemory(std::istream& in, SimModule::Memory& memory, const std::string& path, std::string* error) {
  for (auto& byte : memory) {
    std::string word;
    if (!(in >> word) || word.size() != 2) {
      SetError(error, path + " is truncated");
      return false;
    }
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    char* end = nullptr;
    const long v = hex(word[0]) && hex(word[1]) ? std::strtol(word.c_str(), &end, 16) : 0;
    if (end != word.c_str() + 2) {
      SetError(error, path + " holds a byte that is not hexadecimal");
      return false;
    }
    byte = uint8_t(v);
  }
  return true;
}

bool LoadSimState(const std::string& path, std::vector<SimModule::Memory>& modules, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    SetError(error, "cannot open " + path);
    return false;
  }
  std::string header;
  std::getline(in, header);
  std::vector<SimModule::Memory> loaded;
  if (header == HeaderV1) {
    loaded.emplace_back();
    if (!ReadMemory(in, loaded.back(), path, error)) return false;
  } else if (header == Header) {
    std::string mark;
    while (in >> mark) {
      if (mark != ModuleMark || loaded.size() == size_t(SimBus::MaxModules)) {
        SetError(error, path + " holds something other than up to " + std::to_string(SimBus::MaxModules) + " modules");
        return false;
      }
      loaded.emplace_back();
      if (!ReadMemory(in, loaded.back(), path, error)) return false;
    }
    if (loaded.empty()) {
      SetError(error, path + " holds no module");
      return false;
    }
  } else {
    SetError(error, path + " is not a simulator state file");
    return false;
  }
  modules = std::move(loaded);
  return true;
}

bool SaveSimState(const std::string& path, const std::vector<SimModule::Memory>& modules, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target(path);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  std::ostringstream text;
  text << Header << '\n';
  for (const auto& memory : modules) {
    text << ModuleMark << '\n';
    for (size_t i = 0; i < memory.size(); ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", memory[i]);
      text << hex << ((i % 16 == 15) ? '\n' : ' ');
    }
  }
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::trunc);
    out << text.str();
    out.flush();
    if (!out) {
      SetError(error, "cannot write " + temp);
      fs::remove(temp, ec);
      return false;
    }
  }
  fs::rename(temp, target, ec);
  if (ec) {
    SetError(error, "cannot replace " + path + ": " + ec.message());
    fs::remove(temp, ec);
    return false;
  }
  return true;
}
