// calibrate voltage|current: the calibration window's two-point procedure on the terminal;
// with --record also the readings before and after it and the record of the whole.

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <optional>

#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_procedure.h"
#include "base/calibration/calibration_readout.h"
#include "base/calibration/calibration_record.h"
#include "base/settings/line_device.h"
#include "base/text/czech_plural.h"
#include "base/text/value_format.h"
#include "cli/calibration_record_options.h"
#include "cli/cli_context.h"

namespace {

// The module needs a while after it is switched on; the operator may take longer.
constexpr qint64 DefaultPowerWaitMs = 30000;
constexpr int PowerPollMs = 200;
constexpr int ReadingIntervalMs = 200;

// What confirms a step on the terminal.
const QString PressEnter = QStringLiteral("stiskněte Enter");

// The system's notation as the window reads it, or the C notation a script writes.
bool ParseReference(const QString& text, double& value) {
  if (ParseReferenceText(text.trimmed(), value)) return true;
  bool ok = false;
  const double parsed = QLocale::c().toDouble(text.trimmed(), &ok);
  if (ok) value = parsed;
  return ok;
}

QDateTime Now() {
  const QDateTime now = QDateTime::currentDateTime();
  return now.toOffsetFromUtc(now.offsetFromUtc());
}

// A reading with the module's decimals; a mean, a deviation or a tolerance with one more at most.
QString Reading(double v, const QString& unit) { return ReadingFigure(v) + QLatin1Char(' ') + unit; }
QString Derived(double v, const QString& unit, bool sign = false) { return DerivedFigure(v, sign) + QLatin1Char(' ') + unit; }

QString AsFoundPrompt(uint8_t range, std::optional<double> given) {
  if (given)
    return QStringLiteral("Měření před kalibrací: připojte na vstup %1 z referenčního přístroje a stiskněte Enter.")
        .arg(ReferenceWords(range, given));
  return QStringLiteral("Měření před kalibrací: připojte na vstup %1 z referenčního přístroje, zadejte hodnotu %2 "
                        "a stiskněte Enter.")
      .arg(ReferenceWords(range), range == RangeVoltage ? QStringLiteral("napětí") : QStringLiteral("proudu"));
}

QString AsLeftPrompt(uint8_t range, bool given, double calibrated) {
  if (given)
    return QStringLiteral("Měření po kalibraci: ponechte na vstupu %1 z referenčního přístroje a stiskněte Enter.")
        .arg(ReferenceWords(range, calibrated));
  return QStringLiteral("Měření po kalibraci: připojte na vstup %1 z referenčního přístroje, zadejte hodnotu %2 "
                        "(prázdný řádek: %3 jako při kalibraci) a stiskněte Enter.")
      .arg(ReferenceWords(range), range == RangeVoltage ? QStringLiteral("napětí") : QStringLiteral("proudu"),
           QLocale().toString(calibrated) + (range == RangeVoltage ? QStringLiteral(" V") : QStringLiteral(" mA")));
}

const QString PowerCyclePrompt =
    QStringLiteral("Vypněte a zapněte napájení modulu (nové konstanty platí až potom) a stiskněte Enter.");

// "Před kalibrací: průměr 5,112 V, rozpětí 0,002 V, odchylka +0,112 V, mimo toleranci ±0,010 V."
QString SeriesSummary(const QString& stage, const ReadingSeries& s, const CalibrationRecord& r) {
  return QStringLiteral("%1: průměr %2, rozpětí %3, odchylka %4, %5 ±%6.")
      .arg(stage, Derived(s.mean(), r.unit()), Derived(s.spread(), r.unit()), Derived(s.meanError(), r.unit(), true),
           VerdictText(JudgeReadings(s, r.tolerance())), Derived(r.tolerance(), r.unit()));
}

}  // namespace

int CmdCalibrate(CliContext& c) {
  const QString which = c.args.positional.front();
  if (which != QLatin1String("voltage") && which != QLatin1String("current"))
    return c.fail(ExitUsage, QStringLiteral("Rozsah kalibrace musí být voltage nebo current."));
  const uint8_t range = which == QLatin1String("voltage") ? RangeVoltage : RangeCurrent;
  qint64 settle = 1000;
  if (c.args.has(QStringLiteral("settle")) && !ParseNumber(c.args.value(QStringLiteral("settle")), 0, 60000, settle))
    return c.fail(ExitUsage, QStringLiteral("Čekání musí být v rozsahu 0–60000 ms."));
  // A given reference is checked before anything is written.
  const bool referenceGiven = c.args.has(QStringLiteral("reference"));
  double entered = 0;
  if (referenceGiven) {
    if (!ParseReference(c.args.value(QStringLiteral("reference")), entered))
      return c.fail(ExitUsage, ReferenceNumberRequest(range));
    if (!ReferenceInWindow(range, entered)) return c.fail(ExitUsage, ReferenceWindowRequest(range));
  }

  // With a record: its entries and its target are checked before anything is sent too.
  const bool recording = c.args.has(QStringLiteral("record"));
  CalibrationRecord record;
  RecordTarget target;
  qint64 readings = 5, powerWait = DefaultPowerWaitMs;
  if (recording) {
    QString error;
    if (!ReadRecordOptions(c.args, range, record, target, error)) return c.fail(ExitUsage, error);
    if (c.args.has(QStringLiteral("zero-ready")))
      return c.fail(ExitUsage, QStringLiteral("Se záznamem (--record) se vstup nejdřív měří s referencí; "
                                              "--zero-ready tu nelze použít."));
    if (c.args.has(QStringLiteral("readings")) && !ParseNumber(c.args.value(QStringLiteral("readings")), 1, 100, readings))
      return c.fail(ExitUsage, QStringLiteral("Počet měření musí být v rozsahu 1–100."));
    if (c.args.has(QStringLiteral("power-wait")) &&
        !ParseNumber(c.args.value(QStringLiteral("power-wait")), 1000, 600000, powerWait))
      return c.fail(ExitUsage, QStringLiteral("Čekání na zapnutí modulu musí být v rozsahu 1000–600000 ms."));
  } else {
    for (QString option : CalibrationRecordOptions)
      if (c.args.has(option.remove(QLatin1Char('='))))
        return c.fail(ExitUsage, QStringLiteral("Volba --%1 patří jen ke kalibraci se záznamem (--record).").arg(option));
  }

  if (const int r = c.connect(); r != ExitOk) return r;
  const uint8_t iface = c.data.Interface, module = c.data.ModuleAddress, input = 0;
  // What the connection went to, as the drivers read the port mapping when it was made.
  const QString connection = LineDeviceText(c.data);
  const uint32_t handle = c.data.DriverHandle;
  // How the calibration ended, for the record: what the operator was told on the way.
  CalibrationEnd how = CalibrationEnd::Finished;
  QStringList endTexts;
  const auto report = [&c, &endTexts](const QString& text) {
    c.say(text.trimmed());
    endTexts << text.trimmed();
  };
  CalibrationSession session(iface, handle, module, report);
  const auto interrupted = [&c] { return c.interrupted(); };
  // A signal ends the start or the store of the constants at the next byte; the write-back
  // below still runs, so the module is left as it was found.
  session.setCancelled(interrupted);

  const auto tell = [&c, &endTexts](const QString& text) {
    if (text.isEmpty()) return;
    c.say(text);
    endTexts << text;
  };
  // After the new constants are in the module, an end short of the last reading writes the
  // former constants back too, so that a cancel at any step leaves the module as it was.
  bool constantsStored = false;
  // Every end short of success writes back what the start changed and says how that went.
  const auto writeBack = [&]() {
    const CalibrationSession::Restored restored = session.Restore();
    tell(restored.text);
    bool complete = restored.complete;
    if (constantsStored) {
      const auto failed = RestoreCalibrationConstants(iface, handle, module, range, record.constantsBefore, report);
      complete = complete && failed.empty();
      tell(complete ? QStringLiteral("Původní kalibrační konstanty zapsány zpět (platí po vypnutí a zapnutí napájení modulu).")
                    : NotRestoredText(failed));
      constantsStored = false;
    }
    return complete;
  };
  const auto abandon = [&](int code, const QString& reason) {
    // The operator's end: a signal, or the input ended where an answer was awaited.
    how = code >= 128 || (code == ExitUsage && reason.isEmpty()) ? CalibrationEnd::Cancelled : CalibrationEnd::Failed;
    tell(reason);
    const bool restored = writeBack();
    tell(CalibrationAbandonedText);
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
  // The operator's Enter or line; an interrupt or the end of the input abandons.
  auto confirm = [&](std::optional<QString>& line) {
    line = c.io.readLine ? c.io.readLine() : std::optional<QString>();
    if (interrupted()) return stoppedBySignal();
    return line ? int(ExitOk) : abandon(ExitUsage, QString());
  };
  // A reference the operator typed, or the given one; an empty line takes `fallback`.
  auto referenceFrom = [&](const std::optional<QString>& line, std::optional<double> fallback, double& value) {
    if (referenceGiven || (fallback && line->trimmed().isEmpty())) {
      value = referenceGiven ? entered : *fallback;
      return int(ExitOk);
    }
    if (!ParseReference(*line, value)) return abandon(ExitUsage, ReferenceNumberRequest(range));
    if (!ReferenceInWindow(range, value)) return abandon(ExitUsage, ReferenceWindowRequest(range));
    return int(ExitOk);
  };
  // A series of readings through the constants the module holds now.
  auto readSeries = [&](const QString& stage, double reference, ReadingSeries& series) {
    c.say(QStringLiteral("Probíhá měření vstupu (%1).").arg(CzechCount(readings, "měření", "měření", "měření")));
    ReadoutOptions options;
    options.count = int(readings);
    options.settleMs = int(settle);
    options.intervalMs = ReadingIntervalMs;
    const Readout readout = ReadInputSeries(
        iface, handle, module, input, range, reference, options,
        [&](int index, const CalibrationReading& reading) {
          c.say(QStringLiteral("  %1/%2: %3, odchylka %4")
                    .arg(index + 1)
                    .arg(readings)
                    .arg(Reading(reading.value, record.unit()), Derived(reading.error(), record.unit(), true)));
        },
        interrupted, c.io.sleep, report);
    series = readout.series;
    if (readout.result == ReadoutResult::Cancelled) return stoppedBySignal();
    if (readout.result == ReadoutResult::DriverError) return abandon(ExitModule, readout.text);
    if (!readout.rangeRestored) return abandon(ExitModule, QString());
    c.say(SeriesSummary(stage, series, record));
    return int(ExitOk);
  };

  std::optional<QString> line;
  double zero = 0, reference = 0;
  uint16_t gain = 0, offset = 0;
  // The calibration from the first reading to the last; every return has said how it ended.
  const auto calibrate = [&]() -> int {
    if (recording) {
      record.constantsBefore = ReadCalibrationConstants(iface, handle, module, range);
      if (!record.constantsBefore.known)
        return abandon(ExitModule, QStringLiteral("Kalibrační konstanty modulu nelze přečíst."));
      prompt(AsFoundPrompt(range, referenceGiven ? std::optional<double>(entered) : std::nullopt));
      if (const int r = confirm(line); r != ExitOk) return r;
      double asFoundReference = 0;
      if (const int r = referenceFrom(line, std::nullopt, asFoundReference); r != ExitOk) return r;
      if (const int r = readSeries(QStringLiteral("Před kalibrací"), asFoundReference, record.asFound); r != ExitOk) return r;
    }

    c.say(QStringLiteral("Probíhá inicializace kalibrace."));
    if (const ConfigWriteResult started = session.Start(input, range); started != ConfigWriteResult::Written) {
      if (started == ConfigWriteResult::Cancelled) return stoppedBySignal();
      how = CalibrationEnd::Failed;
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

    if (!c.args.has(QStringLiteral("zero-ready"))) {
      prompt(ShortInputRequest(range, PressEnter));
      if (const int r = confirm(line); r != ExitOk) return r;
    }
    if (const int r = measure(zero); r != ExitOk) return r;

    // A reference given on the command line is only confirmed, never asked for again.
    prompt(ApplyReferenceRequest(range, PressEnter, referenceGiven ? std::optional<double>(entered) : std::nullopt));
    if (const int r = confirm(line); r != ExitOk) return r;
    if (!referenceGiven) {
      if (!ParseReference(*line, entered)) return abandon(ExitUsage, ReferenceNumberRequest(range));
      if (!ReferenceInWindow(range, entered)) return abandon(ExitUsage, ReferenceWindowRequest(range));
    }
    if (const int r = measure(reference); r != ExitOk) return r;

    if (!ComputeCalibrationConstants(range, entered, zero, reference, gain, offset))
      return abandon(ExitModule, MeasuredValuesErrorRequest);
    c.say(QStringLiteral("Probíhá zápis kalibračních konstant."));
    if (const ConfigWriteResult stored = session.StoreConstants(gain, offset); stored != ConfigWriteResult::Written)
      return stored == ConfigWriteResult::Cancelled ? stoppedBySignal() : abandon(ExitModule, QString());
    // The new constants stay; the input gets its former range back, whatever signal comes now:
    // the calibration is then complete, and the command ends as one that ran to its end.
    const CalibrationSession::Restored restored = session.Restore();
    tell(restored.text);
    c.out() << CalibratedText << '\n';
    c.out() << QStringLiteral("gain=%1\noffset=%2\n").arg(gain).arg(int16_t(offset));
    c.out().flush();
    if (!restored.complete) {
      how = CalibrationEnd::Failed;
      return ExitModule;
    }
    if (!recording) return ExitOk;

    // The constants take effect at the next power-up: the operator switches the module off
    // and on, then the readings go on once it answers again.
    constantsStored = true;
    prompt(PowerCyclePrompt);
    if (const int r = confirm(line); r != ExitOk) return r;
    c.say(QStringLiteral("Čeká se, až modul odpoví (nejvýše %1 s).").arg(powerWait / 1000));
    if (!WaitForModuleAnswer(iface, handle, module, input, int(powerWait), PowerPollMs, true, interrupted, c.io.sleep))
      return interrupted() ? stoppedBySignal()
                           : abandon(ExitModule, QStringLiteral("Modul po vypnutí a zapnutí napájení neodpověděl do %1 s.")
                                                     .arg(powerWait / 1000));
    prompt(AsLeftPrompt(range, referenceGiven, entered));
    if (const int r = confirm(line); r != ExitOk) return r;
    double asLeftReference = 0;
    if (const int r = referenceFrom(line, entered, asLeftReference); r != ExitOk) return r;
    if (const int r = readSeries(QStringLiteral("Po kalibraci"), asLeftReference, record.asLeft); r != ExitOk) return r;
    constantsStored = false;
    return ExitOk;
  };

  int code = calibrate();
  if (!recording) return code;

  // The record, whatever the end: what the module holds now, the verdict, how it ended.
  record.ended = Now();
  record.ident = c.data.ModuleIdent;
  record.interfaceType = iface;
  record.connection = connection;
  record.address = module;
  record.rate = c.data.BaudRate;
  record.input = input;
  record.constantsAfter = ReadCalibrationConstants(iface, handle, module, range);
  record.end = how;
  record.endText = endTexts.join(QLatin1Char(' '));
  QString error;
  const QString written = WriteRecord(target, record, error);
  if (written.isEmpty()) {
    c.say(QStringLiteral("Záznam kalibrace nelze zapsat do %1: %2.").arg(target.path, error));
    return code == ExitOk ? int(ExitUsage) : code;
  }
  c.say(QStringLiteral("Záznam kalibrace (%1) zapsán do %2. %3")
            .arg(EndText(record.end), written, VerdictSentence(record)));
  c.out() << QStringLiteral("record=%1\ncertificate=%2\nverdict=%3\n")
                 .arg(written, CertificateNumber(record),
                      record.verdict() == CalibrationVerdict::Within    ? QStringLiteral("within")
                      : record.verdict() == CalibrationVerdict::Outside ? QStringLiteral("outside")
                                                                        : QStringLiteral("none"));
  c.out().flush();
  // A calibration that ran to its end but leaves the input outside its tolerance.
  if (code == ExitOk && record.verdict() == CalibrationVerdict::Outside) return ExitModule;
  return code;
}
