#pragma once
// "Kalibrační protokol": the certificate of one calibration record (base/calibration/calibration_record.h)
// as a one-page A4 PDF in Czech: its number (CertificateNumber), the module and its tag, the
// reference instrument, the operator, the times, the tolerance, the tables of the as-found and
// as-left readings with their errors, mean and spread, the constants before and after, the
// verdict in plain words, how the calibration ended, the record's seal and who signed it, and a
// line for the operator's signature.
// The font (DejaVu Sans) carries the Czech letters and is embedded, as in the line report.
// Qt Gui only (QPdfWriter); needs a QGuiApplication, the offscreen platform will do.

#include <QByteArray>
#include <QString>

struct CalibrationRecord;

// The PDF's bytes; empty, with the reason in Czech, when it could not be made (no font with
// the Czech letters, the painter failed). Long series are cut to the rows the page holds, the
// mean and spread still of all readings.
QByteArray RenderCalibrationCertificate(const CalibrationRecord& record, QString& error);

// Renders the certificate and writes it to `path` through WriteFileChecked: a failure leaves
// no file, or the former one, at `path`.
bool WriteCalibrationCertificate(const CalibrationRecord& record, const QString& path, QString& error);
