#include "sim/line/state_file.h"

#include "base/errno_text.h"
#include "sim/line/sim_bus.h"
#include "sim/lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

namespace {
constexpr const char* HeaderV1 = "qx510-sim 1";
constexpr const char* Header = "qx510-sim 2";
constexpr const char* ModuleMark = "module";

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Errno(const std::string& what) { return what + ": " + CzechErrnoText(errno); }

// The temporary files beside the state file are named <name>.tmp-<12 random letters>, so that
// nobody can take the name first; a name of the old form <name>.tmp<pid> is also ours.
constexpr const char* TempMark = ".tmp";
constexpr size_t TempRandomLength = 12;

std::string RandomLetters(size_t n) {
  static constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device device;
  std::string out;
  for (size_t i = 0; i < n; ++i) out += Alphabet[device() % (sizeof Alphabet - 1)];
  return out;
}

bool IsOurTempName(const std::string& name, const std::string& stateName) {
  const std::string prefix = stateName + TempMark;
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string rest = name.substr(prefix.size());
  const auto alnum = [](const std::string& t) {
    return !t.empty() && std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
  };
  if (rest[0] == '-') return rest.size() == TempRandomLength + 1 && alnum(rest.substr(1));
  return std::all_of(rest.begin(), rest.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// The text on the disk under a fresh temporary name beside path (returned in *temp), owned
// and readable like the state file it is to replace; or false with the file removed.
bool WriteTemp(const std::string& path, const std::string& text, std::string* temp, std::string* error) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  if (target.has_parent_path()) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      SetError(error, "složku " + target.parent_path().string() + " nelze vytvořit: " + ec.message());
      return false;
    }
  }
  struct stat old {};
  const bool replacing = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  int fd = -1;
  // Exclusive: a name somebody else made first is never written into, only another one tried.
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    *temp = path + TempMark + "-" + RandomLetters(TempRandomLength);
    fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, replacing ? 0600 : 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetError(error, Errno("nelze zapsat " + *temp));
    return false;
  }
  bool ok = true;
  if (replacing && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    SetError(error, Errno(*temp + " nelze dát vlastníka souboru " + path));
    ok = false;
  }
  if (ok && replacing && ::fchmod(fd, old.st_mode & 07777) != 0) {
    SetError(error, Errno(*temp + " nelze dát práva souboru " + path));
    ok = false;
  }
  if (ok && !WriteAll(fd, text)) {
    SetError(error, Errno("nelze zapsat " + *temp));
    ok = false;
  }
  if (ok && ::fsync(fd) != 0) {
    SetError(error, Errno("nelze dokončit zápis " + *temp));
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    SetError(error, Errno("nelze zapsat " + *temp));
    ok = false;
  }
  if (!ok) ::unlink(temp->c_str());
  return ok;
}

// The rename reaches the disk only with its directory.
void SyncDirectory(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  const int fd = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
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
  // Non-blocking, so that opening a FIFO returns at once; the type is checked before any read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) {
      SetError(error, path + " neexistuje");
      return SimStateLoad::Missing;
    }
    const std::string why = Errno("nelze otevřít " + path);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      SetError(error, path + " není obyčejný soubor");
      return SimStateLoad::NotAFile;
    }
    SetError(error, why);
    return SimStateLoad::Invalid;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetError(error, path + " není obyčejný soubor");
    return SimStateLoad::NotAFile;
  }
  std::string bytes;
  char chunk[1024];
  bool failed = false;
  while (bytes.size() <= SimStateMaxBytes) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    bytes.append(chunk, size_t(n));
  }
  const std::string why = failed ? Errno("nelze číst " + path) : std::string();
  ::close(fd);
  if (failed) {
    SetError(error, why);
    return SimStateLoad::Invalid;
  }
  if (bytes.size() > SimStateMaxBytes) {
    SetError(error, path + " je větší než " + std::to_string(SimStateMaxBytes) + " bajtů: není to soubor stavu simulátoru");
    return SimStateLoad::Invalid;
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
  std::string temp;
  if (!WriteTemp(path, text.str(), &temp, error)) return false;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    SetError(error, Errno("nelze nahradit " + path));
    ::unlink(temp.c_str());
    return false;
  }
  SyncDirectory(path);
  return true;
}

bool CanSaveSimState(const std::string& path, std::string* error) {
  std::string temp;
  if (!WriteTemp(path, Header, &temp, error)) return false;
  ::unlink(temp.c_str());
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
  namespace fs = std::filesystem;
  // A device or a FIFO is never a state file (LoadSimState says the same): nothing is made
  // beside it, not even a lock.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    SetError(error, path + " není obyčejný soubor");
    return false;
  }
  const fs::path target(path);
  if (target.has_parent_path()) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      SetError(error, "složku " + target.parent_path().string() + " nelze vytvořit: " + ec.message());
      return false;
    }
  }
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
