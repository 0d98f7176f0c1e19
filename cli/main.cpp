// qx510-cli: the companion program for scripted and many-module service work.

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

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
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  CatchStop(SIGINT);
  CatchStop(SIGTERM);

  QTextStream out(stdout), err(stderr);
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
  io.readInput = []() -> std::optional<QByteArray> {
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) return std::nullopt;
    return input.readAll();
  };
  io.interrupted = [] { return int(stopRequested); };
  io.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };

  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  const int code = RunCli(args, io);
  out.flush();
  err.flush();
  return code;
}
