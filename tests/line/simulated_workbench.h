#pragma once
// What a workbench test against an in-process simulated line needs around it: the stand-in
// drivers sent to the simulator, the settings files, the serial-ports file and the records'
// signing key in the test's own folder (the user's must not send the stand-ins to a real device), all put back at the
// end; and a wait for what the driver thread brings about.

#include <QTemporaryDir>
#include <cstdlib>

#include "base/settings/settings.h"
#include "line/common/workbench_settings.h"
#include "sim/sim_server.h"
#include "tests/support/scoped_env.h"
#include "tests/support/wait_for.h"

class SimulatedWorkbench {
 public:
  SimulatedWorkbench(const QTemporaryDir& dir, const SimServer& sim)
      : configHome_("XDG_CONFIG_HOME", dir.path().toLocal8Bit().toStdString()),
        dataHome_("XDG_DATA_HOME", dir.path().toLocal8Bit().toStdString()) {
    ::setenv(simproto::EndpointEnv, sim.localPath().c_str(), 1);
    SetConnectionSettingsPath(dir.filePath(QStringLiteral("W_qx510.ini")));
    SetWorkbenchSettingsPath(dir.filePath(QStringLiteral("linka.ini")));
  }
  ~SimulatedWorkbench() {
    SetConnectionSettingsPath(QString());
    SetWorkbenchSettingsPath(QString());
    ::unsetenv(simproto::EndpointEnv);
  }
  SimulatedWorkbench(const SimulatedWorkbench&) = delete;
  SimulatedWorkbench& operator=(const SimulatedWorkbench&) = delete;

 private:
  ScopedEnv configHome_;
  ScopedEnv dataHome_;  // the signing key of the records
};

