#include "sim/control/traffic.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include "sim/sim_server.h"

QString SimCommandName(uint8_t command) {
  switch (command) {
    case 0: return QStringLiteral("čtení kanálu");
    case 1: return QStringLiteral("zápis výstupů");
    case 100: return QStringLiteral("čtení stavu");
    case 101: return QStringLiteral("nulování stavu");
    case 102: return QStringLiteral("čtení konfigurace");
    case 103: return QStringLiteral("zápis konfigurace");
    case 200: return QStringLiteral("identifikace");
    default: return QStringLiteral("příkaz %1").arg(command);
  }
}

SimOutcome SimOutcomeOf(const SimLogEntry& entry) {
  if (!entry.answer) return SimOutcome::Silent;
  return entry.answer->status == 0 ? SimOutcome::Ok : SimOutcome::Refused;
}

QString SimStatusText(const SimLogEntry& entry) {
  switch (SimOutcomeOf(entry)) {
    case SimOutcome::Ok: return QStringLiteral("v pořádku");
    case SimOutcome::Refused: return QStringLiteral("stav %1").arg(entry.answer->status);
    case SimOutcome::Silent: break;
  }
  return QStringLiteral("bez odpovědi");
}

QString SimDataText(const uint8_t* data) {
  static const char digits[] = "0123456789ABCDEF";
  QString text(14, QChar(' '));
  for (int i = 0; i < 5; ++i) {
    text[3 * i] = QChar(digits[data[i] >> 4]);
    text[3 * i + 1] = QChar(digits[data[i] & 15]);
  }
  return text;
}

QString SimTimeText(const SimLogEntry& e, int utcOffsetSeconds) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(e.time.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, utcOffsetSeconds).toString(Qt::ISODateWithMs);
}

std::string SimTrafficJson(const SimLogEntry& e, int utcOffsetSeconds) {
  QJsonObject o{{"serial", double(e.serial)},
                {"time", SimTimeText(e, utcOffsetSeconds)},
                {"channel", e.channel == SimLogEntry::Lan ? "udp" : e.channel == SimLogEntry::Serial ? "serial" : "local"},
                {"address", e.request.address},
                {"rate", double(e.request.rate)},
                {"command", e.request.command},
                {"name", SimCommandName(e.request.command)},
                {"index", e.request.index},
                {"data", SimDataText(e.request.data.data())},
                {"answered", bool(e.answer)},
                {"fault", QString::fromStdString(e.note)}};
  if (e.module >= 0) o["module"] = e.module;
  if (e.answer) {
    o["status"] = e.answer->status;
    o["answer"] = SimDataText(e.answer->data.data());
  }
  return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}
