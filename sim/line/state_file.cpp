#include "sim/line/state_file.h"

#include "base/files/checked_file.h"
#include "base/text/errno_text.h"
#include "base/files/file_read.h"
#include "sim/line/sim_bus.h"
#include "sim/lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {
constexpr const char* HeaderV1 = "qx510-sim 1";
constexpr const char* Header = "qx510-sim 2";
constexpr const char* ModuleMark = "module";

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Errno(const std::string& what) { return what + ": " + CzechErrnoText(errno); }

// The writer's temporary files beside the state file are named <name>.tmp-<8 random letters>;
// the forms earlier versions left, <name>.tmp-<12 letters> and <name>.tmp<pid>, are ours too.
constexpr const char* TempMark = ".tmp";

bool IsOurTempName(const std::string& name, const std::string& stateName) {
  const std::string prefix = stateName + TempMark;
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string rest = name.substr(prefix.size());
  const auto alnum = [](const std::string& t) {
    return !t.empty() && std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
  };
  if (rest[0] == '-') return (rest.size() == 9 || rest.size() == 13) && alnum(rest.substr(1));
  return std::all_of(rest.begin(), rest.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool MakeFolder(const std::string& path, std::string* error) {
  const std::filesystem::path target(path);
  if (!target.has_parent_path()) return true;
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  if (!ec) return true;
  SetError(error, "složku " + target.parent_path().string() + " nelze vytvořit: " + FileErrorText(ec.value()).toStdString());
  return false;
}

// Two hexadecimal digits exactly: strtol alone would also take a sign ("-1" as 0xFF).
bool ReadMemory(std::istream& in, SimModule::Memory& memory, const std::string& path, std::string* error) {
  for (auto& byte : memory) {
    std::string word;
    if (!(in >> word) || word.size() != 2) {
      SetError(error, path + " je zkrácený");
      return false;
    }
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    char* end = nullptr;
    const long v = hex(word[0]) && hex(word[1]) ? std::strtol(word.c_str(), &end, 16) : 0;
    if (end != word.c_str() + 2) {
      SetError(error, path + " obsahuje bajt, který není šestnáctkový");
      return false;
    }
    byte = uint8_t(v);
  }
  return true;
}

SimStateLoad Parse(const std::string& path, const std::string& bytes, std::vector<SimModule::Memory>& modules,
                   std::string* error) {
  std::istringstream in(bytes);
  std::string header;
  std::getline(in, header);
  std::vector<SimModule::Memory> loaded;
  if (header == HeaderV1) {
    loaded.emplace_back();
    if (!ReadMemory(in, loaded.back(), path, error)) return SimStateLoad::Invalid;
  } else if (header == Header) {
    for (std::string mark; in >> mark;) {
      if (mark != ModuleMark || loaded.size() == size_t(SimBus::MaxModules)) {
        SetError(error, path + " neobsahuje 1 až " + std::to_string(SimBus::MaxModules) + " modulů");
        return SimStateLoad::Invalid;
      }
      loaded.emplace_back();
      if (!ReadMemory(in, loaded.back(), path, error)) return SimStateLoad::Invalid;
    }
    if (loaded.empty()) {
      SetError(error, path + " neobsahuje žádný modul");
      return SimStateLoad::Invalid;
    }
  } else {
    SetError(error, path + " není soubor stavu simulátoru");
    return SimStateLoad::Invalid;
  }
  modules = std::move(loaded);
  return SimStateLoad::Loaded;
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

SimStateLoad LoadSimState(const std::string& path, std::vector<SimModule::Memory>& modules, std::string* error) {
  // The one reader: a FIFO at the path is refused without blocking, the type before any read.
  std::string bytes, reason;
  switch (ReadWholeFile(path, SimStateMaxBytes, bytes, reason)) {
    case FileReadResult::Missing:
      SetError(error, path + " neexistuje");
      return SimStateLoad::Missing;
    case FileReadResult::Refused: {
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        SetError(error, path + " " + reason);
        return SimStateLoad::NotAFile;
      }
      SetError(error, "soubor stavu " + path + " nelze přečíst: " + reason);
      return SimStateLoad::Invalid;
    }
    case FileReadResult::Read: break;
  }
  return Parse(path, bytes, modules, error);
}

bool SaveSimState(const std::string& path, const std::vector<SimModule::Memory>& modules, std::string* error) {
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
  if (!MakeFolder(path, error)) return false;
  QString reason;
  if (!WriteFileChecked(QFile::decodeName(path.c_str()), QByteArray::fromStdString(text.str()), &reason)) {
    SetError(error, "soubor stavu " + path + " nelze zapsat: " + reason.toStdString());
    return false;
  }
  return true;
}

bool CanSaveSimState(const std::string& path, std::string* error) {
  if (!MakeFolder(path, error)) return false;
  const QString refused = RefusedFileTarget(QFile::decodeName(path.c_str()));
  if (!refused.isEmpty()) {
    SetError(error, "soubor stavu " + path + " " + refused.toStdString());
    return false;
  }
  // The writer's temporary file is made in the folder, so the folder must take new files.
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    SetError(error, Errno("do složky " + folder + " nelze zapisovat"));
    return false;
  }
  return true;
}

void RemoveStaleSimStateTemps(const std::string& path) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string file = entry.path().string();
    struct stat st {};
    // Regular files of this user's only: somebody else's file, or a link, is not ours to remove.
    if (IsOurTempName(entry.path().filename().string(), target.filename().string()) &&
        ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
      ::unlink(file.c_str());
  }
}

bool HoldSimState(const std::string& path, const std::string& endpoint, SimStateHold* hold, std::string* error) {
  // A device or a FIFO is never a state file (LoadSimState says the same): nothing is made
  // beside it, not even a lock.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    SetError(error, path + " není obyčejný soubor");
    return false;
  }
  if (!MakeFolder(path, error)) return false;
  const std::string lockPath = path + ".lock";
  const simproto::LockTake take = simproto::TakeLockFile(lockPath, std::to_string(::getpid()) + "\n" + endpoint + "\n");
  if (take.result == simproto::LockTake::Taken) {
    hold->fd = take.fd;
    hold->path = lockPath;
    return true;
  }
  if (take.result == simproto::LockTake::Refused) {
    SetError(error, "soubor stavu " + path + " nelze hlídat: zámek " + lockPath + " " + take.problem + ", nepoužije se");
    return false;
  }
  // "<pid>\n<endpoint>\n", as written above.
  const size_t eol = take.holder.find('\n');
  const long pid = std::strtol(take.holder.c_str(), nullptr, 10);
  std::string holderEndpoint = eol == std::string::npos ? std::string() : take.holder.substr(eol + 1);
  while (!holderEndpoint.empty() && holderEndpoint.back() == '\n') holderEndpoint.pop_back();
  std::string who = pid > 0 ? "PID " + std::to_string(pid) : std::string("PID neznámé");
  if (!holderEndpoint.empty()) who += ", endpoint " + holderEndpoint;
  SetError(error, "soubor stavu " + path + " už používá jiný simulátor (" + who +
                      "); dva simulátory do jednoho souboru neukládají: zvolte jiný --state nebo --no-state");
  return false;
}

void ReleaseSimState(SimStateHold& hold) {
  simproto::ReleaseLockFile(hold.fd, hold.path);
  hold.fd = -1;
  hold.path.clear();
}
