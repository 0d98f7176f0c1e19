// qx510-sim-window: the simulator with its front panel. `qx510-sim` becomes this program when
// it is started without --headless; it is not meant to be started by hand.
#include <QApplication>
#include <QMessageBox>

#include "sim/app/sim_program.h"
#include "sim/app/sim_window.h"

namespace {
class WindowFront : public SimFront {
 public:
  std::unique_ptr<QCoreApplication> application(int& argc, char** argv) const override {
    return std::make_unique<QApplication>(argc, argv);
  }
  void startFailed(const QString& why) const override {
    QMessageBox::critical(nullptr, "Simulátor modulu QX-510", "Simulátor nelze spustit:\n" + why);
  }
  std::unique_ptr<QObject> open(SimServer* server, const QString& udpHost, const std::string& statePath) const override {
    auto window = std::make_unique<SimWindow>(server, udpHost, statePath);
    window->show();
    return window;
  }
};
}  // namespace

int main(int argc, char** argv) {
  const WindowFront front;
  return RunSimulatorProgram(argc, argv, &front);
}
