#pragma once
// What a workbench test against an in-process simulated line needs around it: the stand-in
// drivers sent to the simulator, the settings files and the serial-ports file in the test's
// own folder (the user's must not send the stand-ins to a real device), all put back at the
// end; and a wait for what the driver thread brings about.

#include <QTemporaryDir>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "base/settings.h"
#include "line/workbench_settings.h"
#include "sim/sim_server.h"
#include "tests/support/wait_for.h"

class SimulatedWorkbench {
 public:
  SimulatedWorkbench(const QTemporaryDir& dir, const SimServer& sim) {
    ::setenv(simproto::EndpointEnv, sim.localPath().c_str(), 1);
    SetConnectionSettingsPath(dir.filePath(QStringLiteral("W_qx510.ini")));
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) savedXdg_ = xdg;
    ::setenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit().constData(), 1);
    SetWorkbenchSettingsPath(dir.filePath(QStringLiteral("linka.ini")));
  }
  ~SimulatedWorkbench() {
    SetConnectionSettingsPath(QString());
    SetWorkbenchSettingsPath(QString());
    ::unsetenv(simproto::EndpointEnv);
    if (savedXdg_)
      ::setenv("XDG_CONFIG_HOME", savedXdg_->c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
  }
  SimulatedWorkbench(const SimulatedWorkbench&) = delete;
  SimulatedWorkbench& operator=(const SimulatedWorkbench&) = delete;

 private:
  std::optional<std::string> savedXdg_;
};

