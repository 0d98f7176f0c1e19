#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>
#include <cstdint>

// One module of the line: where it answers and what it calls itself.
struct LineModule {
  uint8_t address = 0;
  int baudCode = 4;
  QString ident;        // as the module sent it, zero characters removed
  bool late = false;    // found, but its answer came close to the scan's timeout
  int answerMs = 0;     // the slowest of its identification exchanges during the scan
  bool operator==(const LineModule& o) const { return address == o.address && baudCode == o.baudCode; }
};

// What a scan tries: every address of the range at every chosen rate, one try each with a
// short timeout.
struct ScanPlan {
  int firstAddress = 0;
  int lastAddress = 255;
  QVector<int> baudCodes;
  int timeoutMs = 20;
  int restoreBaudCode = 4;   // the rate and timeout the interface returns to afterwards
  int restoreTimeoutMs = 150;
  int tries() const { return (lastAddress - firstAddress + 1) * int(baudCodes.size()); }
};

// One poll of one module.
struct ModuleReading {
  uint8_t address = 0;
  int baudCode = 4;
  qint64 timeMs = 0;          // milliseconds since the epoch, when the reading was taken
  bool ok = false;            // every exchange of the poll answered
  uint32_t status = 0;        // the failing exchange's status
  QString error;              // its text
  bool current = false;       // input 0 measures current (shown in mA) rather than voltage
  double ain0 = 0;
  int decimals = 0;
  uint32_t din = 0;
  uint32_t statusRegister = 0;

  QString unit() const { return current ? QStringLiteral("mA") : QStringLiteral("V"); }
};

// The answer of a command the operator gave a module (outputs, status clear).
struct CommandResult {
  enum Kind { Outputs, ClearStatus } kind = Outputs;
  uint8_t address = 0;
  int baudCode = 4;
  uint32_t word = 0;  // the outputs written
  uint32_t status = 0;
  QString error;
};

Q_DECLARE_METATYPE(LineModule)
Q_DECLARE_METATYPE(ScanPlan)
Q_DECLARE_METATYPE(ModuleReading)
Q_DECLARE_METATYPE(CommandResult)
