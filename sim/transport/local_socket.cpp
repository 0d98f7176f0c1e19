#include "sim/transport/local_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text/errno_text.h"
#include "sim/protocol.h"

namespace {
void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}
}  // namespace

bool TakeOverStaleSocket(const std::string& path, int type, std::string* error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    SetError(error, path + " nelze prověřit: " + CzechErrnoText(errno));
    return false;
  }
  if (!S_ISSOCK(st.st_mode)) {
    SetError(error, path + " existuje a není soket; zůstává, jak je");
    return false;
  }
  // Whoever the listener runs as, it is alive: its socket is not ours to remove.
  const int probe = simproto::ConnectLocalSocket(path, type, SimWaitMs, ::geteuid());
  if (probe >= 0 || probe == simproto::ForeignPeer) {
    if (probe >= 0) ::close(probe);
    SetError(error, probe >= 0 ? "na " + path + " už odpovídá jiný simulátor"
                               : "na " + path + " naslouchá program jiného uživatele; nepoužije se");
    return false;
  }
  if (probe == -ETIMEDOUT) {
    SetError(error, "na " + path + " naslouchá simulátor, který nepřijímá spojení (čekáno " +
                        std::to_string(SimWaitMs) + " ms)");
    return false;
  }
  if (probe != -ECONNREFUSED) {
    SetError(error, path + ": " + CzechErrnoText(-probe));
    return false;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    SetError(error, "opuštěný soket " + path + " nelze odstranit: " + CzechErrnoText(errno));
    return false;
  }
  return true;
}

int ListenPrivate(const std::string& path, int type, int backlog, std::string* error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    SetError(error, "cesta k soketu je příliš dlouhá: " + path);
    return -1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // bind() creates the file with the socket's own mode less the umask, so a socket made
  // 0600 before it is bound is never more open than that, not even for a moment. The umask
  // may take the owner's bits away, which the chmod afterwards gives back.
  if (fd < 0 || ::fchmod(fd, 0600) != 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    SetError(error, "soket " + path + ": " + CzechErrnoText(errno));
    if (fd >= 0) ::close(fd);
    return -1;
  }
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd, backlog) != 0) {
    SetError(error, "soket " + path + ": " + CzechErrnoText(errno));
    ::unlink(path.c_str());
    ::close(fd);
    return -1;
  }
  return fd;
}
