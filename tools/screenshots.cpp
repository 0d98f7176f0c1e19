// Opens every window of the tool, and the simulator's front panel and its traffic pane,
// against a simulated module in this process, and saves each as a PNG into the folder given:
// the pictures in the README and the handbook.
// Nothing is written anywhere else: the module's memory and the settings file are scratch.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <cstdio>
#include <cstdlib>

#include "app/tform1.h"
#include "base/settings/settings.h"
#include "calib/tform6.h"
#include "config/tform12.h"
#include "config/tform13.h"
#include "config/tform14.h"
#include "connect/tform2.h"
#include "live/tform11.h"
#include "live/tform15.h"
#include "live/tform3.h"
#include "live/tform9.h"
#include "sim/app/sim_window.h"
#include "sim/app/traffic_pane.h"
#include "sim/sim_server.h"
#include "tools/shot_support.h"

namespace {

void Click(QWidget* window, const char* button) {
  if (auto* b = window->findChild<QPushButton*>(QLatin1String(button))) b->click();
}

// One of the tool's windows as its menu command would open it, shown without blocking.
template <class W>
void Shoot(TForm1& main, const char* file, int settleMs, void (*work)(W&) = nullptr) {
  W window(&main);
  window.setData(main.data());
  window.show();
  Settle(settleMs);
  if (work != nullptr) work(window);
  Save(&window, file);
}

// A configuration window's "Přečíst".
template <class W>
void ReadFromModule(W& window) {
  Click(&window, "Button2");
  Settle(300);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!StartShots(argc, argv, "qx510-screenshots")) return 2;

  QTemporaryDir scratch;
  SetConnectionSettingsPath(scratch.filePath(QLatin1String(SettingsFileName)));
  SimServerOptions options;
  options.wire = simline::Wire::Instant;  // measures no time
  options.udpPort = 0;
  options.localPath = scratch.filePath(QStringLiteral("sim.sock")).toStdString();
  SimServer sim(options);
  std::string error;
  if (!sim.start(&error)) {
    std::fprintf(stderr, "screenshots: simulator: %s\n", error.c_str());
    return 1;
  }
  setenv(simproto::EndpointEnv, sim.localPath().c_str(), 1);
  // A bench with something to show: 6.25 V on the input, a few switches closed, on the
  // front panel where the engineer would close them.
  SimWindow panel(&sim, QStringLiteral("127.0.0.1"), std::string());
  panel.show();
  // The bench is also set directly, so the pictures stay right should the panel change.
  constexpr double volts = 6.25;
  constexpr uint32_t switches = 0x0000A5C3u;
  sim.setSourceVoltage(volts);
  sim.setInputSwitches(switches);
  for (auto* spin : panel.findChildren<QDoubleSpinBox*>()) {
    if (spin->suffix().trimmed() == QLatin1String("V")) spin->setValue(volts);
  }
  for (auto* button : panel.findChildren<QToolButton*>()) {
    bool isNumber = false;
    const int n = button->text().toInt(&isNumber);
    if (isNumber && button->isCheckable() && n >= 0 && n < 32) button->setChecked((switches >> n) & 1u);
  }

  TForm1 main;
  main.show();
  Settle(200);

  // Connect: the defaults (serial port 1, address 0, 9600 Bd) reach the simulated module.
  {
    TForm2 dialog(&main);
    dialog.setData(main.data());
    dialog.show();
    Settle(100);
    Click(&dialog, "Button1");
    Save(&dialog, "02-connect.png");
  }
  main.RefreshStatusBar();
  Save(&main, "01-main-window.png");
  if (!main.data()->Connected) {
    std::fprintf(stderr, "screenshots: no connection to the simulated module\n");
    return 1;
  }

  // Configure: each window after "Přečíst".
  Shoot<TForm12>(main, "03-address-rate.png", 100, &ReadFromModule<TForm12>);
  Shoot<TForm13>(main, "04-analog-input-settings.png", 100, &ReadFromModule<TForm13>);
  Shoot<TForm14>(main, "05-digital-io-settings.png", 100, &ReadFromModule<TForm14>);

  // Watch: a few polls each.
  Shoot<TForm3>(main, "06-analog-input-live.png", 1300);
  Shoot<TForm11>(main, "07-digital-inputs-live.png", 500);
  Shoot<TForm15>(main, "08-status-register.png", 1300);

  // Set outputs: every other one of the first byte, then "Zapsat".
  Shoot<TForm9>(main, "09-digital-outputs.png", 100, +[](TForm9& w) {
    for (int n : {0, 2, 4, 6, 9, 17}) w.outputBox(n)->setChecked(true);
    Click(&w, "Button1");
    Settle(200);
  });

  // Calibrate: the voltage range, its first step.
  Shoot<TForm6>(main, "10-calibration.png", 700, +[](TForm6& w) {
    Click(&w, "Button1");
    Settle(700);
  });

  // The simulator's front panel, after all of the above, and its traffic pane with an answer
  // the module refused and a request nobody answered.
  sim.withBus([](SimBus& bus) { bus.arm(0, {.kind = SimFault::Refuse, .count = 1, .status = 21}); });
  for (uint8_t address : {uint8_t(0), uint8_t(7), uint8_t(0)}) {
    simproto::Request r;
    r.rate = 9600;
    r.address = address;
    r.command = 100;
    const auto frame = simproto::EncodeRequest(r);
    sim.handleFrame(frame.data(), frame.size(), SimLogEntry::Local);
  }
  Settle(200);
  Save(&panel, "00-simulator.png");
  Save(panel.findChild<TrafficPane*>(), "00-simulator-traffic.png");

  main.close();
  return ShotsStatus();
}
