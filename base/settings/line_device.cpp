#include "base/settings/line_device.h"

#include <algorithm>

#include "base/wire/adapter_latency.h"
#include "base/wire/port_map.h"

namespace {

// The port name of the interfaces a user can map to a device; empty for the others.
std::string MappablePort(const TData& data) {
  if (data.Interface == InterfaceSerial) return portmap::SerialPortName(data.ComPort);
  if (data.Interface == InterfaceUsb) return portmap::UsbPortName;
  return {};
}

}  // namespace

LineTiming LineTimingOf(const TData& data) {
  LineTiming timing;
  const std::string port = MappablePort(data);
  if (port.empty()) return timing;
  const portmap::PortMap map = portmap::Load(portmap::DefaultPath());
  if (!map.ok()) return timing;
  if (const std::optional<portmap::PortOptions> mapped = portmap::Find(map, port)) {
    timing.basis = TimeoutBasis::FromRequestEnd;
    timing.adapterLatencyMs = std::max(0, AdapterLatencyMs(mapped->device));
  }
  return timing;
}

QString LineDeviceText(const TData& data) {
  const std::string port = MappablePort(data);
  if (port.empty()) return {};
  // Read at every call, as the drivers read it at every Init: the text names what the
  // connection just made (or failed to make) went to.
  const portmap::PortMap map = portmap::Load(portmap::DefaultPath());
  const QString name = QString::fromStdString(port);
  if (!map.ok()) {
    const QString where = map.error.line > 0 ? QStringLiteral(", řádek %1").arg(map.error.line) : QString();
    return QStringLiteral("%1 → ? (chyba v souboru %2%3: %4)")
        .arg(name, QLatin1String(portmap::FileName), where, QString::fromStdString(portmap::Describe(map.error)));
  }
  const std::optional<portmap::PortOptions> mapped = portmap::Find(map, port);
  return QStringLiteral("%1 → %2").arg(name, mapped ? QString::fromStdString(mapped->device) : QStringLiteral("simulátor"));
}
