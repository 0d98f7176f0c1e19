#include "line/calibration/protocol_command.h"

#include <QFile>
#include <cstdio>
#include <unistd.h>

#include "base/calibration/calibration_record.h"
#include "base/files/checked_file.h"
#include "line/calibration/calibration_certificate.h"
#include "line/common/command_output.h"

namespace {

int Fail(int code, const QString& text) {
  PrintText(stderr, QStringLiteral("qx510-line: %1\n").arg(text));
  return code;
}

bool ReadStandardInput(QByteArray& bytes, QString& error) {
  QFile in;
  if (!in.open(stdin, QIODevice::ReadOnly)) {
    error = QStringLiteral("standardní vstup nelze číst.");
    return false;
  }
  bytes = in.read(MaxCalibrationRecordBytes + 1);
  if (in.error() != QFileDevice::NoError) {
    error = QStringLiteral("standardní vstup nelze číst: %1.").arg(in.errorString());
    return false;
  }
  if (bytes.size() > MaxCalibrationRecordBytes) {
    error = QStringLiteral("je delší než %1 B.").arg(MaxCalibrationRecordBytes);
    return false;
  }
  return true;
}

}  // namespace

int RunProtocolCommand(const QStringList& words) {
  QString recordPath, target;
  for (qsizetype i = 0; i < words.size(); ++i) {
    const QString& w = words.at(i);
    const bool last = i + 1 >= words.size();
    if (w == QLatin1String("--protocol") && !last && recordPath.isNull())
      recordPath = words.at(++i);
    else if ((w == QLatin1String("-o") || w == QLatin1String("--output")) && !last && target.isNull())
      target = words.at(++i);
    else
      return Fail(ReportFailed, QStringLiteral("chybné použití; qx510-line --help vypíše, jak na to."));
  }
  if (recordPath.isEmpty() || target.isEmpty())
    return Fail(ReportFailed, QStringLiteral("--protocol potřebuje záznam kalibrace a -o SOUBOR.pdf; qx510-line --help vypíše, jak na to."));

  const QString recordName = recordPath == QLatin1String("-") ? QStringLiteral("ze standardního vstupu") : recordPath;
  QByteArray bytes;
  QString error;
  if (recordPath == QLatin1String("-") ? !ReadStandardInput(bytes, error)
                                       : !ReadFileChecked(recordPath, MaxCalibrationRecordBytes, &bytes, &error))
    return Fail(ReportFailed, QStringLiteral("záznam kalibrace %1 nelze přečíst: %2").arg(recordName, error));
  CalibrationRecord record;
  if (!ParseCalibrationRecord(bytes, record, error))
    return Fail(ProtocolRecordRefused,
                QStringLiteral("záznam kalibrace %1 odmítnut, protokol nevznikl: %2").arg(recordName, error));
  // Whole and signed is not enough: the key must be one this computer trusts.
  if (const QString refusal = CertificateRefusal(record); !refusal.isEmpty())
    return Fail(ProtocolRecordRefused, QStringLiteral("záznam kalibrace %1 odmítnut: %2").arg(recordName, refusal));

  if (target == QLatin1String("-")) {
    const QByteArray pdf = RenderCalibrationCertificate(record, error);
    if (pdf.isEmpty()) return Fail(ReportFailed, QStringLiteral("kalibrační protokol nelze vytvořit: %1").arg(error));
    CheckedStream out;
    if (!out.openDescriptor(STDOUT_FILENO, QStringLiteral("standardní výstup")) || out.write(pdf) != pdf.size() ||
        !out.delivered())
      return Fail(ReportFailed, QStringLiteral("kalibrační protokol nelze zapsat na standardní výstup: %1").arg(out.failure()));
    return ReportWritten;
  }
  if (!WriteCalibrationCertificate(record, target, error))
    return Fail(ReportFailed, QStringLiteral("kalibrační protokol nelze zapsat do %1: %2").arg(target, error));
  PrintText(stdout, QStringLiteral("Kalibrační protokol %1 zapsán do %2.\n").arg(CertificateNumber(record), target));
  return ReportWritten;
}
