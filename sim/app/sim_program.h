#pragma once
// The simulator program's body: options, the server, the signals, the event loop. `qx510-sim`
// runs it without Qt Widgets (headless, --probe, --help), so that it and its `ctl` and `send`
// commands start as fast as any Qt Core program; the window program runs it with a front.

#include <QString>

#include <memory>
#include <string>

class QCoreApplication;
class QObject;
class SimServer;

// What the window adds: a widget application, the start-up failure shown in a box, the window.
class SimFront {
 public:
  virtual ~SimFront() = default;
  virtual std::unique_ptr<QCoreApplication> application(int& argc, char** argv) const = 0;
  virtual void startFailed(const QString& why) const = 0;
  virtual std::unique_ptr<QObject> open(SimServer* server, const QString& udpHost, const std::string& statePath) const = 0;
};

// Whether these arguments need no window (--headless, --probe, --help, --version).
bool SimRunsWithoutWindow(int argc, char** argv);

// front: null, or the window's, used unless SimRunsWithoutWindow(). Returns the exit status.
int RunSimulatorProgram(int argc, char** argv, const SimFront* front);
