#include "base/files/checked_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/text/errno_text.h"
#include "base/files/file_read.h"

namespace {

// What a path names once its symbolic links are followed.
struct Target {
  std::string path;       // the file itself, links followed
  bool exists = false;    // a regular file is there
  struct stat st {};      // its status when it exists
  int error = 0;          // errno of a failed look
  QString refusal;        // set when something other than a regular file is there
};

QString RefusalText(mode_t mode) { return QString::fromStdString(NotRegularFileText(mode)); }

std::string Directory(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Target Resolve(const QString& given) {
  Target t;
  t.path = given.toLocal8Bit().toStdString();
  if (t.path.empty()) {
    t.error = ENOENT;
    return t;
  }
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(t.path.c_str(), &st) != 0) {
      if (errno != ENOENT) t.error = errno;
      return t;  // missing: the write creates it (or fails on a missing folder)
    }
    if (!S_ISLNK(st.st_mode)) {
      if (S_ISREG(st.st_mode)) {
        t.exists = true;
        t.st = st;
      } else {
        t.refusal = RefusalText(st.st_mode);
      }
      return t;
    }
    char link[4096];
    const ssize_t n = ::readlink(t.path.c_str(), link, sizeof link - 1);
    if (n < 0) {
      t.error = errno;
      return t;
    }
    const std::string to(link, std::size_t(n));
    t.path = to.front() == '/' ? to : Directory(t.path) + '/' + to;
  }
  t.error = ELOOP;
  return t;
}

// Writes all of `size` bytes; 0 or the errno of the failure, with *done the bytes written.
int WriteAll(int fd, const char* data, qint64 size, qint64* done) {
  *done = 0;
  while (*done < size) {
    const std::size_t chunk = std::size_t(std::min<qint64>(size - *done, qint64(1) << 30));
    const ssize_t n = ::write(fd, data + *done, chunk);
    if (n > 0) {
      *done += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A descriptor somebody made non-blocking: wait until it takes more.
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 1000);
      continue;
    }
    return n < 0 ? errno : EIO;  // a write that wrote nothing and said nothing
  }
  return 0;
}

QString RandomLetters(int n) {
  static constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  QString out;
  for (int i = 0; i < n; ++i) out += QLatin1Char(Alphabet[QRandomGenerator::system()->bounded(int(sizeof Alphabet - 1))]);
  return out;
}

void SetReason(QString* reason, const QString& text) {
  if (reason != nullptr) *reason = text;
}

}  // namespace

QString FileErrorText(int error) { return QString::fromStdString(CzechErrnoText(error)); }

bool ReadFileChecked(const QString& path, qint64 limit, QByteArray* bytes, QString* reason, bool* missing) {
  std::string read, why;
  const FileReadResult result = ReadWholeFile(QFile::encodeName(path).toStdString(), std::size_t(std::max<qint64>(limit, 0)), read, why);
  if (missing != nullptr) *missing = result == FileReadResult::Missing;
  bytes->clear();
  if (result == FileReadResult::Missing) why = CzechErrnoText(ENOENT);
  if (result != FileReadResult::Read) {
    SetReason(reason, QString::fromStdString(why));
    return false;
  }
  *bytes = QByteArray::fromStdString(read);
  return true;
}

QString NewFileRefusal(const QString& path) {
  // Made and taken away again: only the system knows every reason a name cannot be had (too
  // long, a folder missing or not writable, a read-only file system, a quota).
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
  if (fd < 0) return FileErrorText(errno);
  ::close(fd);
  ::unlink(name.constData());
  return {};
}

QString RefusedFileTarget(const QString& path) {
  const Target t = Resolve(path);
  if (!t.refusal.isEmpty()) return t.refusal;
  if (t.error != 0 && t.error != ENOENT) return FileErrorText(t.error);
  return {};
}

namespace {

// The bytes to a temporary file beside the target, flushed, then renamed over it (replace) or
// linked to its name, which fails when anything took the name meanwhile.
bool WriteThrough(const Target& target, const QByteArray& bytes, bool replace, mode_t newMode, QString* reason) {
  // Beside the target, so that the rename stays on one file system; exclusive, so that a name
  // somebody made first is never written into.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    temp = Directory(target.path) + '/' + BaseName(target.path) + ".tmp-" + RandomLetters(8).toStdString();
    // A replaced file's permissions are set below; until then nobody else may read the copy.
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                target.exists ? 0600 : newMode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetReason(reason, FileErrorText(errno));
    return false;
  }
  int error = 0;
  QString text;
  if (target.exists) {
    // Ownership is kept where the system allows it (root replacing another user's file).
    if ((target.st.st_uid != ::geteuid() || target.st.st_gid != ::getegid()) &&
        ::fchown(fd, target.st.st_uid, target.st.st_gid) != 0) {
      // Best effort: a user cannot give a file away, and keeps it as his own.
    }
    if (::fchmod(fd, target.st.st_mode & 07777) != 0) error = errno;
  }
  qint64 done = 0;
  if (error == 0) error = WriteAll(fd, bytes.constData(), bytes.size(), &done);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  struct stat written {};
  if (error == 0 && ::fstat(fd, &written) == 0 && written.st_size != bytes.size()) {
    text = QStringLiteral("zápis neúplný: zapsáno %1 z %2 B").arg(qint64(written.st_size)).arg(bytes.size());
    error = EIO;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && replace && ::rename(temp.c_str(), target.path.c_str()) != 0) error = errno;
  if (error == 0 && !replace && ::link(temp.c_str(), target.path.c_str()) != 0) error = errno;
  if (error != 0 || !replace) ::unlink(temp.c_str());
  if (error != 0) {
    SetReason(reason, text.isEmpty() ? FileErrorText(error) : text);
    return false;
  }
  // The new name reaches the disk with its folder.
  const int dir = ::open(Directory(target.path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace

bool WriteFileChecked(const QString& path, const QByteArray& bytes, QString* reason) {
  const Target target = Resolve(path);
  if (!target.refusal.isEmpty()) {
    SetReason(reason, target.refusal);
    return false;
  }
  if (target.error != 0) {
    SetReason(reason, FileErrorText(target.error));
    return false;
  }
  return WriteThrough(target, bytes, true, 0666, reason);
}

bool WriteNewFileChecked(const QString& path, const QByteArray& bytes, int mode, QString* reason) {
  Target target = Resolve(path);
  if (!target.refusal.isEmpty()) {
    SetReason(reason, target.refusal);
    return false;
  }
  if (target.exists || target.error != 0) {
    SetReason(reason, FileErrorText(target.exists ? EEXIST : target.error));
    return false;
  }
  // A dangling link's target is not made: the new file takes the name itself, or nothing.
  target.path = QFile::encodeName(path).toStdString();
  return WriteThrough(target, bytes, false, mode_t(mode), reason);
}

CheckedStream::~CheckedStream() { close(); }

void CheckedStream::fail(int error, const QString& text) {
  errno_ = error;
  failure_ = text.isEmpty() ? FileErrorText(error) : text;
  setErrorString(failure_);
}

bool CheckedStream::openFile(const QString& path, Start start) {
  close();
  name_ = path;
  failure_.clear();
  errno_ = 0;
  written_ = 0;
  std::string file = path.toLocal8Bit().toStdString();
  if (start != Start::CreateNew) {
    const Target target = Resolve(path);
    if (!target.refusal.isEmpty()) {
      fail(0, target.refusal);
      return false;
    }
    if (target.error != 0) {
      fail(target.error);
      return false;
    }
    file = target.path;
  }
  // Non-blocking, so that a FIFO put there meanwhile does not hold the open; refused below.
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  flags |= start == Start::Append ? O_APPEND : start == Start::Truncate ? O_TRUNC : O_EXCL;
  const int fd = ::open(file.c_str(), flags, 0666);
  if (fd < 0) {
    fail(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    ::close(fd);
    if (S_ISREG(st.st_mode) || st.st_mode == 0) fail(error); else fail(0, RefusalText(st.st_mode));
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  owned_ = true;
  regular_ = true;
  return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

bool CheckedStream::openDescriptor(int fd, const QString& name) {
  close();
  name_ = name;
  failure_.clear();
  errno_ = 0;
  written_ = 0;
  fd_ = fd;
  owned_ = false;
  struct stat st {};
  regular_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

void CheckedStream::close() {
  if (fd_ >= 0 && owned_ && ::close(fd_) != 0 && !failed()) fail(errno);
  fd_ = -1;
  owned_ = false;
  if (isOpen()) QIODevice::close();
}

qint64 CheckedStream::writeData(const char* data, qint64 size) {
  if (failed() || fd_ < 0) return -1;
  qint64 done = 0;
  const int error = WriteAll(fd_, data, size, &done);
  if (error == 0) {
    written_ += size;
    return size;
  }
  // Half a record is no record: a file of ours is cut back to where this write began.
  struct stat st {};
  const bool cut = done > 0 && regular_ && owned_ && ::fstat(fd_, &st) == 0 && st.st_size >= done &&
                   ::ftruncate(fd_, st.st_size - done) == 0;
  if (!cut) written_ += done;
  fail(error);
  return -1;
}

bool CheckedStream::delivered() {
  if (failed() || fd_ < 0) return !failed();
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISFIFO(st.st_mode)) return true;
  for (;;) {
    int unread = 0;
    if (::ioctl(fd_, FIONREAD, &unread) != 0 || unread <= 0) return true;
    // Nothing asked for: only an error (no reader left) wakes the poll before its time.
    pollfd p{fd_, 0, 0};
    const int ready = ::poll(&p, 1, 10);
    if (ready < 0 && errno == EINTR) {
      // The operator stopped the program: nothing is known to have arrived.
      fail(EINTR, QStringLiteral("čekání na čtenáře přerušeno (nepřečteno %1 B)").arg(unread));
      return false;
    }
    if (ready > 0 && (p.revents & POLLERR) != 0) {
      if (::ioctl(fd_, FIONREAD, &unread) != 0 || unread <= 0) return true;
      fail(EPIPE, FileErrorText(EPIPE) + QStringLiteral(" (nepřečteno %1 B)").arg(unread));
      return false;
    }
  }
}
