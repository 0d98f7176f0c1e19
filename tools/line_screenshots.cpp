// Opens the line workbench and each of its panes against a simulated line of four modules in
// this process, and saves each as a PNG into the folder given: the README's pictures of the
// workbench. Nothing is written elsewhere: settings, line and log files are scratch.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QLocale>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/exchange/commands.h"
#include "base/settings/settings.h"
#include "line/backup/backup_panel.h"
#include "line/calibration/calibration_history.h"
#include "line/calibration/calibration_wizard.h"
#include "line/calibration/date_field.h"
#include "line/commission/commissioning_window.h"
#include "line/commission/line_rate_window.h"
#include "line/app/line_window.h"
#include "line/publish/mqtt_panel.h"
#include "line/log/log_panel.h"
#include "line/app/module_detail_window.h"
#include "line/connect/scan_panel.h"
#include "line/settings/line_settings_window.h"
#include "line/settings/module_settings_window.h"
#include "line/trend/trend_plot.h"
#include "line/common/workbench_settings.h"
#include "sim/sim_server.h"
#include "tools/shot_support.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!StartShots(argc, argv, "qx510-line-screenshots")) return 2;

  QTemporaryDir scratch;
  SetConnectionSettingsPath(scratch.filePath(QLatin1String(SettingsFileName)));
  // The shots show the window as it first opens, not as this user last left it.
  SetWorkbenchSettingsPath(scratch.filePath(QStringLiteral("linka.ini")));
  SimServerOptions options;
  options.wire = simline::Wire::Instant;  // measures no time
  options.udpPort = -1;
  options.localPath = scratch.filePath(QStringLiteral("sim.sock")).toStdString();
  options.modules = {{1, 4}, {2, 4}, {5, 7}, {17, 8}};
  SimServer sim(options);
  std::string error;
  if (!sim.start(&error)) {
    std::fprintf(stderr, "line-screenshots: simulator: %s\n", error.c_str());
    return 1;
  }
  setenv(simproto::EndpointEnv, sim.localPath().c_str(), 1);
  const uint32_t switches[] = {0x0000A5C3u, 0x00000001u, 0xFF00FF00u, 0x0u};
  for (int i = 0; i < 4; ++i)
    sim.withModule(i, [&](SimModule& m) {
      m.setSourceVoltage(1.5 + 2 * i);
      m.setInputSwitches(switches[i]);
    });
  sim.withModule(3, [](SimModule& m) { m.raiseStatusBits(SimModule::StatusPWR | SimModule::StatusRST); });

  LineWindow window;
  window.setLinePath(scratch.filePath(QStringLiteral("linka.qx510line")));
  window.show();
  window.connectLine();
  Settle(500);
  if (!window.isConnected()) {
    std::fprintf(stderr, "line-screenshots: no connection to the simulated line\n");
    return 1;
  }

  // Scan: addresses 0..20 at three rates.
  window.tabs()->setCurrentIndex(1);
  ScanPanel* scan = window.scanPanel();
  scan->findChild<QSpinBox*>(QStringLiteral("LastAddress"))->setValue(20);
  for (int code = 0; code < 9; ++code)
    scan->findChild<QCheckBox*>(QStringLiteral("Rate%1").arg(code))->setChecked(code == 4 || code == 7 || code == 8);
  emit scan->scanRequested(scan->plan());
  Settle(4000);
  Save(&window, "20-line-scan.png");

  // Overview: the line polled, module 2 silent.
  window.tabs()->setCurrentIndex(0);
  window.startPolling();
  Settle(1500);
  sim.withBus([](SimBus& bus) { bus.arm(1, SimFault{.kind = SimFault::Silent}); });
  Settle(1500);
  Save(&window, "21-line-overview.png");
  sim.withBus([](SimBus& bus) { bus.clearFaults(1); });

  // Detail of the first module: a slowly swinging input for a few seconds.
  ModuleDetailWindow* detail = window.openDetail(0);
  Settle(6000, [&](double t) { sim.withModule(0, [t](SimModule& m) { m.setSourceVoltage(5 + 3 * std::sin(t * 1.3)); }); });
  Save(detail, "22-line-module.png");

  // Its calibration: the input read as found (the converter is off by 2 %), then the whole
  // procedure to the result.
  detail->calibrationHistory()->setRecordFolder(scratch.filePath(QStringLiteral("kalibrace")));
  CalibrationWizard* wizard = detail->openCalibration();
  wizard->setTimings(300, 150, 100);
  wizard->findChild<QLineEdit*>(QStringLiteral("ModuleTag"))->setText(QStringLiteral("TT-101"));
  wizard->findChild<QLineEdit*>(QStringLiteral("ReferenceName"))->setText(QStringLiteral("Kalibrátor K-2"));
  wizard->findChild<QLineEdit*>(QStringLiteral("ReferenceSerial"))->setText(QStringLiteral("4711-22"));
  wizard->findChild<DateField*>(QStringLiteral("ReferenceValidUntil"))->setDate(QDate::currentDate().addMonths(7));
  wizard->findChild<QLineEdit*>(QStringLiteral("OperatorName"))->setText(QStringLiteral("Jana Dvořáková"));
  Settle(300);
  sim.withModule(0, [](SimModule& m) { m.setSourceVoltage(5.0); });
  wizard->proceed();
  wizard->findChild<QLineEdit*>(QStringLiteral("AsFoundReference"))->setText(QLocale().toString(5.0, 'f', 3));
  wizard->proceed();
  Settle(2500);
  Save(wizard, "27-line-calibration.png");
  wizard->proceed();
  Settle(500);
  sim.withModule(0, [](SimModule& m) { m.setShortCircuit(true); });
  wizard->proceed();
  Settle(800);
  sim.withModule(0, [](SimModule& m) { m.setShortCircuit(false); });
  wizard->findChild<QLineEdit*>(QStringLiteral("ProcedureReference"))->setText(QLocale().toString(5.0, 'f', 3));
  wizard->proceed();
  Settle(800);
  sim.withModule(0, [](SimModule& m) { m.setPowered(false); });
  Settle(1500);
  sim.withModule(0, [](SimModule& m) { m.setPowered(true); });
  Settle(1000);
  wizard->proceed();
  Settle(2500);
  Save(wizard, "28-line-calibration-result.png");
  wizard->close();
  detail->close();

  // The first module's settings as read from it; then inputs 0-11 negated on every module,
  // previewed.
  ModuleSettingsWindow* settings = window.openSettings(window.model()->row(0).module);
  Settle(1500);
  Save(settings, "30-line-module-settings.png");
  settings->close();
  LineSettingsWindow* several = window.openLineSettings();
  several->setModules(window.model()->modules(), window.model()->modules());
  several->setChoice({SettingChoice::DinNegation, 0, 11, 1});
  several->showPreview();
  Settle(2500);
  Save(several, "31-line-settings.png");
  several->close();

  // Log running for two modules.
  window.tabs()->setCurrentIndex(2);
  window.logPanel()->setFolder(scratch.filePath(QStringLiteral("zaznam")));
  auto* list = window.logPanel()->findChild<QListWidget*>(QStringLiteral("LogModules"));
  for (int i : {0, 2}) list->item(i)->setCheckState(Qt::Checked);
  window.logPanel()->startLog();
  Settle(1200);
  Save(&window, "23-line-log.png");
  window.logPanel()->stopLog();

  // Backup, then a drifted module compared with it.
  BackupPanel* backup = window.backupPanel();
  window.tabs()->setCurrentIndex(3);
  backup->backupTo(scratch.filePath(QStringLiteral("zaloha.qx510line")));
  Settle(3000);
  sim.withModule(2, [](SimModule& m) {
    m.setConfigByte(CfgAddr::DinNegation + CfgAddr::DigitalStride, 0x5A);
    m.setConfigByte(CfgAddr::AinRange, 1);
  });
  backup->compareWithFile();
  Settle(3000);
  Save(&window, "24-line-backup.png");

  window.tabs()->setCurrentIndex(4);
  Settle(500);
  Save(&window, "25-line-traffic.png");

  // The publishing pane as an engineer fills it in, before the start, the line named in the
  // overview.
  auto* lineName = window.findChild<QLineEdit*>(QStringLiteral("LineName"));
  lineName->setText(QStringLiteral("linka-2"));
  emit lineName->editingFinished();
  window.tabs()->setCurrentIndex(5);
  window.mqttPanel()->findChild<QLineEdit*>(QStringLiteral("MqttUrl"))->setText(QStringLiteral("mqtt://127.0.0.1:1883"));
  Settle(300);
  Save(&window, "29-line-mqtt.png");

  // Commissioning: two new modules planned after the line's four, the first one delivered
  // and given the first module's configuration, waiting for its power cycle.
  window.tabs()->setCurrentIndex(0);
  window.stopPolling();
  sim.withBus([](SimBus& bus) { bus.add(0, 4); });
  CommissioningWindow* commissioning = window.openCommissioning();
  commissioning->addPlanned({21, 7}, QStringLiteral("TT-121"));
  commissioning->addPlanned({22, 7}, QStringLiteral("TT-122"));
  commissioning->findChild<QComboBox*>(QStringLiteral("Template"))->setCurrentIndex(1);
  commissioning->startNext();
  Settle(3000);
  Save(commissioning, "32-line-commissioning.png");
  commissioning->cancelWork();
  Settle(1000);
  commissioning->close();

  // The line's rate change, planned to 115200 Bd.
  LineRateWindow* rate = window.openLineRate();
  rate->setRate(8);
  Settle(300);
  Save(rate, "33-line-rate.png");
  rate->close();
  window.close();
  return ShotsStatus();
}
