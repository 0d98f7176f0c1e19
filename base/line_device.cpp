#include "base/line_device.h"

#include "base/port_map.h"

QString LineDeviceText(const TData& data) {
  std::string port;
  if (data.Interface == InterfaceSerial)
    port = portmap::SerialPortName(data.ComPort);
  else if (data.Interface == InterfaceUsb)
    port = portmap::UsbPortName;
  else
    return {};
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
