// The calibration certificate on paper: one page a reader takes the record's entries out of,
// and the command line that refuses a damaged, forged or untrusted record.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "base/calibration/calibration_record.h"
#include "base/calibration/record_signature.h"
#include "base/files/sealed_text.h"
#include "line/calibration/calibration_certificate.h"
#include "tests/support/calibration_sample.h"
#include "tests/support/scoped_env.h"

namespace {

QString ToolOutput(const char* tool, const QStringList& args) {
  QProcess p;
  p.start(QString::fromLatin1(tool), args);
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

class CertificateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"pdftotext", "pdffonts", "pdfinfo"})
      if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
        GTEST_SKIP() << "poppler-utils (pdftotext, pdffonts, pdfinfo) missing";
    ASSERT_TRUE(dir_.isValid());
  }
  QString path(const QString& name) const { return dir_.filePath(name); }

  static CalibrationRecord Record(int readings) { return SampleCalibrationRecord(readings); }

  QString render(const CalibrationRecord& r, QByteArray* bytes = nullptr) {
    QString error;
    const QByteArray pdf = RenderCalibrationCertificate(r, error);
    EXPECT_FALSE(pdf.isEmpty()) << error.toStdString();
    if (bytes) *bytes = pdf;
    const QString file = path(QStringLiteral("c%1.pdf").arg(++rendered_));
    QFile out(file);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(pdf);
    return file;
  }
  static int Pages(const QString& pdf) {
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(ToolOutput("pdfinfo", {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
  }

  QTemporaryDir dir_;
  int rendered_ = 0;
};

TEST_F(CertificateTest, OnePageHoldsEveryEntryOfTheRecordInFontsOfItsOwn) {
  CalibrationRecord r = Record(5);
  r.interfaceType = 0;
  r.connection = QStringLiteral("COM1 → /dev/ttyUSB0");
  QByteArray pdf;
  const QString file = render(r, &pdf);
  EXPECT_EQ(Pages(file), 1);
  EXPECT_LT(pdf.size(), 200 * 1024);
  const QString text = ToolOutput("pdftotext", {QStringLiteral("-layout"), file, QStringLiteral("-")}).simplified();
  for (const CalibrationReading& reading : r.asFound.readings + r.asLeft.readings)
    EXPECT_TRUE(text.contains(QLocale().toString(reading.value, 'f', 3))) << reading.value;  // as the module sent it
  for (const QString& want :
       {QStringLiteral("Kalibrační protokol"), CertificateNumber(r), r.tag, r.operatorName, r.referenceName,
        r.referenceSerial, QStringLiteral("31. 5. 2027"), QStringLiteral("57600 Bd"), QStringLiteral("7. 12. 2026 22:10:03 (UTC+01:00)"),
        QStringLiteral("zesílení 9791"), QStringLiteral("posun -35"), QStringLiteral("±0,020 mA (0,1 % rozsahu 20 mA)"),
        QStringLiteral("Kalibrace dokončena; vstup je po kalibraci v toleranci."), QStringLiteral("Výsledek: mimo toleranci"),
        QStringLiteral("Podpis:"), QStringLiteral("Rozhraní: Standardní COMx, COM1 → /dev/ttyUSB0")})
    EXPECT_TRUE(text.contains(want)) << want.toStdString() << "\n" << text.toStdString();
  const QStringList fonts = ToolOutput("pdffonts", {file}).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
  ASSERT_FALSE(fonts.isEmpty());
  for (const QString& f : fonts) EXPECT_EQ(f.simplified().split(QLatin1Char(' ')).value(4), QStringLiteral("yes")) << f.toStdString();
}

TEST_F(CertificateTest, LongSeriesAndLongTextsStayOnOnePage) {
  CalibrationRecord r = Record(100);
  r.end = CalibrationEnd::Failed;
  r.endText = QString(QStringLiteral("Nepodařilo se obnovit bajty 15, 16, 17, 18 konfigurační paměti modulu. ")).repeated(6);
  r.referenceName = QString(QStringLiteral("Velmi dlouhý název přístroje ")).repeated(8);
  r.connection = QStringLiteral("USB → /dev/serial/by-id/") + QString(QStringLiteral("usb-Prevodnik_RS485_")).repeated(12) + QStringLiteral("if00-port0");
  const QString file = render(r);
  EXPECT_EQ(Pages(file), 1);
  const QString layout = ToolOutput("pdftotext", {QStringLiteral("-layout"), file, QStringLiteral("-")});
  // The connection on the interface's line, cut in the middle.
  EXPECT_TRUE(layout.contains(QRegularExpression(QStringLiteral("Rozhraní: +LAN konvertor QN-1660, USB → /dev/[^\n]*…[^\n]*if00-port0\n"))))
      << layout.toStdString();
  const QString text = layout.simplified();
  EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("\\d+ z 100 neuvedeno")))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Kalibrace selhala; vstup se neposuzuje."))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Podpis:")));
}

// Only a record that is whole, signed and signed by a key this computer trusts gives a
// certificate: --protocol, the companion's record verify and the workbench's history judge
// alike, and name the reason.
TEST_F(CertificateTest, OnlyAWholeRecordSignedByATrustedKeyGivesACertificate) {
  const ScopedEnv dataHome("XDG_DATA_HOME", dir_.path().toStdString());
  SigningKey own, foreign;
  QString error;
  ASSERT_TRUE(LoadSigningKey(SigningKeyFolder(), own, error)) << error.toStdString();
  ASSERT_TRUE(LoadSigningKey(path(QStringLiteral("jinde")), foreign, error)) << error.toStdString();
  const CalibrationRecord r = Record(3);
  const QByteArray good = FormatCalibrationRecord(r, own);
  const qsizetype sealAt = good.lastIndexOf("sha256=");
  const QByteArray signature = good.mid(good.lastIndexOf("ed25519="));
  QByteArray flipped = good;
  flipped[flipped.indexOf("Ji")] = 'j';
  // Changed, and sealed again as sha256sum would: only the signature can tell.
  QByteArray resealed = SealText(good.left(sealAt).replace("Jiří Šťastný", "Jan Novák")) + signature;
  const QByteArray foreignPrint = KeyFingerprint(foreign.publicKey).toUtf8();
  CalibrationRecord bidi = r;
  bidi.tag = QStringLiteral("TT") + QChar(0x202E) + QStringLiteral("401-TT");
  const struct {
    const char* name;
    QByteArray record;  // empty: no such file
    CalibrationRecord as;
    int code;
    const char* said;
  } cases[] = {
      {"true", good, r, 0, "Kalibrační protokol KP-20261207-"},
      {"byte flipped", flipped, r, 3, "pečeť SHA-256 nesouhlasí"},
      {"changed and resealed", resealed, r, 3, "podpis Ed25519 nesouhlasí"},
      {"signed by a foreign key", FormatCalibrationRecord(r, foreign), r, 3, foreignPrint.constData()},
      {"not signed", FormatCalibrationRecord(r), r, 3, "není podepsán"},
      {"seal and signature missing", good.left(sealAt), r, 3, "chybí pečeť SHA-256"},
      {"a direction override in the tag", FormatCalibrationRecord(bidi, own), bidi, 3, "U+202E"},
      {"no such record", QByteArray(), r, 2, "nelze přečíst"},
  };
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(var));
  env.insert(QStringLiteral("XDG_DATA_HOME"), dir_.path());
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString folder = path(QStringLiteral("f%1").arg(++n));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString record = QDir(folder).filePath(CalibrationRecordFileName(c.as));
    if (!c.record.isEmpty()) {
      QFile f(record);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(c.record);
    }
    const QString target = path(QStringLiteral("r%1.pdf").arg(n));
    const QString line = QStringLiteral(QX510_LINE), cli = QStringLiteral(QX510_CLI);
    for (const auto& [program, args] : {std::pair{line, QStringList{"--protocol", record, "-o", target}},
                                        std::pair{cli, QStringList{"record", "verify", record}}}) {
      QProcess p;
      p.setProcessEnvironment(env);
      p.start(program, args);
      ASSERT_TRUE(p.waitForFinished(120000));
      const QString said = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
      EXPECT_EQ(p.exitCode(), c.code) << program.toStdString() << ": " << said.toStdString();
      EXPECT_TRUE(said.contains(QString::fromUtf8(c.said)) || (c.code == 0 && program == cli)) << said.toStdString();
    }
    EXPECT_EQ(QFile::exists(target), c.code == 0);
    const QVector<CalibrationRecordEntry> history = ListCalibrationRecords(folder, c.as.tag);
    ASSERT_EQ(history.size(), c.record.isEmpty() ? 0 : 1);
    if (!history.isEmpty()) {
      EXPECT_EQ(history[0].sound && history[0].refusal.isEmpty(), c.code == 0);
    }
  }
}

}  // namespace
