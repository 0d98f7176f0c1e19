#include "base/calibration/calibration_entries.h"

#include <cmath>

#include "base/text/baud.h"
#include "base/calibration/calibration_record.h"
#include "base/text/plain_text.h"
#include "base/exchange/driver_types.h"

namespace {

// The program's own texts (what the calibration's end said) may be long, not endless.
constexpr int MaxProgramTextChars = 10000;

QString SeriesProblem(const QString& name, const ReadingSeries& series, double limit, const QString& unit) {
  if (series.readings.size() > MaxCalibrationReadings)
    return QStringLiteral("%1: víc než %2 měření.").arg(name).arg(MaxCalibrationReadings);
  for (qsizetype i = 0; i < series.readings.size(); ++i) {
    const CalibrationReading& r = series.readings[i];
    for (const auto& [what, value] : {std::pair{QStringLiteral("naměřená hodnota"), r.value},
                                      std::pair{QStringLiteral("reference"), r.reference}})
      if (!std::isfinite(value) || std::fabs(value) > limit)
        return QStringLiteral("%1, měření %2: %3 %4 leží mimo fyzikální meze rozsahu (±%5 %6).")
            .arg(name)
            .arg(i + 1)
            .arg(what, QString::number(value))
            .arg(limit)
            .arg(unit);
  }
  return {};
}

QString UnsafeCharacterProblem(const QString& label, const QString& text) {
  return QString::fromStdString(UnsafeTextProblem(label.toStdString(), text.toStdString()));
}

}  // namespace

QString CalibrationTextProblem(const QString& label, const QString& text, bool required) {
  if (required && text.trimmed().isEmpty()) return QStringLiteral("%1 chybí.").arg(label);
  if (text.size() > MaxCalibrationTextChars)
    return QStringLiteral("%1 je delší než %2 znaků.").arg(label).arg(MaxCalibrationTextChars);
  return UnsafeCharacterProblem(label, text);
}

QString CalibrationEntriesProblem(const CalibrationRecord& r) {
  const struct {
    const char* label;
    const QString& text;
    bool required;
  } texts[] = {
      {"Označení modulu", r.tag, true},
      {"Jméno toho, kdo kalibruje,", r.operatorName, true},
      {"Název referenčního přístroje", r.referenceName, true},
      {"Výrobní číslo referenčního přístroje", r.referenceSerial, false},
  };
  for (const auto& t : texts)
    if (const QString problem = CalibrationTextProblem(QString::fromUtf8(t.label), t.text, t.required); !problem.isEmpty())
      return problem;
  if (!(r.tolerancePercent > 0 && r.tolerancePercent <= MaxTolerancePercent))
    return QStringLiteral("Tolerance musí být v rozsahu 0-%1 % rozsahu (větší než 0).").arg(MaxTolerancePercent);
  return {};
}

QString CalibrationRecordProblem(const CalibrationRecord& r) {
  if (const QString problem = CalibrationEntriesProblem(r); !problem.isEmpty()) return problem;
  for (const auto& [label, text] : {std::pair{QStringLiteral("Identifikace modulu"), &r.ident},
                                    std::pair{QStringLiteral("Připojení modulu"), &r.connection},
                                    std::pair{QStringLiteral("Zpráva programu"), &r.endText}}) {
    if (text->size() > MaxProgramTextChars) return QStringLiteral("%1 je delší než %2 znaků.").arg(label).arg(MaxProgramTextChars);
    if (const QString problem = UnsafeCharacterProblem(label, *text); !problem.isEmpty()) return problem;
  }
  if (r.interfaceType >= InterfaceCount) return QStringLiteral("Neznámé rozhraní %1.").arg(r.interfaceType);
  if (BaudCodeToRate(BaudRateToCode(r.rate)) != r.rate) return QStringLiteral("Neplatná rychlost %1 Bd.").arg(r.rate);
  const double limit = 1.5 * RangeSpan(r.range);
  for (const auto& [name, series] : {std::pair{QStringLiteral("Stav před kalibrací"), &r.asFound},
                                     std::pair{QStringLiteral("Stav po kalibraci"), &r.asLeft}})
    if (const QString problem = SeriesProblem(name, *series, limit, r.unit()); !problem.isEmpty()) return problem;
  if (!r.started.isValid()) return QStringLiteral("Chybí začátek kalibrace.");
  if (r.ended.isValid() && r.ended < r.started) return QStringLiteral("Konec kalibrace je dřív než její začátek.");
  return {};
}

QString SafeRecordText(const QString& text) {
  QString safe;
  for (const char32_t c : text.toUcs4())
    if (!IsUnsafeCodePoint(c)) safe += QString::fromUcs4(&c, 1);
  return safe;
}
