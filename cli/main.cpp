// qx510-cli: the companion program for scripted and many-module service work.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "base/files/checked_file.h"
#include "base/text/qt_translations.h"
#include "cli/cli.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;  // the signal, 0 while none came
// The first signal lets the command finish its step; a second one ends the program at once.
void OnInterrupt(int signal) {
  if (stopRequested != 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
  stopRequested = signal;
}

// Without SA_RESTART, so that a prompt waiting on the terminal returns at Ctrl+C.
void CatchStop(int signal) {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(signal, &action, nullptr);
}

// A standard descriptor the caller closed is taken by /dev/null before anything else opens a
// file, so that no file of ours gets its number. Standard output is taken read-only: data
// written there still fails (EBADF) and is said, never lost in silence.
void HoldClosedStandardDescriptors() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int held = ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}
}  // namespace

int main(int argc, char** argv) {
  HoldClosedStandardDescriptors();
  // A reader that went away and a file over the size limit are failed writes (EPIPE, EFBIG),
  // said and exit 2, not the end of the program.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  QCoreApplication app(argc, argv);
  InstallQtCzechTranslation();
  CatchStop(SIGINT);
  CatchStop(SIGTERM);

  // The data go out through the checked writer, each flush one checked write(2).
  CheckedStream standardOutput;
  standardOutput.openDescriptor(STDOUT_FILENO, QStringLiteral("standardní výstup"));
  QTextStream out(&standardOutput), err(stderr);
  CliIo io;
  io.out = &out;
  io.err = &err;
  io.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  io.readLine = [&out, &err]() -> std::optional<QString> {
    out.flush();
    err.flush();
    std::string line;
    if (stopRequested != 0 || !std::getline(std::cin, line)) return std::nullopt;
    return QString::fromLocal8Bit(line);
  };
  io.readInput = [](qint64 maxBytes) -> std::optional<QByteArray> {
    QByteArray input;
    char buffer[65536];
    while (input.size() < maxBytes) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, std::size_t(std::min<qint64>(sizeof buffer, maxBytes - input.size())));
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR && stopRequested == 0) continue;
        return std::nullopt;
      }
      input.append(buffer, n);
    }
    return input;
  };
  io.checkOutput = [&out, &standardOutput](bool delivered) {
    out.flush();
    if (delivered) standardOutput.delivered();
    return standardOutput.failure();
  };
  io.interrupted = [] { return int(stopRequested); };
  io.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };

  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  int code = RunCli(args, io);
  out.flush();
  // What no command checked (help, version) fails here.
  if (code == ExitOk && standardOutput.failed()) {
    err << QStringLiteral("Standardní výstup nelze zapsat: %1.").arg(standardOutput.failure()) << Qt::endl;
    code = ExitUsage;
  }
  err.flush();
  return code;
}
