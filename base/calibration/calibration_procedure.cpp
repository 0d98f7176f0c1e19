#include "base/calibration/calibration_procedure.h"

#include <QLocale>
#include <QStringList>
#include <iterator>

#include "base/calibration/calibration_constants.h"
#include "base/exchange/commands.h"

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

QString ShortInputRequest(uint8_t range, const QString& press) {
  return (range == RangeVoltage ? QStringLiteral("Zkratujte napěťový vstup (svorky 27 a 28) a %1.")
                                : QStringLiteral("Zkratujte proudový vstup (svorky 28 a 29) a %1."))
      .arg(press);
}

QString ReferenceWords(uint8_t range, std::optional<double> value) {
  const bool voltage = range == RangeVoltage;
  if (value) return (voltage ? QStringLiteral("napětí %1 V") : QStringLiteral("proud %1 mA")).arg(QLocale().toString(*value));
  return voltage ? QStringLiteral("napětí v rozsahu 4–6 V") : QStringLiteral("proud v rozsahu 9–11 mA");
}

QString ApplyReferenceRequest(uint8_t range, const QString& press, std::optional<double> given) {
  if (given) return QStringLiteral("Odstraňte zkrat, připojte na vstup %1 a %2.").arg(ReferenceWords(range, given), press);
  return QStringLiteral("Odstraňte zkrat, připojte na vstup %1, zadejte hodnotu %2 a %3.")
      .arg(ReferenceWords(range), range == RangeVoltage ? QStringLiteral("napětí") : QStringLiteral("proudu"), press);
}

QString ReferenceWindowRequest(uint8_t range) {
  return range == RangeVoltage ? QStringLiteral("Hodnota napětí musí být v rozsahu 4–6 V.")
                               : QStringLiteral("Hodnota proudu musí být v rozsahu 9–11 mA.");
}

QString ReferenceNumberRequest(uint8_t range) {
  return ReferenceWindowRequest(range) + QStringLiteral(" Pozor na desetinnou čárku, resp. tečku (nastaveno v systému).");
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
  int places = 0;
  return MeasureInput(iface, handle, module, input, value, places);
}

uint32_t MeasureInput(uint8_t iface, uint32_t handle, uint8_t module, uint8_t input, double& value, int& places) {
  const ExchangeResult r = ModuleTransact(iface, handle, module, Cmd::ReadChannel, input);
  if (r.Status == 0) {
    value = DecodeMeasuredValue(r.Data[1], r.Data[2], r.Data[3], r.Data[4]);
    places = r.Data[4] & 0x7F;
  }
  return r.Status;
}

CalibrationSession::CalibrationSession(uint8_t iface, uint32_t handle, uint8_t moduleAddress,
                                       CalibrationWriter::ReportFn report)
    : writer_(iface, handle, moduleAddress, std::move(report)) {}

ConfigWriteResult CalibrationSession::Start(uint8_t input, uint8_t range) {
  range_ = range == RangeVoltage ? RangeVoltage : RangeCurrent;
  pending_.clear();
  stored_ = false;
  accepted_ = false;
  // The neutral start: the input's range byte, then the range's constants at gain 1.0, offset 0.
  const uint8_t base = CalibrationBaseAddress(range_);
  const std::pair<uint8_t, uint8_t> neutral[] = {{uint8_t(CfgAddr::AinRange + input), range_},
                                                 {base, uint8_t(NeutralGain & 0xFF)},
                                                 {uint8_t(base + 1), uint8_t(NeutralGain >> 8)},
                                                 {uint8_t(base + 2), 0},
                                                 {uint8_t(base + 3), 0}};
  uint8_t found[std::size(neutral)] = {};
  for (size_t i = 0; i < std::size(neutral); ++i) {
    if (cancelled_ && cancelled_()) return ConfigWriteResult::Cancelled;
    if (!writer_.ReadConfigByte(neutral[i].first, found[i])) return ConfigWriteResult::DriverError;
  }
  // A byte is to be written back once its write was sent, whether or not the module took it;
  // the bytes after a failure were never touched and stay off the list.
  writer_.setCancelled(cancelled_);
  ConfigWriteResult r = ConfigWriteResult::Written;
  for (size_t i = 0; i < std::size(neutral) && r == ConfigWriteResult::Written; ++i) {
    pending_.emplace_back(neutral[i].first, found[i]);
    r = writer_.WriteConfigByteVerified(neutral[i].first, neutral[i].second);
    if (r == ConfigWriteResult::Cancelled) pending_.pop_back();  // not begun
  }
  writer_.setCancelled({});
  return r;
}

ConfigWriteResult CalibrationSession::StoreConstants(uint16_t gain, uint16_t offset) {
  writer_.setCancelled(cancelled_);
  const ConfigWriteResult r = writer_.StoreConstants(range_, gain, offset);
  writer_.setCancelled({});
  if (r == ConfigWriteResult::Written && !pending_.empty()) {
    accepted_ = !keepOnlyWhenAccepted_;
    if (accepted_) pending_.resize(1);  // the range byte
    stored_ = true;
  }
  return r;
}

void CalibrationSession::KeepStoredConstants() {
  if (!stored_ || accepted_ || pending_.empty()) return;
  pending_.resize(1);
  accepted_ = true;
}

CalibrationSession::Restored CalibrationSession::Restore() {
  Restored result;
  if (pending_.empty()) return result;
  std::vector<std::pair<uint8_t, uint8_t>> failed;
  for (const auto& [address, value] : pending_)
    if (writer_.WriteConfigByteVerified(address, value) != ConfigWriteResult::Written) failed.emplace_back(address, value);
  pending_.clear();
  result.complete = failed.empty();
  result.text = !result.complete ? NotRestoredText(failed) : accepted_ ? CalibrationKeptText : CalibrationRestoredText;
  return result;
}

QString NotRestoredText(const std::vector<std::pair<uint8_t, uint8_t>>& bytes) {
  QStringList addresses, values;
  for (const auto& [address, value] : bytes) {
    addresses << QString::number(address);
    values << QString::number(value);
  }
  const bool one = bytes.size() == 1;
  return QStringLiteral("Nepodařilo se obnovit %1 %2 konfigurační paměti modulu (%3 %4).")
      .arg(one ? QStringLiteral("bajt") : QStringLiteral("bajty"), addresses.join(QStringLiteral(", ")),
           one ? QStringLiteral("původní hodnota") : QStringLiteral("původní hodnoty"),
           values.join(QStringLiteral(", ")));
}
