#include "sim/state_file.h"

#include "sim/sim_bus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace {
constexpr const char* HeaderV1 = "qx510-sim 1";
constexpr const char* Header = "qx510-sim 2";
constexpr const char* ModuleMark = "module";

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string TempPath(const std::string& path) { return path + ".tmp" + std::to_string(getpid()); }

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

// The text on the disk under the temporary name beside path, or false with the file removed.
bool WriteTemp(const std::string& path, const std::string& text, std::string* error) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  if (target.has_parent_path()) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      SetError(error, "cannot create " + target.parent_path().string() + ": " + ec.message());
      return false;
    }
  }
  const std::string temp = TempPath(path);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    SetError(error, Errno("cannot write " + temp));
    return false;
  }
  bool ok = WriteAll(fd, text);
  if (!ok) SetError(error, Errno("cannot write " + temp));
  if (ok && ::fsync(fd) != 0) {
    SetError(error, Errno("cannot flush " + temp));
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    SetError(error, Errno("cannot write " + temp));
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
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
        SetError(error, path + " holds something other than up to " + std::to_string(SimBus::MaxModules) + " modules");
        return SimStateLoad::Invalid;
      }
      loaded.emplace_back();
      if (!ReadMemory(in, loaded.back(), path, error)) return SimStateLoad::Invalid;
    }
    if (loaded.empty()) {
      SetError(error, path + " holds no module");
      return SimStateLoad::Invalid;
    }
  } else {
    SetError(error, path + " is not a simulator state file");
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
      SetError(error, path + " does not exist");
      return SimStateLoad::Missing;
    }
    const std::string why = Errno("cannot open " + path);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      SetError(error, path + " is not a regular file");
      return SimStateLoad::NotAFile;
    }
    SetError(error, why);
    return SimStateLoad::Invalid;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetError(error, path + " is not a regular file");
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
  const std::string why = failed ? Errno("cannot read " + path) : std::string();
  ::close(fd);
  if (failed) {
    SetError(error, why);
    return SimStateLoad::Invalid;
  }
  if (bytes.size() > SimStateMaxBytes) {
    SetError(error, path + " is larger than " + std::to_string(SimStateMaxBytes) + " bytes: not a simulator state file");
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
  if (!WriteTemp(path, text.str(), error)) return false;
  const std::string temp = TempPath(path);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    SetError(error, Errno("cannot replace " + path));
    ::unlink(temp.c_str());
    return false;
  }
  SyncDirectory(path);
  return true;
}

bool CanSaveSimState(const std::string& path, std::string* error) {
  if (!WriteTemp(path, Header, error)) return false;
  ::unlink(TempPath(path).c_str());
  return true;
}
