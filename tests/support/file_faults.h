#pragma once
// Faults of the file system for the tests of the checked writer and its users: a full disk
// (a file size limit), nodes that are no regular file, a small tmpfs.

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <csignal>
#include <vector>

// While alive, a file may grow to `bytes` only: a write past that fails with EFBIG, as a full
// disk fails with ENOSPC, instead of SIGXFSZ ending the process. The limit holds for every
// thread of the process, so keep the window short.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved_;
    tiny.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_)(int) = SIG_DFL;
};

// While alive, a write to a pipe nobody reads fails with EPIPE instead of SIGPIPE ending the
// process.
class NoSigpipe {
 public:
  NoSigpipe() { previous_ = std::signal(SIGPIPE, SIG_IGN); }
  ~NoSigpipe() { std::signal(SIGPIPE, previous_); }
  NoSigpipe(const NoSigpipe&) = delete;
  NoSigpipe& operator=(const NoSigpipe&) = delete;

 private:
  void (*previous_)(int) = SIG_DFL;
};

// The type bits of what is at `path` itself (a link not followed); 0 when nothing is there.
inline mode_t NodeType(const QString& path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

inline bool MakeFifo(const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

// A character device to aim a write at, "null" (1,3) or "full" (1,7): as root a node of its
// own made at `path`, so that a writer that wrongly replaced it (the old backup did, as root)
// takes no device of the system with it; else /dev/null or /dev/full itself, which a user
// cannot replace. Empty when root cannot make the node (the test then skips).
inline QString PrivateCharDevice(const QString& path, const char* which) {
  const bool full = QByteArray(which) == "full";
  if (::geteuid() != 0) return full ? QStringLiteral("/dev/full") : QStringLiteral("/dev/null");
  const dev_t device = makedev(1, full ? 7 : 3);
  if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, device) != 0) return QString();
  return path;
}

// The nodes no writer may write into or replace, made in `dir`: a character device of the
// test's own (PrivateCharDevice) and a FIFO. Empty when they cannot be made (the test skips).
struct OddNode {
  QString path;
  mode_t type;
};
inline std::vector<OddNode> OddNodes(const QString& dir) {
  const QString null = PrivateCharDevice(dir + QStringLiteral("/null"), "null");
  const QString fifo = dir + QStringLiteral("/fifo");
  if (null.isEmpty() || !MakeFifo(fifo)) return {};
  return {{null, S_IFCHR}, {fifo, S_IFIFO}};
}

inline QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A tmpfs of `bytes` mounted on `dir` while alive; mounted() is false where mounting is not
// permitted (not root, a container without the capability), and the test then skips.
class SmallTmpfs {
 public:
  SmallTmpfs(const QString& dir, qint64 bytes) : dir_(QFile::encodeName(dir)) {
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    mounted_ = ::mount("tmpfs", dir_.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(dir_.constData(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

 private:
  QByteArray dir_;
  bool mounted_ = false;
};
