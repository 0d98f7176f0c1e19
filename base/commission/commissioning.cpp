#include "base/commission/commissioning.h"

#include <QStringList>
#include <QThread>

#include "base/config/setting_labels.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/identify.h"
#include "base/text/baud.h"

namespace {

constexpr int PowerPollMs = 200;

QString Sentence(QString text) {
  text = text.trimmed();
  if (!text.isEmpty() && !text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  return text;
}

QString DifferencesText(const std::vector<ByteDifference>& differences) {
  QStringList list;
  for (const ByteDifference& d : differences)
    list << QStringLiteral("%1: modul %2, plán %3")
                .arg(ConfigByteLabel(d.address), d.known ? ConfigByteValueText(d.address, d.module) : QStringLiteral("?"),
                     ConfigByteValueText(d.address, d.wanted));
  return list.join(QStringLiteral("; "));
}

}  // namespace

QString CommissionStepName(CommissionStep step) {
  switch (step) {
    case CommissionStep::Find: return QStringLiteral("Nalezení modulu na místě dodání");
    case CommissionStep::Template: return QStringLiteral("Zápis vzorové konfigurace");
    case CommissionStep::AddressRate: return QStringLiteral("Zápis adresy a rychlosti");
    case CommissionStep::PowerCycle: return QStringLiteral("Vypnutí a zapnutí napájení, nalezení na novém místě");
    case CommissionStep::Verify: return QStringLiteral("Kontrola celé konfigurace");
  }
  return {};
}

std::vector<uint8_t> TemplateAddresses() { return SelectedAddresses({}); }

ConfigImage PlannedImage(const CommissionPlan& plan) {
  ConfigImage image = plan.templateImage.value_or(ConfigImage{});
  image.bytes[CfgAddr::BusAddress] = plan.to.address;
  image.bytes[CfgAddr::BaudCode] = uint8_t(plan.to.baudCode);
  return image;
}

std::vector<uint8_t> PlannedAddresses(const CommissionPlan& plan) {
  if (plan.templateImage) return SelectedAddresses({.lineSettings = true, .calibration = false});
  std::vector<uint8_t> addresses;
  for (uint8_t a : ImageAddresses())
    if (IsLineSetting(a)) addresses.push_back(a);
  return addresses;
}

Commissioning::Commissioning(PlaceAccess access, CommissionPlan plan, CommissionEvents events)
    : access_(std::move(access)), plan_(std::move(plan)), events_(std::move(events)), afterPowerUp_(plan_.from) {}

bool Commissioning::run() { return runFrom(next()); }

bool Commissioning::runFrom(CommissionStep step) {
  next_ = std::min(next_, int(step));
  while (next_ < CommissionStepCount) {
    const CommissionStep current = CommissionStep(next_);
    say(current, CommissionStepName(current) + QStringLiteral("…"));
    QString text;
    const StepReport::Outcome outcome = runStep(current, text);
    reports_.push_back({current, outcome, text, QDateTime::currentDateTime()});
    say(current, text);
    if (outcome != StepReport::Done) return false;
    ++next_;
  }
  return true;
}

void Commissioning::say(CommissionStep step, const QString& text) const {
  if (events_.report) events_.report(step, text);
}

StepReport::Outcome Commissioning::runStep(CommissionStep step, QString& text) {
  if (askedToStop()) {
    text = QStringLiteral("Zastaveno před krokem.");
    return cancelled(text);
  }
  switch (step) {
    case CommissionStep::Find: return find(text);
    case CommissionStep::Template: return writeTemplate(text);
    case CommissionStep::AddressRate: return writeAddressRate(text);
    case CommissionStep::PowerCycle: return powerCycle(text);
    case CommissionStep::Verify: return verify(text);
  }
  return StepReport::Failed;
}

std::vector<ModulePlace> Commissioning::candidates() const {
  std::vector<ModulePlace> places;
  if (where_.found) places.push_back(where_.place);
  places.push_back(plan_.from);
  places.push_back(plan_.to);
  places.push_back(afterPowerUp_);
  places.push_back({plan_.to.address, plan_.from.baudCode});
  places.push_back({plan_.from.address, plan_.to.baudCode});
  return places;
}

StepReport::Outcome Commissioning::failed(QString& text) {
  where_ = Locate(access_, candidates());
  text = Sentence(text) + QLatin1Char(' ') + WhereaboutsText(where_);
  if (where_.found && !(where_.place == afterPowerUp_))
    text += QStringLiteral(" Po příštím zapnutí napájení bude odpovídat: %1.").arg(PlaceText(afterPowerUp_));
  return StepReport::Failed;
}

StepReport::Outcome Commissioning::cancelled(QString& text) {
  text = Sentence(text);
  if (where_.found) {
    text += QStringLiteral(" Modul odpovídá: %1").arg(PlaceText(where_.place));
    text += where_.place == afterPowerUp_
                ? QStringLiteral(".")
                : QStringLiteral("; po příštím zapnutí napájení bude odpovídat: %1.").arg(PlaceText(afterPowerUp_));
  } else {
    text += QStringLiteral(" Po zapnutí napájení bude modul odpovídat: %1.").arg(PlaceText(afterPowerUp_));
  }
  return StepReport::Cancelled;
}

ImageEvents Commissioning::imageEvents(CommissionStep step) const {
  ImageEvents events;
  if (events_.progress) events.progress = [this, step](ImagePhase phase, int percent) { events_.progress(step, phase, percent); };
  events.cancelled = events_.cancelled;
  events.pause = events_.pause;
  return events;
}

StepReport::Outcome Commissioning::find(QString& text) {
  // Everything that would make the plan fail is said before the first write.
  if (plan_.templateImage)
    if (const auto refused = RefusedBytes(*plan_.templateImage, TemplateAddresses()); !refused.empty()) {
      text = QStringLiteral("Vzor: %1 Nic nezapsáno.").arg(refused.front().text);
      return StepReport::Refused;
    }
  const PlaceProbe probe = ProbePlace(access_, plan_.from);
  switch (probe.outcome) {
    case PlaceProbe::Answered: break;
    case PlaceProbe::Silent:
      text = QStringLiteral("Na místě dodání (%1) žádný modul neodpovídá; připojte nový modul.").arg(PlaceText(plan_.from));
      return StepReport::Absent;
    case PlaceProbe::Collided:
      text = QStringLiteral("Na místě dodání (%1) %2. Připojte nové moduly po jednom; nic nezapsáno.")
                 .arg(PlaceText(plan_.from), CollisionText(plan_.from));
      return StepReport::Collided;
    case PlaceProbe::Failed:
      text = QStringLiteral("Hledání na místě dodání (%1) selhalo: %2")
                 .arg(PlaceText(plan_.from), DriverStatusText(access_.iface, probe.status));
      return StepReport::Failed;
  }
  where_ = {true, plan_.from, probe.ident, {plan_.from}};
  ident_ = probe.ident;
  afterPowerUp_ = plan_.from;
  if (!plan_.templateType.isEmpty() && ModuleTypeName(ident_) != plan_.templateType) {
    text = QStringLiteral("Vzor je z modulu %1, nový modul je %2; nic nezapsáno.").arg(plan_.templateType, ModuleTypeName(ident_));
    return StepReport::Refused;
  }
  if (!(plan_.to == plan_.from)) {
    const PlaceProbe taken = ProbePlace(access_, plan_.to);
    if (taken.outcome == PlaceProbe::Answered || taken.outcome == PlaceProbe::Collided) {
      text = QStringLiteral("Na novém místě (%1) už odpovídá jiný modul%2; nový modul by s ním kolidoval. Nic nezapsáno.")
                 .arg(PlaceText(plan_.to),
                      taken.ident.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(taken.ident.trimmed()));
      return StepReport::Refused;
    }
  }
  text = QStringLiteral("Nalezen modul %1: %2.").arg(ident_.trimmed(), PlaceText(plan_.from));
  return StepReport::Done;
}

StepReport::Outcome Commissioning::writeTemplate(QString& text) {
  if (!plan_.templateImage) {
    text = QStringLiteral("Bez vzoru: konfigurace modulu zůstává, jak přišla.");
    return StepReport::Done;
  }
  if (!where_.found && !(where_ = Locate(access_, candidates())).found) return failed(text);
  if (const uint32_t status = access_.useRate(where_.place.baudCode); status != 0) {
    text = DriverStatusText(access_.iface, status);
    return failed(text);
  }
  const ModuleLink link = access_.link(where_.place.address);
  const ImageEvents events = imageEvents(CommissionStep::Template);
  const ImageRead before = ReadModuleImage(link, events);
  if (before.result.outcome == ConfigTransferResult::Cancelled) {
    text = QStringLiteral("Zastaveno při čtení modulu, před prvním zápisem: nic nezapsáno.");
    return cancelled(text);
  }
  const RestoreResult r = RestoreImage(link, before, *plan_.templateImage, TemplateAddresses(), events);
  switch (r.outcome) {
    case RestoreResult::Done:
      text = r.writes.empty() ? QStringLiteral("Konfigurace modulu už odpovídá vzoru.")
                              : QStringLiteral("Vzorová konfigurace zapsána a ověřena (změněno bajtů: %1).").arg(r.writes.size());
      return StepReport::Done;
    case RestoreResult::Refused:
      text = QStringLiteral("Vzor: %1 Nic nezapsáno.").arg(r.refused.front().text);
      return StepReport::Refused;
    case RestoreResult::Cancelled: text = RestoreHoldsText(r); return cancelled(text);
    case RestoreResult::WriteFailed:
      text = QStringLiteral("Zápis adresy %1 selhal:%2. %3")
                 .arg(r.write.address)
                 .arg(WriteResultText(access_.iface, r.write), WrittenSoFarText(r.writes, r.write.done));
      return failed(text);
    case RestoreResult::ReadBackFailed:
      text = QStringLiteral("Kontrolní čtení adresy %1 selhalo: %2")
                 .arg(r.after.result.address)
                 .arg(DriverStatusText(access_.iface, r.after.result.status));
      return failed(text);
    case RestoreResult::Differs:
      text = QStringLiteral("Po zápisu se konfigurace od vzoru liší: %1").arg(DifferencesText(r.differences));
      return failed(text);
  }
  return StepReport::Failed;
}

StepReport::Outcome Commissioning::writeAddressRate(QString& text) {
  if (!where_.found && !(where_ = Locate(access_, candidates())).found) return failed(text);
  if (const uint32_t status = access_.useRate(where_.place.baudCode); status != 0) {
    text = DriverStatusText(access_.iface, status);
    return failed(text);
  }
  // As the address window writes them: address first, each byte with its read-back.
  const std::vector<ConfigByte> bytes = {{CfgAddr::BusAddress, plan_.to.address},
                                         {CfgAddr::BaudCode, uint8_t(plan_.to.baudCode)}};
  ConfigTransfer::Events events;
  if (events_.progress)
    events.progress = [this](int percent) { events_.progress(CommissionStep::AddressRate, ImagePhase::Writing, percent); };
  events.pause = events_.pause;
  events.cancelled = events_.cancelled;
  ConfigTransfer transfer(access_.iface, access_.handle, where_.place.address, std::move(events));
  transfer.setPauseAfterLast(false);
  const ConfigTransferResult r = askedToStop() ? ConfigTransferResult{ConfigTransferResult::Cancelled} : transfer.Write(bytes);
  if (r.done >= 1) afterPowerUp_.address = plan_.to.address;
  if (r.done >= 2) afterPowerUp_.baudCode = plan_.to.baudCode;
  if (r.ok()) {
    text = QStringLiteral("Adresa %1 a rychlost %2 Bd zapsány a ověřeny (modul odpovídal: %3); platí po vypnutí a "
                          "zapnutí napájení.")
               .arg(plan_.to.address)
               .arg(BaudCodeToRate(plan_.to.baudCode))
               .arg(PlaceText(where_.place));
    return StepReport::Done;
  }
  if (r.outcome == ConfigTransferResult::Cancelled) {
    text = WrittenSoFarText(bytes, r.done);
    return cancelled(text);
  }
  text = r.outcome == ConfigTransferResult::Mismatch
             ? QStringLiteral("Adresa %1 (%2): zapsáno 0x%3, zpět přečteno 0x%4.")
                   .arg(r.address)
                   .arg(ConfigByteLabel(r.address))
                   .arg(r.written, 2, 16, QLatin1Char('0'))
                   .arg(r.readBack, 2, 16, QLatin1Char('0'))
             : QStringLiteral("Zápis adresy %1 (%2) selhal: %3.")
                   .arg(r.address)
                   .arg(ConfigByteLabel(r.address), DriverStatusText(access_.iface, r.status));
  text += QLatin1Char(' ') + WrittenSoFarText(bytes, r.done);
  return failed(text);
}

StepReport::Outcome Commissioning::powerCycle(QString& text) {
  const QString prompt = QStringLiteral("Vypněte a zapněte napájení modulu (nové místo, %1, platí až potom).").arg(PlaceText(plan_.to));
  if (events_.powerCycle && !events_.powerCycle(prompt)) {
    text = QStringLiteral("Vypnutí a zapnutí napájení nepotvrzeno.");
    return cancelled(text);
  }
  where_.found = false;  // switched off: looked for anew
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(powerWaitMs_);
  for (;;) {
    if (askedToStop()) {
      text = QStringLiteral("Zastaveno při hledání modulu na novém místě.");
      return cancelled(text);
    }
    const PlaceProbe probe = ProbePlace(access_, plan_.to);
    if (probe.outcome == PlaceProbe::Answered) {
      where_ = {true, plan_.to, probe.ident, {plan_.to}};
      ident_ = probe.ident;
      text = QStringLiteral("Modul %1 odpovídá na novém místě: %2.").arg(ident_.trimmed(), PlaceText(plan_.to));
      return StepReport::Done;
    }
    if (probe.outcome == PlaceProbe::Collided) {
      text = QStringLiteral("Na novém místě (%1) %2").arg(PlaceText(plan_.to), CollisionText(plan_.to));
      return failed(text);
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    if (events_.sleep)
      events_.sleep(PowerPollMs);
    else
      QThread::msleep(PowerPollMs);
  }
  text = QStringLiteral("Modul po vypnutí a zapnutí napájení neodpověděl na novém místě (%1) do %2 s.")
             .arg(PlaceText(plan_.to))
             .arg(powerWaitMs_ / 1000.0);
  return failed(text);
}

StepReport::Outcome Commissioning::verify(QString& text) {
  if (!where_.found && !(where_ = Locate(access_, candidates())).found) return failed(text);
  if (!(where_.place == plan_.to)) {
    text = QStringLiteral("Modul neodpovídá na novém místě (%1).").arg(PlaceText(plan_.to));
    return failed(text);
  }
  if (const uint32_t status = access_.useRate(plan_.to.baudCode); status != 0) {
    text = DriverStatusText(access_.iface, status);
    return failed(text);
  }
  const ImageRead read = ReadModuleImage(access_.link(plan_.to.address), imageEvents(CommissionStep::Verify));
  if (read.result.outcome == ConfigTransferResult::Cancelled) {
    text = QStringLiteral("Zastaveno při kontrolním čtení; zápisy jsou hotové, celá konfigurace neověřena.");
    return cancelled(text);
  }
  if (!read.ok()) {
    text = QStringLiteral("Kontrolní čtení adresy %1 selhalo: %2")
               .arg(read.result.address)
               .arg(DriverStatusText(access_.iface, read.result.status));
    return failed(text);
  }
  const std::vector<uint8_t> addresses = PlannedAddresses(plan_);
  const std::vector<ByteDifference> differences = DifferingBytes(read.image, PlannedImage(plan_), addresses);
  if (!differences.empty()) {
    text = QStringLiteral("Konfigurace modulu se od plánu liší: %1").arg(DifferencesText(differences));
    return failed(text);
  }
  verified_ = read;
  verifiedAt_ = QDateTime::currentDateTime();
  text = QStringLiteral("Konfigurace modulu souhlasí s plánem (porovnáno bajtů: %1).").arg(addresses.size());
  return StepReport::Done;
}
