#include "base/calibration_procedure.h"

#include <QLocale>

#include "base/calibration_constants.h"
#include "base/commands.h"

namespace {
constexpr double VoltageMin = 1.0, VoltageMax = 10.0;  // volts
constexpr double CurrentMin = 1.0, CurrentMax = 25.0;  // milliamperes
}  // namespace

QString ShortInputInstruction(uint8_t range) {
  return range == RangeVoltage
             ? QStringLiteral("Zkratuj napěťový vstup (svorky 27 a 28) a stiskni tlačítko Potvrzení.")
             : QStringLiteral("Zkratuj proudový vstup (svorky 28 a 29) a stiskni tlačítko Potvrzení.");
}

QString ApplyReferenceInstruction(uint8_t range) {
  return range == RangeVoltage
             ? QStringLiteral("Odstraň zkrat, připoj na vstup napětí v rozsahu 4-6V, zadej hodnotu "
                              "napětí a stiskni tlačítko Potvrzení.")
             : QStringLiteral("Odstraň zkrat, připoj na vstup proud v rozsahu 9-11mA, zadej hodnotu "
                              "proudu a stiskni tlačítko Potvrzení.");
}

bool ParseReferenceText(const QString& text, double& value) {
  // The system's separator only; "5.0" under a comma locale is not a number here.
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
  bool ok = false;
  const double parsed = locale.toDouble(text, &ok);
  if (ok) value = parsed;
  return ok;
}

bool ReferenceInWindow(uint8_t range, double entered) {
  const double low = range == RangeVoltage ? VoltageMin : CurrentMin;
  const double high = range == RangeVoltage ? VoltageMax : CurrentMax;
  return entered >= low && entered <= high;  // written so that NaN is refused too
}

QString ReferenceWindowText(uint8_t range) {
  return range == RangeVoltage ? QStringLiteral("Hodnota napětí musí být v rozsahu 4-6V.")
                               : QStringLiteral("Hodnota proudu musí být v rozsahu 9-11mA.");
}

QString ReferenceNumberText(uint8_t range) {
  return ReferenceWindowText(range) +
         QStringLiteral(" Pozor na desetinnou čárku resp. tečku (nastaveno v systému).");
}

uint32_t MeasureInput(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, double& value) {
  const ExchangeResult r = ModuleTransact(iface, handle, module, Cmd::ReadChannel, input);
  if (r.Status == 0) value = DecodeMeasuredValue(r.Data[1], r.Data[2], r.Data[3], r.Data[4]);
  return r.Status;
}
