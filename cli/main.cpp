// qx510-cli: the companion program for scripted and many-module service work.

#include <unistd.h>

#include <QCoreApplication>
#include <QTextStream>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/cli.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void OnInterrupt(int) { stopRequested = 1; }
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);

  QTextStream out(stdout), err(stderr);
  CliIo io;
  io.out = &out;
  io.err = &err;
  io.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  io.readLine = [&out, &err]() -> std::optional<QString> {
    out.flush();
    err.flush();
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return QString::fromLocal8Bit(line);
  };
  io.interrupted = [] { return stopRequested != 0; };
  io.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };

  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  const int code = RunCli(args, io);
  out.flush();
  err.flush();
  return code;
}
