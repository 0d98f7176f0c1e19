// The calibration window against the simulated module, through the real loader and the
// stand-in drivers: a module with a converter error reads true after one calibration.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "ui/status_bar.h"
#include "base/settings/tdata.h"
#include "calib/tform6.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"
#include "connect/tform2.h"
#include "sim/sim_server.h"

namespace {

const QString kCalibrated = QStringLiteral("Vstup zkalibrován (je nutno vypnout a zapnout napájení modulu).");

class ClosedLoop : public ::testing::TestWithParam<uint8_t> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SimServerOptions options;
    options.wire = simline::Wire::Instant;  // measures no time
    options.udpPort = 0;  // any free port on 127.0.0.1
    options.localPath = dir_.filePath(QStringLiteral("sim.sock")).toStdString();
    sim_ = std::make_unique<SimServer>(options);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    ::setenv(simproto::EndpointEnv, sim_->localPath().c_str(), 1);

    InitData(&data_);
    TForm2 dialog;
    dialog.setData(&data_);
    dialog.FormShow();
    if (GetParam() == InterfaceLan) {
      auto* kind = dialog.findChild<QComboBox*>(QStringLiteral("ComboBox2"));
      kind->setCurrentIndex(InterfaceLan);
      dialog.ComboBox2Change();
      // The LAN converter is reached on the loopback address only.
      dialog.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(QStringLiteral("127.0.0.1"));
      dialog.findChild<QLineEdit*>(QStringLiteral("Edit3"))->setText(QString::number(sim_->udpPort()));
    }
    dialog.Button1Click();
    ASSERT_TRUE(IsConnected(&data_));
    ASSERT_EQ(data_.Interface, GetParam());
  }

  void TearDown() override {
    if (data_.Connected) DriverDone(data_.Interface, &data_.DriverHandle);
    ::unsetenv(simproto::EndpointEnv);
    sim_.reset();
  }

  // What the module reports for input 0 right now, in volts or amperes.
  double Reading() {
    const ExchangeResult r = ModuleTransact(data_.Interface, data_.DriverHandle, data_.ModuleAddress, Cmd::ReadChannel, 0);
    EXPECT_EQ(r.Status, 0);
    return DecodeMeasuredValue(r.Data[1], r.Data[2], r.Data[3], r.Data[4]);
  }

  // The operator's whole procedure for one range: short the input, confirm, apply the
  // reference, enter it, confirm, switch the module off and on.
  void Calibrate(TForm6& form, int rangeItem, const QString& entry, void (SimServer::*apply)(double), double value) {
    const uint8_t rangeBefore = sim_->snapshot().memory()[0];
    form.ComboBox1->setCurrentIndex(rangeItem);
    form.Button1Click();
    ASSERT_EQ(form.CalibrationState, rangeItem == 0 ? 1 : 11) << form.StatusBar1->text().toStdString();
    sim_->setShortCircuit(true);
    form.Button2Click();
    ASSERT_EQ(form.CalibrationState, rangeItem == 0 ? 2 : 12) << form.StatusBar1->text().toStdString();
    sim_->setShortCircuit(false);
    (sim_.get()->*apply)(value);
    form.Edit2->setText(entry);
    form.Button2Click();
    ASSERT_EQ(form.CalibrationState, 0) << form.Memo1->toPlainText().toStdString();
    ASSERT_TRUE(form.Memo1->toPlainText().contains(kCalibrated));
    EXPECT_EQ(sim_->snapshot().memory()[0], rangeBefore) << "the input keeps the range it had";
    sim_->powerCycle();
  }

  // The bytes a calibration may change: the range byte of input 0, both ranges' constants.
  std::vector<uint8_t> CalibrationBytes() {
    const SimModule::Memory memory = sim_->snapshot().memory();
    std::vector<uint8_t> bytes = {memory[0]};
    bytes.insert(bytes.end(), memory.begin() + 15, memory.begin() + 23);
    return bytes;
  }

  QTemporaryDir dir_;
  std::unique_ptr<SimServer> sim_;
  TData data_{};
};

TEST_P(ClosedLoop, CalibrationCorrectsBothRanges) {
  sim_->withModule([](SimModule& m) { m.setConverterError({1.03, 25.0, -40.0}); });
  TForm6 form;
  form.Timer1->stop();
  form.setMeasurementDelayMs(0);
  form.setData(&data_);

  // Voltage: uncorrected, 5 V reads 5.175 V; corrected, within one digit (1 mV).
  sim_->setSourceVoltage(5.0);
  EXPECT_GT(std::fabs(Reading() - 5.0), 0.1);
  Calibrate(form, 0, QStringLiteral("5,000"), &SimServer::setSourceVoltage, 5.0);
  EXPECT_NEAR(Reading(), 5.000, 0.001 + 1e-9);

  // Current: 10 mA within one digit (1 uA); the reading comes in amperes.
  sim_->setSourceCurrent(10.0);
  Calibrate(form, 1, QStringLiteral("10,0"), &SimServer::setSourceCurrent, 10.0);
  sim_->withModule([](SimModule& m) { m.setConfigByte(0, 1); });
  EXPECT_NEAR(Reading(), 0.010000, 0.000001 + 1e-12);

  // The ranges keep separate constants: the voltage calibration survived.
  sim_->withModule([](SimModule& m) { m.setConfigByte(0, 0); });
  EXPECT_NEAR(Reading(), 5.000, 0.001 + 1e-9);
}

// Left at either step, by "Zrušit" or by closing the window, a calibration of either range
// leaves the module's range byte and both ranges' constants exactly as they were.
TEST_P(ClosedLoop, ACalibrationLeftAtAnyStepLeavesTheModuleAsItWas) {
  sim_->withModule([](SimModule& m) {
    m.setConfigByte(0, 1);
    const uint8_t constants[] = {52, 37, 136, 255, 30, 41, 7, 0};
    for (int i = 0; i < 8; ++i) m.setConfigByte(15 + i, constants[i]);
  });
  const std::vector<uint8_t> before = CalibrationBytes();
  for (int rangeItem : {0, 1}) {
    for (bool zeroTaken : {false, true}) {
      for (bool close : {false, true}) {
        SCOPED_TRACE(testing::Message() << "range " << rangeItem << (zeroTaken ? ", zero taken" : "")
                                        << (close ? ", window closed" : ", Zrušit"));
        TForm6 form;
        form.Timer1->stop();
        form.setMeasurementDelayMs(0);
        form.setData(&data_);
        form.ComboBox1->setCurrentIndex(rangeItem);
        form.Button1Click();
        ASSERT_NE(form.CalibrationState, 0) << form.StatusBar1->text().toStdString();
        ASSERT_NE(CalibrationBytes(), before) << "the start changes the module";
        if (zeroTaken) {
          sim_->setShortCircuit(true);
          form.Button2Click();
          sim_->setShortCircuit(false);
          ASSERT_EQ(form.CalibrationState % 10, 2);
        }
        (close ? form.Button3 : form.Button4)->click();
        EXPECT_EQ(form.CalibrationState, 0);
        EXPECT_EQ(CalibrationBytes(), before);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Calibration, ClosedLoop, ::testing::Values(InterfaceSerial, InterfaceLan),
                         [](const auto& info) { return info.param == InterfaceLan ? "lan" : "serial"; });

}  // namespace
