// calibrate voltage|current: the calibration window's two-point procedure on the terminal.

#include <QLocale>
#include <algorithm>

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
  const auto interrupted = [&c] { return c.interrupted(); };
  // A signal ends the start or the store of the constants at the next byte; the write-back
  // below still runs, so the module is left as it was found.
  session.setCancelled(interrupted);
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
    return restored || code >= 128 ? code : int(ExitModule);
  };
  // Stopped by a signal: 128 + the signal, after the write-back.
  const auto stoppedBySignal = [&]() {
    return abandon(128 + c.interruptSignal(),
                   QStringLiteral("Přerušeno signálem %1; co kalibrace v modulu změnila, se zapisuje zpět.")
                       .arg(c.signalName()));
  };
  // An instruction that waits for the operator's Enter or value: on standard output, flushed
  // at once, so that a script reading it through a pipe sees it before it answers.
  const auto prompt = [&c](const QString& text) {
    c.out() << text << '\n';
    c.out().flush();
  };

  c.say(QStringLiteral("Probíhá inicializace kalibrace."));
  if (const ConfigWriteResult started = session.Start(input, range); started != ConfigWriteResult::Written) {
    if (started == ConfigWriteResult::Cancelled) return stoppedBySignal();
    writeBack();
    return ExitModule;
  }

  auto measure = [&](double& value) {
    c.say(QStringLiteral("Probíhá měření vstupu."));
    // The settling wait in short steps, so that a signal ends it soon.
    for (int left = int(settle); left > 0 && !interrupted(); left -= 50) c.io.sleep(std::min(left, 50));
    if (interrupted()) return stoppedBySignal();
    const uint32_t status = MeasureInput(iface, handle, module, input, value);
    if (status != 0) return abandon(ExitModule, c.statusText(status));
    return int(ExitOk);
  };
  // The operator's Enter or line; an interrupt or the end of the input abandons.
  auto confirm = [&](std::optional<QString>& line) {
    line = c.io.readLine ? c.io.readLine() : std::optional<QString>();
    if (interrupted()) return stoppedBySignal();
    return line ? int(ExitOk) : abandon(ExitUsage, QString());
  };

  double zero = 0, reference = 0;
  std::optional<QString> line;
  if (!c.args.has(QStringLiteral("zero-ready"))) {
    prompt(OnTerminal(ShortInputInstruction(range)));
    if (const int r = confirm(line); r != ExitOk) return r;
  }
  if (const int r = measure(zero); r != ExitOk) return r;

  prompt(OnTerminal(ApplyReferenceInstruction(range)));
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
  if (const ConfigWriteResult stored = session.StoreConstants(gain, offset); stored != ConfigWriteResult::Written)
    return stored == ConfigWriteResult::Cancelled ? stoppedBySignal() : abandon(ExitModule, QString());
  // The new constants stay; the input gets its former range back, whatever signal comes now:
  // the calibration is then complete, and the command ends as one that ran to its end.
  const bool rangeRestored = writeBack();
  c.out() << CalibratedText << '\n';
  c.out() << QStringLiteral("gain=%1\noffset=%2\n").arg(gain).arg(int16_t(offset));
  c.out().flush();
  return rangeRestored ? ExitOk : ExitModule;
}
