// calibrate voltage|current: the calibration window's two-point procedure on the terminal.

#include <QLocale>

#include "base/calibration_constants.h"
#include "base/calibration_procedure.h"
#include "cli/cli_context.h"

namespace {

// The window's instructions end in its confirm button; here the operator presses Enter.
QString OnTerminal(QString instruction) {
  return instruction.replace(QStringLiteral("stiskni tlačítko Potvrzení"), QStringLiteral("stiskni Enter"));
}

// The system's notation as the window reads it, or the C notation a script writes.
bool ParseReference(const QString& text, double& value) {
  if (ParseReferenceText(text.trimmed(), value)) return true;
  bool ok = false;
  const double parsed = QLocale::c().toDouble(text.trimmed(), &ok);
  if (ok) value = parsed;
  return ok;
}

// Interrupted by a signal: the shell's code for SIGINT.
constexpr int ExitInterrupted = 130;

}  // namespace

int CmdCalibrate(CliContext& c) {
  const QString which = c.args.positional.front();
  if (which != QLatin1String("voltage") && which != QLatin1String("current"))
    return c.fail(ExitUsage, QStringLiteral("Rozsah kalibrace musí být voltage nebo current."));
  const uint8_t range = which == QLatin1String("voltage") ? RangeVoltage : RangeCurrent;
  qint64 settle = 1000;
  if (c.args.has(QStringLiteral("settle")) && !ParseNumber(c.args.value(QStringLiteral("settle")), 0, 60000, settle))
    return c.fail(ExitUsage, QStringLiteral("Čekání musí být v rozsahu 0-60000 ms."));
  // A given reference is checked before anything is written.
  const bool referenceGiven = c.args.has(QStringLiteral("reference"));
  double entered = 0;
  if (referenceGiven) {
    if (!ParseReference(c.args.value(QStringLiteral("reference")), entered))
      return c.fail(ExitUsage, ReferenceNumberText(range));
    if (!ReferenceInWindow(range, entered)) return c.fail(ExitUsage, ReferenceWindowText(range));
  }

  if (const int r = c.connect(); r != ExitOk) return r;
  const uint8_t iface = c.data.Interface, module = c.data.ModuleAddress, input = 0;
  const uint32_t handle = c.data.DriverHandle;
  CalibrationSession session(iface, handle, module, [&c](const QString& text) { c.say(text.trimmed()); });
  const auto interrupted = [&c] { return c.io.interrupted && c.io.interrupted(); };
  // Every end short of success writes back what the start changed and says how that went.
  const auto writeBack = [&]() {
    const CalibrationSession::Restored restored = session.Restore();
    if (!restored.text.isEmpty()) c.say(restored.text);
    return restored.complete;
  };
  const auto abandon = [&](int code, const QString& reason) {
    if (!reason.isEmpty()) c.say(reason);
    const bool restored = writeBack();
    c.say(CalibrationAbandonedText);
    return restored || code == ExitInterrupted ? code : int(ExitModule);
  };

  c.say(QStringLiteral("Probíhá inicializace kalibrace."));
  if (session.Start(input, range) != ConfigWriteResult::Written) {
    writeBack();
    return ExitModule;
  }

  auto measure = [&](double& value) {
    c.say(QStringLiteral("Probíhá měření vstupu."));
    c.io.sleep(int(settle));
    if (interrupted()) return abandon(ExitInterrupted, QString());
    const uint32_t status = MeasureInput(iface, handle, module, input, value);
    if (status != 0) return abandon(ExitModule, c.statusText(status));
    return int(ExitOk);
  };
  // The operator's Enter or line; an interrupt or the end of the input abandons.
  auto confirm = [&](std::optional<QString>& line) {
    line = c.io.readLine ? c.io.readLine() : std::optional<QString>();
    if (interrupted()) return abandon(ExitInterrupted, QString());
    return line ? int(ExitOk) : abandon(ExitUsage, QString());
  };

  double zero = 0, reference = 0;
  std::optional<QString> line;
  if (!c.args.has(QStringLiteral("zero-ready"))) {
    c.out() << OnTerminal(ShortInputInstruction(range)) << Qt::endl;
    if (const int r = confirm(line); r != ExitOk) return r;
  }
  if (const int r = measure(zero); r != ExitOk) return r;

  c.out() << OnTerminal(ApplyReferenceInstruction(range)) << Qt::endl;
  if (const int r = confirm(line); r != ExitOk) return r;
  if (!referenceGiven) {
    if (!ParseReference(*line, entered)) return abandon(ExitUsage, ReferenceNumberText(range));
    if (!ReferenceInWindow(range, entered)) return abandon(ExitUsage, ReferenceWindowText(range));
  }
  if (const int r = measure(reference); r != ExitOk) return r;

  uint16_t gain = 0, offset = 0;
  if (!ComputeCalibrationConstants(range, entered, zero, reference, gain, offset))
    return abandon(ExitModule, MeasuredValuesErrorText);
  c.say(QStringLiteral("Probíhá zápis kalibračních konstant."));
  if (session.StoreConstants(gain, offset) != ConfigWriteResult::Written) return abandon(ExitModule, QString());
  // The new constants stay; the input gets its former range back.
  const bool rangeRestored = writeBack();
  c.out() << CalibratedText << Qt::endl;
  c.out() << QStringLiteral("gain=%1\noffset=%2\n").arg(gain).arg(int16_t(offset));
  return rangeRestored ? ExitOk : ExitModule;
}
