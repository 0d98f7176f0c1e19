#include "base/exchange/identify.h"

#include <QByteArray>

#include "base/text/codepage.h"
#include "base/exchange/commands.h"
#include "base/exchange/driver_loader.h"

uint8_t IdentifyModule(uint8_t iface, uint32_t handle, uint8_t address, QString& ident, MessageBuffer* text) {
  MessageBuffer own{};
  MessageBuffer& message = text != nullptr ? *text : own;
  uint8_t d0 = 0;
  QString parts[3];
  uint32_t response[100] = {};
  for (uint8_t part = 0; part < 3; ++part) {
    uint8_t d1 = 0, d2 = 0, d3 = 0, d4 = 0;
    // ModuleExchange sends nothing for a handle of 0 and leaves the status as it was: start
    // from a failure so that a driver handing out handle 0 is not taken for an identified module.
    uint8_t status = StatusNoEntry;
    ModuleExchange(iface, handle, address, Cmd::Identify, part, d0, d1, d2, d3, d4, status, response);
    DriverErrorText(iface, status, &message);
    if (status != 0) return status;
    const char bytes[4] = {char(d1), char(d2), char(d3), char(d4)};
    parts[part] = FromCp1250(QByteArray(bytes, 4));
  }
  ident = parts[0] + parts[1] + QStringLiteral(" v.") + parts[2];
  return 0;
}

QString ModuleTypeName(const QString& ident) {
  QString name = ident.left(8);
  name.remove(QChar(u'\0'));
  return name.trimmed();
}
