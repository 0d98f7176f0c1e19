#include "base/config/line_image.h"

#include "base/config/setting_labels.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/identify.h"
#include "base/text/baud.h"
#include "base/text/czech_plural.h"

namespace {

// What a stopped restore left in the module: each write went through with its read-back up to
// the stop, so the bytes written are known.
QString CancelledText(const RestoreResult& r) { return QStringLiteral("přerušeno: ") + RestoreHoldsText(r); }

// The refused bytes of a module's wanted image, each with its message.
QString RefusedText(const std::vector<RefusedByte>& refused) {
  QStringList texts;
  for (const RefusedByte& b : refused) texts << b.text;
  return QStringLiteral("odmítnuto, nic nezapsáno: ") + texts.join(QLatin1Char(' '));
}

QString RestoredText(uint8_t iface, const RestoreResult& r) {
  switch (r.outcome) {
    case RestoreResult::Done:
      return r.writes.empty() ? QStringLiteral("souhlasí se zálohou, nebylo co zapsat")
                              : QStringLiteral("%1 %2, každý ověřen, celá paměť zpětně přečtena a souhlasí")
                                    .arg(CzechPlural(r.writes.size(), "zapsán", "zapsány", "zapsáno"),
                                         CzechCount(r.writes.size(), "bajt", "bajty", "bajtů"));
    case RestoreResult::Refused: return RefusedText(r.refused);
    case RestoreResult::Cancelled: return CancelledText(r);
    case RestoreResult::WriteFailed:
      return QStringLiteral("zápis adresy %1 (%2) selhal: %3; zapsáno %4 z %5 %6")
          .arg(r.write.address)
          .arg(ConfigByteLabel(r.write.address))
          .arg(WriteResultText(iface, r.write).trimmed())
          .arg(r.write.done)
          .arg(r.writes.size())
          .arg(CzechPlural(r.writes.size(), "bajtu", "bajtů", "bajtů"));
    case RestoreResult::ReadBackFailed:
      return QStringLiteral("kontrolní čtení adresy %1 selhalo (%2); zápis nelze ověřit")
          .arg(r.after.result.address)
          .arg(ReadResultText(iface, r.after.result).trimmed());
    case RestoreResult::Differs:
      return QStringLiteral("po zápisu se paměť od zálohy liší v %1")
          .arg(CzechCount(r.differences.size(), "bajtu", "bajtech", "bajtech"));
  }
  return {};
}

}  // namespace

ModuleImage ReadLineModule(const LineAccess& access, const LineModule& module, const ImageEvents& events) {
  ModuleImage m;
  m.module = module;
  m.status = access.reach(module, m.error);
  if (m.status == 0) {
    m.status = IdentifyModule(access.iface, access.handle, module.address, m.ident);
    m.ident.remove(QChar(u'\0'));
    if (m.status == 0) {
      m.read = ReadModuleImage(access.link(module), events);
      if (!m.read.ok()) {
        m.status = m.read.result.status != 0 ? m.read.result.status : StatusNoEntry;
        m.error = QStringLiteral("čtení adresy %1 selhalo: %2")
                      .arg(m.read.result.address)
                      .arg(ReadResultText(access.iface, m.read.result).trimmed());
      }
    }
  }
  if (m.status != 0 && m.error.isEmpty()) m.error = DriverStatusText(access.iface, m.status);
  return m;
}

QString OtherModuleText(const LineAccess& access, const LineModule& module, uint32_t& status) {
  QString ident;
  status = IdentifyModule(access.iface, access.handle, module.address, ident);
  if (status != 0) return QStringLiteral("modul neodpovídá: ") + DriverStatusText(access.iface, status);
  if (ModuleTypeName(ident) == ModuleTypeName(module.ident)) return {};
  return QStringLiteral("na adrese je jiný modul (%1), v záloze %2; nic nezapsáno")
      .arg(ident.remove(QChar(u'\0')), module.ident);
}

RestoreReport RestoreLineModule(const LineAccess& access, const RestoreJob& job, const ImageEvents& events) {
  RestoreReport report;
  report.module = job.module;
  const std::vector<uint8_t> addresses = SelectedAddresses(job.selection);
  // A value the settings windows would never write is refused before any traffic; the shared
  // restore refuses it too, should it ever get that far.
  if (report.result.refused = RefusedBytes(job.wanted, addresses); !report.result.refused.empty()) {
    report.result.outcome = RestoreResult::Refused;
    report.text = RefusedText(report.result.refused);
    return report;
  }
  uint32_t status = access.reach(job.module, report.text);
  if (status == 0) report.text = OtherModuleText(access, job.module, status);
  if (status != 0 || !report.text.isEmpty()) {
    report.result.outcome = RestoreResult::WriteFailed;
    if (report.text.isEmpty()) report.text = DriverStatusText(access.iface, status);
    return report;
  }
  const ModuleLink target = access.link(job.module);
  // A byte the first read did not reach is written rather than skipped; the read-back decides.
  const ImageRead before = ReadModuleImage(target, events, addresses);
  if (before.result.outcome == ConfigTransferResult::Cancelled) {
    report.result.outcome = RestoreResult::Cancelled;
    report.text = QStringLiteral("přerušeno před zápisem, modul beze změny");
    return report;
  }
  report.result = RestoreImage(target, before, job.wanted, addresses, events);
  report.text = RestoredText(access.iface, report.result);
  return report;
}

LineFile LineBackup(const QVector<ModuleImage>& images, const QDateTime& saved) {
  LineFile file;
  file.saved = saved;
  for (const ModuleImage& m : images) {
    LineModule module = m.module;
    if (m.ok()) module.ident = m.ident;
    file.modules.append(module);
    if (m.ok())
      file.images.insert(ModuleKey(module), m.read.image);
    else
      file.missing.insert(ModuleKey(module));
  }
  return file;
}

QString LineModuleText(const LineModule& m) {
  return QStringLiteral("adresa %1, %2 Bd").arg(m.address).arg(BaudCodeToRate(m.baudCode));
}

QString LineModulesText(qsizetype n) { return CzechCount(n, "modul", "moduly", "modulů"); }

QString LineBackupText(qsizetype saved, const QString& where, const QStringList& missing) {
  QString text = QStringLiteral("%1 %2 %3.")
                     .arg(CzechPlural(saved, "Zálohován", "Zálohovány", "Zálohováno"), LineModulesText(saved), where);
  if (!missing.isEmpty())
    text += QStringLiteral(" %1 %2, v záloze chybí: %3.")
                .arg(CzechPlural(missing.size(), "Neodpověděl", "Neodpověděly", "Neodpovědělo"),
                     LineModulesText(missing.size()), missing.join(QStringLiteral("; ")));
  return text;
}
