#include "cli/calibration_record_options.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include "base/calibration/calibration_entries.h"
#include "base/files/checked_file.h"

const QStringList CalibrationRecordOptions = {
    QStringLiteral("tag="),   QStringLiteral("operator="),         QStringLiteral("reference-name="),
    QStringLiteral("reference-serial="), QStringLiteral("reference-valid-until="), QStringLiteral("tolerance="),
    QStringLiteral("readings="), QStringLiteral("power-wait=")};

namespace {

// The system's notation or the C one a script writes; a trailing "%" may stay.
bool ParsePercent(QString text, double& value) {
  text = text.trimmed();
  if (text.endsWith(QLatin1Char('%'))) text = text.chopped(1).trimmed();
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
  bool ok = false;
  double parsed = locale.toDouble(text, &ok);
  if (!ok) parsed = QLocale::c().toDouble(text, &ok);
  if (!ok) return false;
  value = parsed;
  return true;
}

QDate ParseDate(const QString& text) {
  QDate date = QDate::fromString(text.trimmed(), Qt::ISODate);
  if (!date.isValid()) date = QDate::fromString(QString(text).remove(QLatin1Char(' ')), QStringLiteral("d.M.yyyy"));
  return date;
}

}  // namespace

bool ReadRecordOptions(const ParsedArgs& args, uint8_t range, CalibrationRecord& record, RecordTarget& target,
                       QString& error) {
  const auto text = [&](const char* name) { return args.value(QLatin1String(name)).trimmed(); };
  record.range = range;
  record.tag = text("tag");
  record.operatorName = text("operator");
  record.referenceName = text("reference-name");
  record.referenceSerial = text("reference-serial");
  // What a signed record cannot do without.
  const std::pair<const char*, const QString*> required[] = {
      {"--tag", &record.tag}, {"--operator", &record.operatorName}, {"--reference-name", &record.referenceName}};
  for (const auto& [option, value] : required)
    if (value->isEmpty()) {
      error = QStringLiteral("Záznam kalibrace potřebuje %1 (označení modulu, kdo kalibruje a referenční přístroj: "
                             "--tag, --operator, --reference-name).")
                  .arg(QLatin1String(option));
      return false;
    }
  if (const QString problem = CalibrationEntriesProblem(record); !problem.isEmpty()) {
    error = problem;
    return false;
  }
  if (args.has(QStringLiteral("reference-valid-until"))) {
    record.referenceValidUntil = ParseDate(text("reference-valid-until"));
    if (!record.referenceValidUntil.isValid()) {
      error = QStringLiteral("Platnost kalibrace referenčního přístroje musí být datum RRRR-MM-DD (např. 2027-05-31).");
      return false;
    }
  }
  record.tolerancePercent = DefaultTolerancePercent;
  if (args.has(QStringLiteral("tolerance")) &&
      (!ParsePercent(text("tolerance"), record.tolerancePercent) || !(record.tolerancePercent > 0) ||
       record.tolerancePercent > 10)) {
    error = QStringLiteral("Tolerance musí být v rozsahu 0–10 % rozsahu (větší než 0, např. 0,1).");
    return false;
  }

  const QString given = args.value(QStringLiteral("record"));
  if (given.isEmpty()) {
    target = {CalibrationRecordFolder(), true, {}};
    if (target.path.isEmpty() || !QDir().mkpath(target.path)) {
      error = target.path.isEmpty() ? QStringLiteral("Uživatel nemá složku pro data; zadejte --record SOUBOR.")
                                    : QStringLiteral("Složku %1 nelze vytvořit.").arg(target.path);
      return false;
    }
  } else {
    const QFileInfo info(given);
    if (info.isDir()) {
      target = {given, true, {}};
    } else if (info.exists() || info.isSymLink()) {
      error = QStringLiteral("Soubor %1 už existuje; záznam kalibrace se nepřepisuje.").arg(given);
      return false;
    } else {
      target = {given, false, {}};
    }
  }
  const QString folder = target.folder ? target.path : QFileInfo(target.path).absolutePath();
  if (!QFileInfo(folder).isDir() || !QFileInfo(folder).isWritable()) {
    error = QStringLiteral("Do složky %1 nelze záznam kalibrace zapsat.").arg(folder);
    return false;
  }
  // The record's name is decided now, and tried: a calibration whose record could not be
  // written afterwards would have changed the module without a trace.
  record.started = QDateTime::currentDateTime().toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc());
  QString why;
  const QString path = target.folder ? PlanCalibrationRecordIn(target.path, record, why) : target.path;
  if (path.isEmpty() || (!target.folder && !(why = NewFileRefusal(path)).isEmpty())) {
    error = QStringLiteral("Záznam kalibrace nelze zapsat do %1: %2").arg(target.folder ? target.path : path, why);
    if (!error.endsWith(QLatin1Char('.'))) error += QLatin1Char('.');
    return false;
  }
  if (!LoadSigningKey(SigningKeyFolder(), target.key, why)) {
    error = QStringLiteral("Záznam kalibrace nelze podepsat: %1.").arg(why);
    return false;
  }
  return true;
}

QString WriteRecord(const RecordTarget& target, CalibrationRecord& record, QString& error) {
  if (target.folder) return SaveCalibrationRecordIn(target.path, record, target.key, error);
  // Made after the calibration: a file that appeared meanwhile is not replaced either.
  return SaveCalibrationRecord(target.path, record, target.key, error) ? target.path : QString();
}
