// record verify: whether calibration records are whole, signed, and signed by a key this
// computer trusts, as qx510-line --protocol and the workbench's history judge them.

#include "base/calibration/calibration_record.h"
#include "base/files/checked_file.h"
#include "base/calibration/record_signature.h"
#include "cli/cli_context.h"

int CmdRecordVerify(CliContext& c) {
  bool unreadable = false, refused = false;
  for (const QString& path : c.args.positional) {
    QString error;
    CalibrationRecord record;
    if (!LoadCalibrationRecord(path, record, error)) {
      // Read but not sound (a broken seal or signature, entries no calibration gives) is a
      // refusal; a file that could not be read at all is not.
      bool missing = false;
      QByteArray bytes;
      const bool read = ReadFileChecked(path, MaxCalibrationRecordBytes, &bytes, nullptr, &missing);
      (read ? refused : unreadable) = true;
      c.say(read ? QStringLiteral("%1: odmítnut, %2").arg(path, error)
                 : QStringLiteral("%1: nelze přečíst: %2").arg(path, error));
      continue;
    }
    if (const QString refusal = CertificateRefusal(record); !refusal.isEmpty()) {
      refused = true;
      c.say(QStringLiteral("%1: odmítnut, %2").arg(path, refusal));
      continue;
    }
    c.out() << QStringLiteral("%1: v pořádku, protokol %2; podpis %3\n")
                   .arg(path, CertificateNumber(record), SignatureText(record));
  }
  return refused ? ExitRecordRefused : unreadable ? ExitUsage : ExitOk;
}
