#include "bench/wire/wire_line.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

#include "base/exchange/driver_loader.h"
#include "base/wire/port_map.h"
#include "base/settings/settings.h"

PtyLine::PtyLine(const std::string& modules, int latencyMs) {
  if (!dir_.isValid()) {
    error_ = "no temporary folder";
    return;
  }
  const std::string link = dir_.filePath(QStringLiteral("ttyQX")).toStdString();
  sim_ = std::make_unique<SimulatorProcess>(
      false,
      std::vector<std::string>{"--modules", modules, "--pty", link, "--adapter-latency", std::to_string(latencyMs)}, true);
  if (!sim_->error().empty()) {
    error_ = sim_->error();
    return;
  }
  QDir(dir_.path()).mkpath(QStringLiteral("qx510"));
  QFile map(dir_.filePath(QStringLiteral("qx510/") + QLatin1String(portmap::FileName)));
  if (!map.open(QIODevice::WriteOnly) || map.write(QByteArray::fromStdString("COM1=" + link + "\n")) < 0) {
    error_ = "cannot write the serial-ports file";
    return;
  }
  ::setenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit().constData(), 1);
  // Every connection value comes from the benchmark, none from a file beside it.
  SetConnectionSettingsPath(dir_.filePath(QStringLiteral("W_qx510.ini")));
}

PtyLine::~PtyLine() {
  SetConnectionSettingsPath(QString());
  ::unsetenv("XDG_CONFIG_HOME");
}

bool ConnectCom1(TData& data, int32_t rate, uint8_t address, uint16_t timeoutMs) {
  InitData(&data);
  data.Interface = InterfaceSerial;
  data.ComPort = 1;
  data.ModuleAddress = address;
  data.BaudRate = rate;
  data.ResponseTimeout = timeoutMs;
  data.DriverParams.fill(0);
  data.DriverParams[0] = data.ComPort;
  uint32_t handle = 0;
  if (DriverInit(data.Interface, &handle, data.DriverParams) != 0) return false;
  if (DriverSetConfig(data.Interface, handle, uint32_t(rate), timeoutMs, 2) != 0) {
    DriverDone(data.Interface, &handle);
    return false;
  }
  data.DriverHandle = handle;
  data.Connected = true;
  return true;
}
