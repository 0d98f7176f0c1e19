#pragma once
// A lock file held for as long as a process needs it: the stand-in drivers hold a line with one
// (drivers/standin/line_lock.h), the simulator holds its state file with one beside it. An
// advisory lock (flock) on the file, so the kernel drops it when the holder ends, however it
// ends: a file left by a dead holder is simply taken over. The holder writes a short text into
// the file (its process id first) for whoever is refused. Plain C++ with no Qt, for the driver
// libraries.
//
// Only a regular file of the user's own is used: a link, a FIFO or another user's file at the
// path is refused, never written into and never removed, even where the folder would let us.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/text/errno_text.h"

namespace simproto {

struct LockTake {
  enum Result { Taken, Busy, Refused } result = Refused;
  int fd = -1;          // Taken: the lock's descriptor, to hand to ReleaseLockFile
  std::string holder;   // Busy: what the holder wrote into the file (may be empty)
  std::string problem;  // Refused: why, in Czech, without the path ("patří jinému uživateli")
};

// Takes the lock at path, creating the file (0600) when there is none, and writes `text` into
// it. Never waits for a holder.
inline LockTake TakeLockFile(const std::string& path, const std::string& text) {
  LockTake take;
  for (;;) {
    // Non-blocking, so that a FIFO at the path cannot hold the caller up; the type is checked
    // on what was opened.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) {
      take.problem = errno == ELOOP ? std::string("je odkaz") : "nelze otevřít (" + CzechErrnoText(errno) + ")";
      return take;
    }
    struct stat held {};
    if (::fstat(fd, &held) != 0) {
      take.problem = "nelze prověřit (" + CzechErrnoText(errno) + ")";
      ::close(fd);
      return take;
    }
    // Checked before the lock is tried and before anything is written: a file somebody else
    // put there (writable or not) is theirs, whatever it holds.
    if (!S_ISREG(held.st_mode) || held.st_uid != ::geteuid()) {
      take.problem = S_ISREG(held.st_mode) ? "patří jinému uživateli" : "není obyčejný soubor";
      ::close(fd);
      return take;
    }
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
      if (errno == EWOULDBLOCK) {
        char buffer[512];
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
        take.result = LockTake::Busy;
        if (n > 0) take.holder.assign(buffer, size_t(n));
      } else {
        take.problem = "nelze zamknout (" + CzechErrnoText(errno) + ")";
      }
      ::close(fd);
      return take;
    }
    // The holder before may have removed the file between our open and our lock: a lock on a
    // file no longer at the path holds nothing, so the path is opened afresh.
    struct stat atPath {};
    if (::lstat(path.c_str(), &atPath) != 0 || atPath.st_ino != held.st_ino || atPath.st_dev != held.st_dev) {
      ::close(fd);
      continue;
    }
    // A holder that ended left its text behind; this one replaces it. Should the write fail,
    // the hold stands all the same: only the refused would miss the holder's text.
    if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, text.data(), text.size(), 0);
    take.result = LockTake::Taken;
    take.fd = fd;
    return take;
  }
}

// Lets a lock go and removes its file, while still held, so that nobody can lock this file
// after us and believe the lock is theirs while another locks a new file at the path. A file
// that is no longer the one locked (the path was replaced meanwhile) stays.
inline void ReleaseLockFile(int fd, const std::string& path) {
  if (fd < 0) return;
  struct stat atPath {}, held {};
  if (::lstat(path.c_str(), &atPath) == 0 && ::fstat(fd, &held) == 0 && atPath.st_ino == held.st_ino &&
      atPath.st_dev == held.st_dev)
    ::unlink(path.c_str());
  ::close(fd);
}

}  // namespace simproto
