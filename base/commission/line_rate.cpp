#include "base/commission/line_rate.h"

#include <QStringList>
#include <QThread>

#include "base/config/config_transfer.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange_observer.h"
#include "base/text/baud.h"

namespace {

constexpr int PowerPollMs = 200;

ModulePlace PlaceOf(const LineModule& m) { return {m.address, m.baudCode}; }

// Two modules at one address would answer together once both run at the new rate.
QString ClashText(const LineFile& line) {
  for (qsizetype i = 0; i < line.modules.size(); ++i)
    for (qsizetype j = i + 1; j < line.modules.size(); ++j)
      if (line.modules[i].address == line.modules[j].address)
        return QStringLiteral("Na adrese %1 jsou dva moduly (%2 Bd a %3 Bd); na jedné rychlosti by kolidovaly. Nic nezapsáno.")
            .arg(line.modules[i].address)
            .arg(BaudCodeToRate(line.modules[i].baudCode))
            .arg(BaudCodeToRate(line.modules[j].baudCode));
  return {};
}

// The new rate, else the old one, else every other rate at the module's address.
std::vector<ModulePlace> SearchOrder(const LineRateRow& row, int baudCode) {
  const ModulePlace expected = {row.before.address, row.write == LineRateRow::Written ? baudCode : row.before.baudCode};
  std::vector<ModulePlace> places = {expected, {row.before.address, baudCode}, PlaceOf(row.before)};
  for (int code = BaudCodeCount - 1; code >= 0; --code) places.push_back({row.before.address, code});
  return places;
}

// The line with every module where it was found; one found nowhere keeps its entry.
LineFile Follow(const LineFile& line, const std::vector<LineRateRow>& rows) {
  LineFile moved = line;
  moved.modules.clear();
  moved.images.clear();
  moved.missing.clear();
  for (const LineRateRow& row : rows) {
    LineModule m = row.before;
    if (row.after.found) m.baudCode = row.after.place.baudCode;
    if (const ConfigImage* image = line.image(row.before)) {
      ConfigImage held = *image;
      held.bytes[CfgAddr::BaudCode] = uint8_t(m.baudCode);
      moved.images.insert(ModuleKey(m), held);
    }
    if (line.isMissing(row.before)) moved.missing.insert(ModuleKey(m));
    moved.modules.append(m);
  }
  return moved;
}

}  // namespace

LineRateResult ChangeLineRate(const PlaceAccess& access, const LineFile& line, int baudCode, const LineRateEvents& events,
                              int powerWaitMs) {
  LineRateResult result;
  result.baudCode = baudCode;
  result.line = line;
  if (line.modules.isEmpty()) {
    result.outcome = LineRateResult::Refused;
    result.refusal = QStringLiteral("Linka nemá žádný modul.");
    return result;
  }
  if (const QString clash = ClashText(line); !clash.isEmpty()) {
    result.outcome = LineRateResult::Refused;
    result.refusal = clash;
    return result;
  }
  const int count = int(line.modules.size());
  for (const LineModule& m : line.modules) result.rows.push_back({m, LineRateRow::NotTried, {}, {}});
  const auto asked = [&events] { return events.cancelled && events.cancelled(); };

  bool anyWritten = false;
  for (int i = 0; i < count; ++i) {
    LineRateRow& row = result.rows[size_t(i)];
    if (asked()) {
      result.outcome = LineRateResult::Cancelled;
      return result;
    }
    if (events.progress) events.progress(0, i, count);
    if (const uint32_t status = access.useRate(row.before.baudCode); status != 0) {
      row.write = LineRateRow::Failed;
      row.writeText = DriverStatusText(access.iface, status);
      continue;
    }
    ConfigTransfer::Events transferEvents;
    transferEvents.pause = events.pause;
    ConfigTransfer transfer(access.iface, access.handle, row.before.address, std::move(transferEvents));
    transfer.setPauseAfterLast(false);
    const ConfigTransferResult r = transfer.Write({{CfgAddr::BaudCode, uint8_t(baudCode)}});
    if (r.ok()) {
      row.write = LineRateRow::Written;
      anyWritten = true;
      continue;
    }
    row.write = r.outcome == ConfigTransferResult::DriverError &&
                        ClassifyExchangeStatus(r.status) == ExchangeOutcome::Refused
                    ? LineRateRow::Refused
                    : LineRateRow::Failed;
    row.writeText = r.outcome == ConfigTransferResult::Mismatch
                        ? QStringLiteral("zapsáno 0x%1, zpět přečteno 0x%2")
                              .arg(r.written, 2, 16, QLatin1Char('0'))
                              .arg(r.readBack, 2, 16, QLatin1Char('0'))
                        : DriverStatusText(access.iface, r.status);
  }

  if (anyWritten) {
    const QString prompt = QStringLiteral("Vypněte a zapněte napájení celé linky (nová rychlost %1 Bd platí až potom).")
                               .arg(BaudCodeToRate(baudCode));
    if (events.powerCycle && !events.powerCycle(prompt)) {
      result.outcome = LineRateResult::Cancelled;
      return result;
    }
    result.powerCycled = true;
  }

  // Each module gets the time the line needs to come up, shared by all; once it has passed,
  // each of the rest is looked for once at every place it may answer.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(anyWritten ? powerWaitMs : 0);
  bool allThere = true;
  for (int i = 0; i < count; ++i) {
    LineRateRow& row = result.rows[size_t(i)];
    if (events.progress) events.progress(1, i, count);
    const std::vector<ModulePlace> order = SearchOrder(row, baudCode);
    for (;;) {
      const PlaceProbe probe = ProbePlace(access, order.front());
      if (probe.outcome == PlaceProbe::Answered) {
        row.after = {true, order.front(), probe.ident, {order.front()}};
        break;
      }
      if (asked() || std::chrono::steady_clock::now() >= deadline) {
        row.after = Locate(access, order);
        break;
      }
      if (events.sleep)
        events.sleep(PowerPollMs);
      else
        QThread::msleep(PowerPollMs);
    }
    allThere = allThere && row.after.found && row.after.place.baudCode == baudCode;
  }
  result.line = Follow(line, result.rows);
  result.outcome = allThere ? LineRateResult::Done : LineRateResult::Incomplete;
  return result;
}

QString LineRateRowText(const LineRateRow& row, int baudCode) {
  QString text = QStringLiteral("adresa %1: %2 Bd → %3 Bd, ")
                     .arg(row.before.address)
                     .arg(BaudCodeToRate(row.before.baudCode))
                     .arg(BaudCodeToRate(baudCode));
  switch (row.write) {
    case LineRateRow::Written: text += QStringLiteral("zapsáno a ověřeno"); break;
    case LineRateRow::Refused: text += QStringLiteral("modul zápis odmítl (%1)").arg(row.writeText); break;
    case LineRateRow::Failed: text += QStringLiteral("zápis selhal (%1)").arg(row.writeText); break;
    case LineRateRow::NotTried: text += QStringLiteral("nezapisováno"); break;
  }
  if (row.after.found)
    text += QStringLiteral("; odpovídá na %1 Bd").arg(BaudCodeToRate(row.after.place.baudCode));
  else if (!row.after.looked.empty())
    text += QStringLiteral("; neodpovídá na žádné rychlosti");
  return text;
}

QString LineRateCancelText(const LineRateResult& result) {
  QStringList written;
  for (const LineRateRow& row : result.rows)
    if (row.write == LineRateRow::Written) written << QString::number(row.before.address);
  if (written.isEmpty()) return QStringLiteral("Nic nezapsáno; moduly odpovídají, kde odpovídaly.");
  return QStringLiteral("Moduly odpovídají, kde odpovídaly; moduly na adresách %1 mají novou rychlost %2 Bd zapsanou "
                        "a přejdou na ni po příštím zapnutí napájení.")
      .arg(written.join(QStringLiteral(", ")))
      .arg(BaudCodeToRate(result.baudCode));
}
