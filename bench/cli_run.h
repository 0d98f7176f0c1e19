#pragma once
// The companion program run in the benchmark's own process, its output kept and its
// messages printed only when it fails.
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QThread>
#include <cstdio>

#include "cli/cli.h"

inline int RunCliQuietly(const QStringList& args) {
  QString out, err;
  QTextStream o(&out), e(&err);
  CliIo io;
  io.out = &o;
  io.err = &e;
  io.interrupted = [] { return false; };
  io.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
  const int code = RunCli(args, io);
  e.flush();
  if (code != 0) std::fprintf(stderr, "%s\n", qPrintable(err));
  return code;
}
