#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// The one way the programs write and read files.
//
// A whole file (a backup, the line file, the settings file, an export) goes through
// WriteFileChecked: a temporary file beside the target, written whole, flushed to the disk
// and renamed over the target, so that a failure of any kind (a full disk, a quota, a file
// size limit, an I/O error) leaves the earlier file as it was.
//
// A file written over time (a trace, a log, standard output) goes through CheckedStream:
// every write reaches the file at once and is checked; the first failure stops the stream for
// good, and the stream keeps how far it got.
//
// A target that exists and is not a regular file (a device, a FIFO, a directory, a socket) is
// refused either way, so that no device or pipe is ever replaced by a file or written into by
// mistake; a symbolic link is followed to what it names, and refused when that is no regular
// file either.
//
// Failures are Czech texts without the file's name, for the caller's sentence
// ("Soubor %1 nelze zapsat: %2.").

// The Czech text of an errno value ("na zařízení není volné místo"); the system's text for
// rare ones.
QString FileErrorText(int error);

// Reads the whole of `path` into `bytes` through the one reader (base/files/file_read.h): a FIFO, a
// device, a socket or a folder is refused without blocking, and so is a file larger than
// `limit` bytes (never cut). False, with the Czech reason in `reason` and `bytes` empty, when
// the file is missing (then *missing is set), refused or cannot be read.
bool ReadFileChecked(const QString& path, qint64 limit, QByteArray* bytes, QString* reason = nullptr,
                     bool* missing = nullptr);

// Why `path` cannot be written: empty when it does not exist yet or is a regular file (after
// following symbolic links), else the reason ("není obyčejný soubor, je to znakové zařízení").
QString RefusedFileTarget(const QString& path);

// Why no new file can be made at `path` (the name too long, its folder missing or not
// writable, something there already), found by making it and taking it away again; empty
// when one can.
QString NewFileRefusal(const QString& path);

// Writes `bytes` as the whole new content of `path` (followed when it is a symbolic link; the
// folder must exist). A replaced file keeps its permissions. False, with the reason in
// `reason`, when anything failed: the earlier file is then untouched and no temporary file is
// left behind.
bool WriteFileChecked(const QString& path, const QByteArray& bytes, QString* reason = nullptr);

// Writes `bytes` as a new file at `path` with the permissions `mode` (before the umask), or
// fails (EEXIST, "soubor už existuje") when anything is there already, a link too, also one
// made while this wrote: the file appears whole under its name or not at all.
bool WriteNewFileChecked(const QString& path, const QByteArray& bytes, int mode, QString* reason = nullptr);

// A file written piece by piece. Each write goes straight to the file with write(2), whole
// or not at all: after a short write the file is cut back to where the write began, so a log
// never ends in half a line. The first failure closes the stream to further writes (they
// return -1 at once); failure() says why and written() how many bytes got there before.
// A QIODevice, so a QTextStream can sit on it (flushed, each flush is such a write).
class CheckedStream : public QIODevice {
 public:
  enum class Start {
    Truncate,  // an existing file starts empty
    Append,    // an existing file is continued
    CreateNew  // the file must not exist yet
  };

  CheckedStream() = default;
  ~CheckedStream() override;

  // Opens the file; false (failure() says why) when it cannot be opened or is refused.
  bool openFile(const QString& path, Start start);
  // A descriptor the program already holds (standard output), called `name` in messages and
  // left open at the end. Writes to a closed descriptor fail with EBADF, to a pipe whose
  // reader has gone with EPIPE (SIGPIPE must then be ignored, or the program dies of it).
  bool openDescriptor(int fd, const QString& name);
  // Closes a file it opened; a failed close(2) counts as a failed write.
  void close() override;

  bool failed() const { return !failure_.isEmpty(); }
  QString failure() const { return failure_; }  // empty while nothing failed
  int failureErrno() const { return errno_; }   // 0 for a refusal without an errno
  qint64 written() const { return written_; }   // bytes that reached the file
  QString name() const { return name_; }

  // Whether everything written got where it was going. For a pipe this waits until the reader
  // has taken every byte, and fails (EPIPE) when the reader ended first, as `| head -c10`
  // does, or when a signal (Ctrl+C) ends the wait. Other files: !failed().
  bool delivered();

  bool isSequential() const override { return true; }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override;

 private:
  void fail(int error, const QString& text = QString());

  int fd_ = -1;
  bool owned_ = false;
  bool regular_ = false;
  QString name_;
  QString failure_;
  int errno_ = 0;
  qint64 written_ = 0;
};
