// A calibration record as anyone may hand it over: it is refused, or it is whole, its entries
// such as a calibration gives, and it reads back the same when written again. An input that
// begins with '!' is sealed here after that mark, so that the fuzzer reaches past the seal
// into the JSON and the checks of the entries.
#include <QByteArray>
#include <QString>

#include "base/calibration/calibration_entries.h"
#include "base/calibration/calibration_record.h"
#include "base/files/sealed_text.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray given(reinterpret_cast<const char*>(data), qsizetype(size));
  const QByteArray text = given.startsWith('!') ? SealText(given.mid(1)) : given;
  CalibrationRecord record;
  record.operatorName = QStringLiteral("untouched");
  QString error;
  if (!ParseCalibrationRecord(text, record, error)) {
    FuzzCheck(!error.isEmpty(), "a refused record says why");
    FuzzCheck(record.operatorName == QStringLiteral("untouched"), "a refused record changes nothing");
    return 0;
  }
  FuzzCheck(CalibrationRecordProblem(record).isEmpty(), "a record read holds only what a calibration gives");
  FuzzCheck(!record.signature.present() || text.contains("\ned25519="), "only a signed file reads as signed");
  FuzzCheck(!CertificateNumber(record).isEmpty(), "a record read has its certificate's number");
  CalibrationRecord back;
  const QByteArray written = FormatCalibrationRecord(record);
  FuzzCheck(ParseCalibrationRecord(written, back, error), "written again, it reads back");
  FuzzCheck(back.tag == record.tag && back.operatorName == record.operatorName && back.connection == record.connection &&
                back.asFound.readings.size() == record.asFound.readings.size() &&
                back.asLeft.readings.size() == record.asLeft.readings.size() && back.verdict() == record.verdict(),
            "written again, the same entries and verdict");
  FuzzCheck(FormatCalibrationRecord(back) == written, "written again, the same file");
  return 0;
}
