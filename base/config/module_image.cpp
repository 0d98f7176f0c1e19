#include "base/config/module_image.h"

#include <QStringList>
#include <algorithm>
#include <utility>

#include "base/text/czech_plural.h"

namespace {

ConfigTransfer Transfer(const ModuleLink& link, const ImageEvents& events, ImagePhase phase) {
  ConfigTransfer::Events e;
  if (events.progress) e.progress = [&events, phase](int percent) { events.progress(phase, percent); };
  e.cancelled = events.cancelled;
  e.pause = events.pause;
  return ConfigTransfer(link.iface, link.handle, link.module, std::move(e));
}

ImageRead Read(const ModuleLink& link, const ImageEvents& events, ImagePhase phase,
               const std::vector<uint8_t>& addresses) {
  ImageRead read;
  read.result = Transfer(link, events, phase).Read(addresses, [&](std::size_t k, uint8_t value) {
    read.image.bytes[addresses[k]] = value;
    read.known[addresses[k]] = true;
  });
  return read;
}

}  // namespace

ImageRead ReadModuleImage(const ModuleLink& link, const ImageEvents& events, const std::vector<uint8_t>& addresses) {
  return Read(link, events, ImagePhase::Reading, addresses);
}

std::vector<ByteDifference> DifferingBytes(const ImageRead& module, const ConfigImage& wanted,
                                           const std::vector<uint8_t>& addresses) {
  std::vector<ByteDifference> differences;
  for (uint8_t a : addresses) {
    if (!module.known[a])
      differences.push_back({a, 0, wanted.at(a), false});
    else if (module.image.at(a) != wanted.at(a))
      differences.push_back({a, module.image.at(a), wanted.at(a), true});
  }
  return differences;
}

std::vector<ConfigByte> RestoreBytes(const ImageRead& before, const ConfigImage& wanted,
                                     const std::vector<uint8_t>& addresses) {
  std::vector<ConfigByte> bytes;
  for (const ByteDifference& d : DifferingBytes(before, wanted, addresses)) bytes.push_back({d.address, d.wanted});
  return bytes;
}

RestoreResult RestoreImage(const ModuleLink& link, const ImageRead& before, const ConfigImage& wanted,
                           const std::vector<uint8_t>& addresses, const ImageEvents& events) {
  RestoreResult result;
  result.refused = RefusedBytes(wanted, addresses);
  if (!result.refused.empty()) {
    result.outcome = RestoreResult::Refused;
    return result;
  }
  const auto cancelled = [&events] { return events.cancelled && events.cancelled(); };
  result.writes = RestoreBytes(before, wanted, addresses);
  // A stop asked for while the module was being read comes before the first write.
  if (!result.writes.empty() && cancelled()) {
    result.write.outcome = ConfigTransferResult::Cancelled;
    result.write.address = result.writes.front().address;
  } else {
    result.write = Transfer(link, events, ImagePhase::Writing).Write(result.writes);
  }
  if (result.write.ok()) {
    if (cancelled()) {
      result.after.result.outcome = ConfigTransferResult::Cancelled;
      result.after.result.address = ImageAddresses().front();
    } else {
      result.after = Read(link, events, ImagePhase::Verifying, ImageAddresses());
    }
  }
  const ConfigTransferResult& last = result.write.ok() ? result.after.result : result.write;
  if (last.outcome == ConfigTransferResult::Cancelled)
    result.outcome = RestoreResult::Cancelled;
  else if (!result.write.ok())
    result.outcome = RestoreResult::WriteFailed;
  else if (!result.after.ok())
    result.outcome = RestoreResult::ReadBackFailed;
  else if (result.differences = DifferingBytes(result.after.image, wanted, addresses); !result.differences.empty())
    result.outcome = RestoreResult::Differs;
  return result;
}

namespace {
// "adresa 5", "adresy 5, 6": the addresses of writes[from..to) under the label that agrees.
QString AddressList(const std::vector<ConfigByte>& writes, std::size_t from, std::size_t to) {
  QStringList list;
  for (std::size_t k = from; k < to; ++k) list << QString::number(writes[k].address);
  return CzechPlural(qint64(to - from), "adresa", "adresy", "adresy") + QLatin1Char(' ') + list.join(QStringLiteral(", "));
}
}  // namespace

QString WrittenSoFarText(const std::vector<ConfigByte>& writes, std::size_t done) {
  const std::size_t total = writes.size();
  done = std::min(done, total);
  if (total == 0) return QStringLiteral("nebylo co zapsat, modul beze změny");
  if (done == 0)
    return QStringLiteral("nezapsán žádný z %1 %2 (%3), modul beze změny")
        .arg(total)
        .arg(CzechPlural(qint64(total), "bajtu", "bajtů", "bajtů"), AddressList(writes, 0, total));
  if (done == total)
    return CzechPlural(qint64(total), "zapsán a ověřen %1 bajt (%2)", "zapsány a ověřeny všechny %1 bajty (%2)",
                       "zapsáno a ověřeno všech %1 bajtů (%2)")
        .arg(total)
        .arg(AddressList(writes, 0, total));
  return QStringLiteral("zapsáno a ověřeno %1 z %2 %6 (%3), nezapsáno %4 (%5): modul je zapsán "
                        "jen zčásti a drží směs nových hodnot a svých dřívějších")
      .arg(done)
      .arg(total)
      .arg(AddressList(writes, 0, done))
      .arg(total - done)
      .arg(AddressList(writes, done, total))
      .arg(CzechPlural(qint64(total), "bajtu", "bajtů", "bajtů"));
}

QString RestoreHoldsText(const RestoreResult& result) {
  QString text = WrittenSoFarText(result.writes, result.write.done);
  if (result.write.ok() && !result.after.ok())
    text += QStringLiteral("; celá paměť zpětně nepřečtena a s obnovovanou konfigurací neporovnána");
  return text;
}
