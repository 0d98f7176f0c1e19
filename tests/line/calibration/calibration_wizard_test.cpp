// The guided calibration of the workbench against an in-process simulated module, through the
// real loader, the stand-in drivers and the workbench's driver thread (polling the while).

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>

#include "base/calibration/calibration_constants.h"
#include "base/calibration/calibration_record.h"
#include "line/calibration/calibration_history.h"
#include "line/calibration/calibration_wizard.h"
#include "line/calibration/date_field.h"
#include "base/config/line_file.h"
#include "line/poll/line_model.h"
#include "line/app/line_window.h"
#include "line/app/module_detail_window.h"
#include "sim/sim_server.h"
#include "tests/line/simulated_workbench.h"
#include "tests/sim/sim_line.h"

namespace {

constexpr SimModuleSpec Calibrated{3, 4};

// Bytes 0 (input 0's range) and 15..22 (both ranges' constants).
std::array<uint8_t, 9> CalibrationBytes(const SimModule& m) {
  std::array<uint8_t, 9> bytes{};
  bytes[0] = m.configByte(0);
  for (int i = 0; i < 8; ++i) bytes[size_t(1 + i)] = m.configByte(15 + i);
  return bytes;
}

// What the module reports for input 0 in `range` with its memory as it is: volts or mA.
double Reported(SimModule m, uint8_t range) {
  m.setConfigByte(0, range);
  return m.measureUnits(0) / 1000.0;
}

class CalibrationWizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
    ASSERT_TRUE(dir_.isValid());
    sim_ = StartLine(dir_, {Calibrated});
    ASSERT_NE(sim_, nullptr);
    workbench_.emplace(dir_, *sim_);
    window_ = std::make_unique<LineWindow>();
    const QString line = dir_.filePath(QStringLiteral("linka.qx510line"));
    LineModule m;
    m.address = Calibrated.address;
    m.baudCode = Calibrated.baudCode;
    m.ident = QStringLiteral("QX-510   v.1.20");
    QString error;
    ASSERT_TRUE(SaveLineFile(line, LineFile{QDateTime::currentDateTime(), {m}, {}}, error));
    window_->setLinePath(line);
    window_->connectLine();
    ASSERT_TRUE(WaitFor([this] { return window_->isConnected(); }));
    // The polls go on through the calibration: they must not break its exchanges.
    window_->startPolling();
    detail_ = window_->openDetail(0);
    ASSERT_NE(detail_, nullptr);
    detail_->calibrationHistory()->setRecordFolder(folder());
  }
  void TearDown() override {
    window_.reset();
    workbench_.reset();
    QLocale::setDefault(QLocale::c());
  }
  QString folder() const { return dir_.filePath(QStringLiteral("kalibrace")); }

  // Set when the wizard has got that far.
  CalibrationWizard* open(uint8_t range) {
    CalibrationWizard* w = detail_->openCalibration();
    w->setTimings(0, 0, 20);
    w->findChild<QComboBox*>(QStringLiteral("Range"))->setCurrentIndex(range);
    w->findChild<QLineEdit*>(QStringLiteral("ModuleTag"))->setText(QStringLiteral("TT-101"));
    w->findChild<QLineEdit*>(QStringLiteral("ReferenceName"))->setText(QStringLiteral("Kalibrátor K-2"));
    w->findChild<QLineEdit*>(QStringLiteral("ReferenceSerial"))->setText(QStringLiteral("SN 4711"));
    w->findChild<DateField*>(QStringLiteral("ReferenceValidUntil"))->setDate(QDate::currentDate().addMonths(6));
    w->findChild<QLineEdit*>(QStringLiteral("OperatorName"))->setText(QStringLiteral("Jana Dvořáková"));
    w->findChild<QSpinBox*>(QStringLiteral("ReadingCount"))->setValue(3);
    return w;
  }

  bool idle(CalibrationWizard* w) {
    return WaitFor([w] { return w->findChild<QPushButton*>(QStringLiteral("Action"))->isEnabled() || w->step() == CalibrationWizard::Result; });
  }

  // Drives the wizard from its entries to `stopAt` (Result: the whole calibration) with the
  // bench giving `reference` (V or mA); true when every step came as it should.
  ::testing::AssertionResult drive(CalibrationWizard* w, uint8_t range, double reference, CalibrationWizard::Step stopAt) {
    const QString entered = QLocale().toString(reference, 'f', 3);
    auto bench = [&](bool shorted) {
      sim_->setShortCircuit(shorted);
      if (range == RangeCurrent)
        sim_->setSourceCurrent(reference);
      else
        sim_->setSourceVoltage(reference);
    };
    auto at = [&](CalibrationWizard::Step step) { return w->step() == step; };
    bench(false);
    w->proceed();
    if (w->step() != CalibrationWizard::AsFound) return ::testing::AssertionFailure() << "entries refused: " << w->message().toStdString();
    if (stopAt == CalibrationWizard::AsFound) return ::testing::AssertionSuccess();
    w->findChild<QLineEdit*>(QStringLiteral("AsFoundReference"))->setText(entered);
    w->proceed();
    if (!idle(w) || w->record().asFound.empty()) return ::testing::AssertionFailure() << "as found: " << w->message().toStdString();
    w->proceed();
    if (!WaitFor([&] { return w->step() == CalibrationWizard::Zero; })) return ::testing::AssertionFailure() << "start: " << w->message().toStdString();
    if (stopAt == CalibrationWizard::Zero) return ::testing::AssertionSuccess();
    bench(true);
    w->proceed();
    if (!WaitFor([&] { return at(CalibrationWizard::Reference); })) return ::testing::AssertionFailure() << "zero: " << w->message().toStdString();
    if (stopAt == CalibrationWizard::Reference) return ::testing::AssertionSuccess();
    bench(false);
    w->findChild<QLineEdit*>(QStringLiteral("ProcedureReference"))->setText(entered);
    w->proceed();
    if (!WaitFor([&] { return at(CalibrationWizard::PowerCycle); }))
      return ::testing::AssertionFailure() << "reference: " << w->message().toStdString();
    if (stopAt == CalibrationWizard::PowerCycle) return ::testing::AssertionSuccess();
    // The workbench waits for the module to go silent and to answer again.
    sim_->setPowered(false);
    auto* state = w->findChild<QLabel*>(QStringLiteral("PowerState"));
    if (!WaitFor([&] { return state->text().contains(QStringLiteral("neodpovídá")); }))
      return ::testing::AssertionFailure() << "never saw the module off";
    EXPECT_EQ(w->step(), CalibrationWizard::PowerCycle);
    sim_->setPowered(true);
    if (!WaitFor([&] { return w->step() == CalibrationWizard::AsLeft; })) return ::testing::AssertionFailure() << "never saw it back";
    if (stopAt == CalibrationWizard::AsLeft) return ::testing::AssertionSuccess();
    w->proceed();
    if (!WaitFor([&] { return w->step() == CalibrationWizard::Result; })) return ::testing::AssertionFailure() << "as left: " << w->message().toStdString();
    return ::testing::AssertionSuccess();
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
  std::optional<SimulatedWorkbench> workbench_;
  std::unique_ptr<LineWindow> window_;
  ModuleDetailWindow* detail_ = nullptr;
};

TEST_F(CalibrationWizardTest, AFullCalibrationRecordsWhatTheModuleReportedBeforeAndAfter) {
  // What a record may not hold is refused at the entries, before the first exchange.
  CalibrationWizard* refused = open(RangeVoltage);
  refused->findChild<QLineEdit*>(QStringLiteral("ModuleTag"))->setText(QStringLiteral("TT") + QChar(0x202E) + QStringLiteral("101"));
  refused->proceed();
  EXPECT_EQ(refused->step(), CalibrationWizard::Entries);
  EXPECT_TRUE(refused->message().contains(QStringLiteral("nedovolený znak U+202E"))) << refused->message().toStdString();
  refused->close();
  ASSERT_TRUE(WaitFor([this] { return detail_->calibrationWizard() == nullptr; }));
  const struct {
    uint8_t range;
    double reference;
  } cases[] = {{RangeVoltage, 5.0}, {RangeCurrent, 10.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.range));
    // The module left in the voltage range: the current range's calibration sets it only while it lasts.
    sim_->setShortCircuit(false);
    sim_->setSourceVoltage(c.reference);
    sim_->setSourceCurrent(c.reference);
    const SimModule before = sim_->snapshot();
    ASSERT_EQ(before.configByte(0), RangeVoltage);
    const double asFound = Reported(before, c.range);

    CalibrationWizard* w = open(c.range);
    ASSERT_TRUE(drive(w, c.range, c.reference, CalibrationWizard::Result));
    const CalibrationRecord& r = w->record();
    EXPECT_EQ(r.end, CalibrationEnd::Finished) << r.endText.toStdString();
    const SimModule after = sim_->snapshot();
    EXPECT_EQ(after.configByte(0), RangeVoltage) << "the range the module had is set back";
    const double asLeft = Reported(after, c.range);

    ASSERT_EQ(r.asFound.readings.size(), 3);
    ASSERT_EQ(r.asLeft.readings.size(), 3);
    for (const CalibrationReading& reading : r.asFound.readings) {
      EXPECT_DOUBLE_EQ(reading.value, asFound);
      EXPECT_DOUBLE_EQ(reading.reference, c.reference);
    }
    for (const CalibrationReading& reading : r.asLeft.readings) EXPECT_DOUBLE_EQ(reading.value, asLeft);
    // The bench's converter is off by 2 % and then some: out of tolerance before, within after.
    EXPECT_EQ(r.asFoundVerdict(), CalibrationVerdict::Outside);
    EXPECT_EQ(r.verdict(), CalibrationVerdict::Within);
    EXPECT_EQ(r.constantsBefore.gain, before.gain(c.range == RangeCurrent));
    EXPECT_EQ(r.constantsAfter.gain, after.gain(c.range == RangeCurrent));
    EXPECT_NE(r.constantsAfter.gain, r.constantsBefore.gain);

    // Kept, sealed, and the module's history lists it.
    CalibrationRecord kept;
    QString error;
    ASSERT_TRUE(LoadCalibrationRecord(w->recordPath(), kept, error)) << error.toStdString();
    EXPECT_EQ(kept.asLeft.readings.size(), 3);
    EXPECT_EQ(kept.referenceSerial, QStringLiteral("SN 4711"));
    EXPECT_EQ(kept.rate, 9600);
    EXPECT_EQ(kept.connection, QStringLiteral("COM1 → simulátor"));  // no mapping in the test's settings folder
    EXPECT_EQ(detail_->calibrationHistory()->tag(), QStringLiteral("TT-101"));
    ASSERT_FALSE(detail_->calibrationHistory()->entries().isEmpty());
    EXPECT_EQ(detail_->calibrationHistory()->entries().first().path, w->recordPath());
    w->close();
    ASSERT_TRUE(WaitFor([this] { return detail_->calibrationWizard() == nullptr; }));
    // The next range starts from the factory's constants again.
    sim_->withModule([](SimModule& m) {
      for (int a = 15; a <= 22; ++a) m.setConfigByte(a, SimModule::FactoryMemory()[size_t(a)]);
    });
  }
}

TEST_F(CalibrationWizardTest, ACancelAtAnyStepLeavesTheModuleAsFoundAndSaysSo) {
  // Constants of a former calibration, so that "as found" is not the factory's.
  sim_->withModule([](SimModule& m) {
    const uint8_t bytes[] = {0x74, 0x27, 0x05, 0x00, 0xAC, 0x26, 0xFD, 0xFF};
    for (int i = 0; i < 8; ++i) m.setConfigByte(15 + i, bytes[i]);
  });
  const CalibrationWizard::Step steps[] = {CalibrationWizard::AsFound, CalibrationWizard::Zero, CalibrationWizard::Reference,
                                           CalibrationWizard::PowerCycle, CalibrationWizard::AsLeft};
  for (const uint8_t range : {RangeVoltage, RangeCurrent})
    for (const CalibrationWizard::Step step : steps) {
      SCOPED_TRACE(testing::Message() << "range " << int(range) << ", step " << int(step));
      const auto found = CalibrationBytes(sim_->snapshot());
      CalibrationWizard* w = open(range);
      ASSERT_TRUE(drive(w, range, range == RangeCurrent ? 10.0 : 5.0, step));
      ASSERT_EQ(w->step(), step);
      w->cancelCalibration();
      ASSERT_TRUE(WaitFor([w] { return w->step() == CalibrationWizard::Result; }));
      EXPECT_EQ(CalibrationBytes(sim_->snapshot()), found);
      EXPECT_EQ(w->record().end, CalibrationEnd::Cancelled);
      CalibrationRecord kept;
      QString error;
      ASSERT_TRUE(LoadCalibrationRecord(w->recordPath(), kept, error)) << error.toStdString();
      EXPECT_EQ(EndText(kept.end), QStringLiteral("zrušeno"));
      if (step != CalibrationWizard::AsFound) {  // read as found
        EXPECT_EQ(kept.constantsAfter.gain, kept.constantsBefore.gain);
      }
      EXPECT_EQ(kept.constantsAfter.gain, sim_->snapshot().gain(range == RangeCurrent));
      w->close();
      ASSERT_TRUE(WaitFor([this] { return detail_->calibrationWizard() == nullptr; }));
    }
}

TEST_F(CalibrationWizardTest, AWindowClosedHalfWayCancelsAndStaysToSayHowTheModuleWasLeft) {
  const auto found = CalibrationBytes(sim_->snapshot());
  CalibrationWizard* w = open(RangeVoltage);
  ASSERT_TRUE(drive(w, RangeVoltage, 5.0, CalibrationWizard::PowerCycle));
  EXPECT_FALSE(w->close());
  ASSERT_TRUE(WaitFor([w] { return w->step() == CalibrationWizard::Result; }));
  EXPECT_EQ(CalibrationBytes(sim_->snapshot()), found);
  EXPECT_EQ(w->record().end, CalibrationEnd::Cancelled);
  EXPECT_TRUE(w->close());
}

TEST_F(CalibrationWizardTest, ACalibrationOutlivesItsDetailAndTheLineGoneHalfWayLeavesTheModuleAsFound) {
  const auto found = CalibrationBytes(sim_->snapshot());
  QPointer<CalibrationWizard> w = open(RangeVoltage);
  ASSERT_TRUE(drive(w, RangeVoltage, 5.0, CalibrationWizard::Reference));
  // The line read again (a scan, a line file) makes every detail anew.
  window_->setLinePath(window_->linePath());
  ASSERT_FALSE(w.isNull());
  EXPECT_TRUE(w->isVisible());
  w->cancelCalibration();
  ASSERT_TRUE(WaitFor([w] { return w->step() == CalibrationWizard::Result; }));
  EXPECT_EQ(w->record().end, CalibrationEnd::Cancelled);
  EXPECT_FALSE(w->recordPath().isEmpty());
  EXPECT_EQ(CalibrationBytes(sim_->snapshot()), found);
  w->close();

  // Disconnected half-way: the write-back goes ahead of the line's close.
  detail_ = window_->openDetail(0);
  detail_->calibrationHistory()->setRecordFolder(folder());
  w = open(RangeVoltage);
  ASSERT_TRUE(drive(w, RangeVoltage, 5.0, CalibrationWizard::AsLeft));
  window_->disconnectLine();
  ASSERT_TRUE(WaitFor([w] { return w->step() == CalibrationWizard::Result; }));
  EXPECT_EQ(w->record().end, CalibrationEnd::Cancelled) << w->record().endText.toStdString();
  EXPECT_EQ(CalibrationBytes(sim_->snapshot()), found);
  w->close();
  window_->connectLine();
  ASSERT_TRUE(WaitFor([this] { return window_->isConnected(); }));

  w = open(RangeCurrent);
  ASSERT_TRUE(drive(w, RangeCurrent, 10.0, CalibrationWizard::PowerCycle));
  ASSERT_NE(CalibrationBytes(sim_->snapshot()), found);
  window_.reset();
  EXPECT_EQ(CalibrationBytes(sim_->snapshot()), found);
}

TEST_F(CalibrationWizardTest, HistoryListsADamagedRecordAsDamagedAndGivesNoCertificate) {
  CalibrationRecord r;
  r.tag = QStringLiteral("TT-7");
  r.address = Calibrated.address;
  r.started = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::OffsetFromUTC, 3600);
  r.ended = r.started.addSecs(600);
  r.end = CalibrationEnd::Finished;
  r.asLeft.readings = {{5.001, 5.0}};
  r.operatorName = QStringLiteral("Jana Dvořáková");
  r.referenceName = QStringLiteral("Kalibrátor K-2");
  QString error;
  SigningKey key;
  ASSERT_TRUE(LoadSigningKey(SigningKeyFolder(), key, error)) << error.toStdString();
  const QString sound = SaveCalibrationRecordIn(folder(), r, key, error);
  ASSERT_FALSE(sound.isEmpty()) << error.toStdString();
  r.started = r.started.addDays(30);
  r.ended = r.started.addSecs(600);
  r.asLeft.readings = {{5.004, 5.0}};
  const QString damaged = SaveCalibrationRecordIn(folder(), r, key, error);
  ASSERT_FALSE(damaged.isEmpty()) << error.toStdString();
  QFile file(damaged);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  QByteArray bytes = file.readAll();
  bytes.replace("5.004", "5.000");  // a reading made to look better
  ASSERT_TRUE(file.seek(0));
  ASSERT_EQ(file.write(bytes), bytes.size());
  file.close();

  CalibrationHistory* history = detail_->calibrationHistory();
  QStringList shown;
  history->setViewer([&](const QString& pdf) {
    shown << pdf;
    return true;
  });
  history->setTag(QStringLiteral("TT-7"));
  ASSERT_EQ(history->entries().size(), 2);
  // Newest first: the damaged one, in red, never opened as a certificate.
  EXPECT_EQ(history->entries()[0].path, damaged);
  EXPECT_FALSE(history->entries()[0].sound);
  EXPECT_TRUE(history->list()->item(0)->text().contains(QStringLiteral("poškozený nebo padělaný záznam")));
  EXPECT_FALSE(history->openCertificate(0));
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_TRUE(history->message().contains(QStringLiteral("poškozený")));
  EXPECT_TRUE(history->openCertificate(1)) << history->message().toStdString();
  ASSERT_EQ(shown.size(), 1);
  QFile pdf(shown.first());
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  EXPECT_TRUE(pdf.read(5) == "%PDF-");
  pdf.close();
  QFile::remove(shown.first());
}

}  // namespace
