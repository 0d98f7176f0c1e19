#pragma once
// A finished current-range calibration of one module, `readings` readings each way, for the
// tests and the benchmark of the record and its certificate.

#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_record.h"

inline CalibrationRecord SampleCalibrationRecord(int readings) {
  CalibrationRecord r;
  r.ident = QStringLiteral("QX-510   v.1.20");
  r.tag = QStringLiteral("TT-104 čerpadlo 2");
  r.interfaceType = 4;
  r.address = 5;
  r.rate = 57600;
  r.range = RangeCurrent;
  r.referenceName = QStringLiteral("Kalibrátor proudu Ž-20");
  r.referenceSerial = QStringLiteral("SN 0042");
  r.referenceValidUntil = QDate(2027, 5, 31);
  r.operatorName = QStringLiteral("Jiří Šťastný");
  r.started = QDateTime(QDate(2026, 12, 7), QTime(22, 10, 3), Qt::OffsetFromUTC, 3600);
  r.ended = r.started.addSecs(278);
  for (int i = 0; i < readings; ++i) {
    r.asFound.readings.append({10.213 + 0.001 * i, 10.0});
    r.asLeft.readings.append({10.003 - 0.001 * (i % 5), 10.0});
  }
  r.constantsBefore = {true, 10000, 0};
  r.constantsAfter = {true, 9791, -35};
  r.end = CalibrationEnd::Finished;
  r.endText = QStringLiteral("Nové kalibrační konstanty zapsány; původní rozsah vstupu nastaven zpět.");
  return r;
}
