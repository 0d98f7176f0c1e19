#pragma once
// The user's private folder: where the simulator's sockets live and where the stand-in
// drivers keep the locks that hold a line. Plain C++ with no Qt, for the driver libraries.
//
// $XDG_RUNTIME_DIR when it names a real folder of the user's own that nobody else may enter;
// otherwise /tmp/qx510-<uid>/, created 0700 and then checked the same way. A name in /tmp can
// be taken by anybody first: a link, a file or somebody else's folder there is an error for
// the caller to show, never a place to put the user's sockets.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "base/text/errno_text.h"

namespace simproto {

struct RuntimeDir {
  std::string path;   // without a trailing slash; empty on failure
  std::string error;  // Czech, for the user; empty on success
};

// Empty when `path` is a real folder (not a link) owned by this user and closed to others.
inline std::string PrivateFolderProblem(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return "složku " + path + " nelze prověřit: " + CzechErrnoText(errno);
  if (!S_ISDIR(st.st_mode)) return path + " není složka (odkaz nebo soubor), nepoužije se";
  if (st.st_uid != ::geteuid()) return "složka " + path + " patří jinému uživateli, nepoužije se";
  if ((st.st_mode & 077) != 0) return "složka " + path + " je přístupná i jiným uživatelům, nepoužije se";
  return {};
}

inline RuntimeDir UserRuntimeDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string path(runtime);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (PrivateFolderProblem(path).empty()) return {path, {}};
  }
  const std::string path = "/tmp/qx510-" + std::to_string(::geteuid());
  if (::mkdir(path.c_str(), 0700) == 0) {
    // The umask may have taken bits away; it cannot have added any.
    if (::chmod(path.c_str(), 0700) != 0)
      return {{}, "složku " + path + " nelze nastavit: " + CzechErrnoText(errno)};
  } else if (errno != EEXIST) {
    return {{}, "složku " + path + " nelze vytvořit: " + CzechErrnoText(errno)};
  }
  if (std::string problem = PrivateFolderProblem(path); !problem.empty()) return {{}, problem};
  return {path, {}};
}

}  // namespace simproto
