// commission and line rate: a new module put in service, a whole line moved to another rate,
// both with the operator's power cycle confirmed on the terminal.

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "base/commission/commission_template.h"
#include "base/commission/commissioning.h"
#include "base/commission/line_rate.h"
#include "base/config/line_file.h"
#include "base/files/checked_file.h"
#include "base/text/baud.h"
#include "cli/cli_context.h"

namespace {

constexpr qint64 DefaultPowerWaitMs = 30000;

QString JsonLine(const QJsonObject& object) {
  return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

bool PowerWait(CliContext& c, qint64& ms, int& exitCode) {
  ms = DefaultPowerWaitMs;
  if (!c.args.has(QStringLiteral("power-wait")) || ParseNumber(c.args.value(QStringLiteral("power-wait")), 1000, 600000, ms))
    return true;
  exitCode = c.fail(ExitUsage, QStringLiteral("Čekání na zapnutí modulu musí být v rozsahu 1000–600000 ms."));
  return false;
}

// The line file the command reads and writes back: --line, else the workbench's last line.
// A missing file is a new line when `mayBeNew`.
bool LoadLine(CliContext& c, bool mayBeNew, QString& path, LineFile& line, int& exitCode) {
  path = c.args.has(QStringLiteral("line")) ? c.args.value(QStringLiteral("line")) : LastLinePath();
  const auto refuse = [&](const QString& text) {
    exitCode = c.fail(ExitUsage, text);
    return false;
  };
  // Standard input carries the operator's confirmations, so the line cannot come that way.
  if (path == QLatin1String("-"))
    return refuse(QStringLiteral("Soubor linky nemůže být standardní vstup ani výstup (-): standardní vstup potvrzuje "
                                 "vypnutí a zapnutí napájení."));
  if (path.isEmpty()) return refuse(QStringLiteral("Uživatel nemá složku pro data; zadejte --line SOUBOR."));
  if (const QString refused = RefusedFileTarget(path); !refused.isEmpty())
    return refuse(QStringLiteral("Soubor linky %1 nelze zapsat: %2.").arg(path, refused));
  if (mayBeNew && !QFileInfo::exists(path)) {
    line = LineFile(QDateTime::currentDateTime(), {});
    return true;
  }
  QString error;
  if (!LoadLineFile(path, line, error)) return refuse(QStringLiteral("%1: %2").arg(path, error));
  return true;
}

bool SaveLine(CliContext& c, const QString& path, LineFile line, const QString& whatHappened, int& exitCode) {
  line.saved = QDateTime::currentDateTime();
  QString error;
  if (SaveLineFile(path, line, error)) return true;
  exitCode = c.fail(ExitUsage, QStringLiteral("%1 Soubor linky %2 ale nelze zapsat: %3; předchozí soubor zůstal.")
                                   .arg(whatHappened, path, error));
  return false;
}

// The operator's line after a prompt on standard output (flushed, so that a script reading
// it through a pipe sees it first); none when the input ended or a signal came.
std::optional<QString> Ask(CliContext& c, const QString& prompt) {
  c.out() << prompt << '\n';
  c.out().flush();
  std::optional<QString> line = c.io.readLine ? c.io.readLine() : std::nullopt;
  if (c.interrupted()) return std::nullopt;
  return line;
}

bool ConfirmPowerCycle(CliContext& c, const QString& prompt) {
  return Ask(c, prompt + QStringLiteral(" Potom stiskněte Enter.")).has_value();
}

PlaceAccess AccessOf(const CliContext& c) { return {c.data.Interface, c.data.DriverHandle, c.data.ResponseTimeout, {}}; }

int CommissionExit(StepReport::Outcome outcome) {
  switch (outcome) {
    case StepReport::Done: return ExitOk;
    case StepReport::Refused: return ExitUsage;
    case StepReport::Absent:
    case StepReport::Collided: return ExitConnection;
    default: return ExitModule;
  }
}

}  // namespace

int CmdCommission(CliContext& c) {
  CommissionPlan plan;
  for (const auto& [option, place] : {std::pair{"from", &plan.from}, std::pair{"to", &plan.to}})
    if (!ParsePlace(c.args.value(QLatin1String(option)), *place))
      return c.fail(ExitUsage, QStringLiteral("Volba --%1 potřebuje místo ADRESA@RYCHLOST, např. 0@9600 (adresa 0–255, %2).")
                                   .arg(QLatin1String(option), RateChoicesText));
  plan.tag = c.args.value(QStringLiteral("tag")).trimmed();
  qint64 powerWait = 0;
  int exitCode = ExitOk;
  if (!PowerWait(c, powerWait, exitCode)) return exitCode;
  // Everything that can be refused is refused before the first exchange.
  if (c.args.has(QStringLiteral("template"))) {
    CommissionTemplate source;
    QString error;
    if (!LoadCommissionTemplate(c.args.value(QStringLiteral("template")), source, error)) return c.fail(ExitUsage, error);
    if (const QString refused = RefusedValueText(source.image, TemplateAddresses()); !refused.isEmpty())
      return c.fail(ExitUsage, QStringLiteral("Vzor: %1 Nic nezapsáno.").arg(refused));
    plan.templateImage = source.image;
    plan.templateType = source.type;
  }
  QString linePath;
  LineFile line;
  const bool withLine = c.args.has(QStringLiteral("line"));
  if (withLine) {
    if (!LoadLine(c, true, linePath, line, exitCode)) return exitCode;
    for (const LineModule& m : line.modules)
      if (m.address == plan.to.address && m.baudCode == plan.to.baudCode)
        return c.fail(ExitUsage, QStringLiteral("Linka %1 už má modul na místě %2; nic nezapsáno.").arg(linePath, PlaceText(plan.to)));
  }

  c.data.ModuleAddress = plan.from.address;
  c.data.BaudRate = BaudCodeToRate(plan.from.baudCode);
  if (const int r = c.connect(false); r != ExitOk) return r;
  CommissionEvents events;
  events.report = [&c](CommissionStep, const QString& text) { c.say(text); };
  events.progress = [&c](CommissionStep, ImagePhase phase, int percent) {
    c.progressBar(phase == ImagePhase::Reading   ? QStringLiteral("Čtení")
                  : phase == ImagePhase::Writing ? QStringLiteral("Zápis")
                                                 : QStringLiteral("Kontrola"),
                  percent);
  };
  events.powerCycle = [&c](const QString& prompt) { return ConfirmPowerCycle(c, prompt); };
  events.cancelled = [&c] { return c.interrupted(); };
  events.sleep = c.io.sleep;
  Commissioning job(AccessOf(c), plan, events);
  job.setPowerWaitMs(int(powerWait));

  while (!job.run()) {
    const StepReport& last = job.last();
    if (last.outcome == StepReport::Cancelled) {
      if (c.interrupted()) return c.stopped(QStringLiteral("Přerušeno signálem %1.").arg(c.signalName()));
      return c.fail(ExitUsage, QStringLiteral("Vstup skončil bez potvrzení; uvedení do provozu nedokončeno."));
    }
    if (last.outcome == StepReport::Refused) return ExitUsage;
    // The operator may put right what failed (connect the module alone, switch it on) and
    // have the step done again.
    const std::optional<QString> answer =
        Ask(c, QStringLiteral("Krok „%1“ lze zopakovat: napište a a stiskněte Enter; cokoli jiného příkaz ukončí.")
                   .arg(CommissionStepName(last.step)));
    if (c.interrupted()) return c.stopped(QStringLiteral("Přerušeno signálem %1.").arg(c.signalName()));
    if (!answer || answer->trimmed().toLower() != QLatin1String("a")) return CommissionExit(last.outcome);
  }

  const QString done = QStringLiteral("Modul uveden do provozu: %1.").arg(PlaceText(plan.to));
  if (withLine) {
    LineModule m;
    m.address = plan.to.address;
    m.baudCode = plan.to.baudCode;
    m.ident = QString(job.ident()).remove(QChar(u'\0'));
    m.tag = plan.tag;
    line.modules.append(m);
    line.images.insert(ModuleKey(m), job.verified().image);
    if (!SaveLine(c, linePath, line, done, exitCode)) return exitCode;
  }
  const QString verified = job.verifiedAt().toOffsetFromUtc(job.verifiedAt().offsetFromUtc()).toString(Qt::ISODateWithMs);
  if (c.json())
    c.out() << JsonLine({{QStringLiteral("address"), plan.to.address},
                         {QStringLiteral("rate"), BaudCodeToRate(plan.to.baudCode)},
                         {QStringLiteral("tag"), plan.tag},
                         {QStringLiteral("ident"), job.ident().trimmed()},
                         {QStringLiteral("verified"), verified},
                         {QStringLiteral("values"), NamedValuesJson(job.verified().image)},
                         {QStringLiteral("line"), linePath}})
            << '\n';
  else
    c.out() << QStringLiteral("address=%1\nrate=%2\ntag=%3\nident=%4\nverified=%5\n")
                   .arg(plan.to.address)
                   .arg(BaudCodeToRate(plan.to.baudCode))
                   .arg(plan.tag, job.ident().trimmed(), verified)
            << (withLine ? QStringLiteral("line=%1\n").arg(linePath) : QString());
  c.say(withLine ? done + QStringLiteral(" Zapsán do linky %1.").arg(linePath) : done);
  return ExitOk;
}

int CmdLineRate(CliContext& c) {
  int baudCode = 0;
  if (!ParseRate(c.args.value(QStringLiteral("to")), baudCode)) return c.fail(ExitUsage, RateChoicesText);
  qint64 powerWait = 0;
  int exitCode = ExitOk;
  QString path;
  LineFile line;
  if (!PowerWait(c, powerWait, exitCode) || !LoadLine(c, false, path, line, exitCode)) return exitCode;
  if (const int r = c.connect(false); r != ExitOk) return r;

  LineRateEvents events;
  events.progress = [&c](int phase, int index, int count) {
    c.progressBar(phase == 0 ? QStringLiteral("Zápis") : QStringLiteral("Hledání"), index * 100 / count);
  };
  events.powerCycle = [&c](const QString& prompt) { return ConfirmPowerCycle(c, prompt); };
  events.cancelled = [&c] { return c.interrupted(); };
  events.sleep = c.io.sleep;
  const LineRateResult result = ChangeLineRate(AccessOf(c), line, baudCode, events, int(powerWait));
  switch (result.outcome) {
    case LineRateResult::Refused: return c.fail(ExitUsage, result.refusal);
    case LineRateResult::Cancelled:
      if (c.interrupted())
        return c.stopped(QStringLiteral("Přerušeno signálem %1: %2").arg(c.signalName(), LineRateCancelText(result)));
      return c.fail(ExitUsage, QStringLiteral("Vstup skončil bez potvrzení: %1").arg(LineRateCancelText(result)));
    default: break;
  }
  for (const LineRateRow& row : result.rows) {
    if (!c.json()) {
      c.out() << LineRateRowText(row, baudCode) << '\n';
      continue;
    }
    c.out() << JsonLine({{QStringLiteral("address"), row.before.address},
                         {QStringLiteral("rate_before"), BaudCodeToRate(row.before.baudCode)},
                         {QStringLiteral("written"), row.write == LineRateRow::Written},
                         {QStringLiteral("write_error"), row.writeText},
                         {QStringLiteral("rate_now"), row.after.found ? QJsonValue(BaudCodeToRate(row.after.place.baudCode))
                                                                      : QJsonValue()}})
            << '\n';
  }
  const QString summary = result.outcome == LineRateResult::Done
                              ? QStringLiteral("Všechny moduly linky odpovídají na %1 Bd.").arg(BaudCodeToRate(baudCode))
                              : QStringLiteral("Některé moduly na %1 Bd neodpovídají; tabulka říká, kde odpovídají.")
                                    .arg(BaudCodeToRate(baudCode));
  if (!SaveLine(c, path, result.line, summary, exitCode)) return exitCode;
  return c.fail(result.outcome == LineRateResult::Done ? ExitOk : ExitModule,
                summary + QStringLiteral(" Soubor linky %1 zapsán.").arg(path));
}
