#include "base/commission/module_place.h"

#include <QStringList>
#include <algorithm>

#include "base/exchange/address_conflict.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange_observer.h"
#include "base/exchange/identify.h"
#include "base/text/baud.h"

QString PlaceText(const ModulePlace& place) {
  return QStringLiteral("adresa %1, %2 Bd").arg(place.address).arg(BaudCodeToRate(place.baudCode));
}

bool ParsePlace(const QString& text, ModulePlace& place) {
  const QStringList parts = text.trimmed().split(QLatin1Char('@'));
  if (parts.size() != 2) return false;
  bool ok = false;
  const uint address = parts[0].toUInt(&ok);
  if (!ok || address > 255) return false;
  const uint rate = parts[1].toUInt(&ok);
  const int code = BaudRateToCode(int32_t(rate));
  if (!ok || BaudCodeToRate(code) != int32_t(rate)) return false;
  place = {uint8_t(address), code};
  return true;
}

uint32_t PlaceAccess::useRate(int baudCode) const {
  if (setRate) return setRate(baudCode);
  return DriverSetConfig(iface, handle, uint32_t(BaudCodeToRate(baudCode)), responseTimeoutMs, 2);
}

PlaceProbe ProbePlace(const PlaceAccess& access, const ModulePlace& place) {
  PlaceProbe probe;
  if (const uint32_t status = access.useRate(place.baudCode); status != 0) {
    probe.outcome = PlaceProbe::Failed;
    probe.status = status;
    return probe;
  }
  // One place alone on the wire: its damaged answers in a row decide as they do in a scan.
  for (int damaged = 0; damaged < ConflictTries;) {
    const uint8_t status = IdentifyModule(access.iface, access.handle, place.address, probe.ident);
    if (status == 0) {
      probe.outcome = PlaceProbe::Answered;
      return probe;
    }
    probe.ident.clear();
    probe.status = status;
    switch (ClassifyExchangeStatus(status)) {
      case ExchangeOutcome::Damaged: ++damaged; break;
      case ExchangeOutcome::Timeout:
      case ExchangeOutcome::Late:
        // Silence after damaged answers: whatever spoke there is not one module alone.
        probe.outcome = damaged == 0 ? PlaceProbe::Silent : PlaceProbe::Failed;
        return probe;
      default: probe.outcome = PlaceProbe::Failed; return probe;
    }
  }
  probe.outcome = PlaceProbe::Collided;
  return probe;
}

QString CollisionText(const ModulePlace& place) {
  return QStringLiteral("%1 (%2 Bd): každá odpověď přišla poškozená")
      .arg(AddressConflictText(place.address))
      .arg(BaudCodeToRate(place.baudCode));
}

Whereabouts Locate(const PlaceAccess& access, const std::vector<ModulePlace>& places) {
  Whereabouts where;
  for (const ModulePlace& place : places) {
    if (std::find(where.looked.begin(), where.looked.end(), place) != where.looked.end()) continue;
    where.looked.push_back(place);
    const PlaceProbe probe = ProbePlace(access, place);
    if (probe.outcome == PlaceProbe::Answered) {
      where.found = true;
      where.place = place;
      where.ident = probe.ident;
      return where;
    }
  }
  return where;
}

QString WhereaboutsText(const Whereabouts& where) {
  if (where.found) return QStringLiteral("Modul teď odpovídá: %1.").arg(PlaceText(where.place));
  QStringList places;
  for (const ModulePlace& place : where.looked) places << PlaceText(place);
  return QStringLiteral("Modul teď neodpovídá nikde, kde byl hledán (%1).").arg(places.join(QStringLiteral("; ")));
}
