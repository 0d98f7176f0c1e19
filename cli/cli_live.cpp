// identify, scan, watch, dout and status clear.

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "base/baud.h"
#include "base/commands.h"
#include "base/driver_loader.h"
#include "base/identify.h"
#include "base/value_format.h"
#include "cli/cli_context.h"

namespace {

QString JsonLine(const QJsonValue& value) {
  const QJsonDocument document =
      value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
  return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
}

QString Shown(QString ident) { return ident.remove(QChar(u'\0')); }

QJsonObject IdentJson(const QString& ident) {
  const qsizetype at = ident.lastIndexOf(QLatin1String(" v."));
  return {{QStringLiteral("module"), ModuleTypeName(ident)},
          {QStringLiteral("version"), Shown(at >= 0 ? ident.mid(at + 3) : QString()).trimmed()}};
}

uint32_t GroupValue(const ExchangeResult& r) {
  return uint32_t(r.Data[1]) | uint32_t(r.Data[2]) << 8 | uint32_t(r.Data[3]) << 16 | uint32_t(r.Data[4]) << 24;
}

// Waits ms, ending early when the operator stops the program.
void Wait(CliContext& c, int ms) {
  while (ms > 0 && !(c.io.interrupted && c.io.interrupted())) {
    const int step = std::min(ms, 50);
    c.io.sleep(step);
    ms -= step;
  }
}

bool Interrupted(const CliContext& c) { return c.io.interrupted && c.io.interrupted(); }

}  // namespace

int CmdIdentify(CliContext& c) {
  if (const int r = c.connect(); r != ExitOk) return r;
  if (c.json()) {
    QJsonObject object = IdentJson(c.data.ModuleIdent);
    object.insert(QStringLiteral("address"), c.data.ModuleAddress);
    object.insert(QStringLiteral("rate"), c.data.BaudRate);
    c.out() << JsonLine(object) << '\n';
  } else {
    c.out() << Shown(c.data.ModuleIdent) << '\n';
  }
  return ExitOk;
}

int CmdScan(CliContext& c) {
  std::vector<uint8_t> addresses;
  std::vector<int> codes;
  qint64 timeout = 20;
  if (!ParseAddressList(c.args.has(QStringLiteral("addresses")) ? c.args.value(QStringLiteral("addresses"))
                                                                 : QStringLiteral("0-255"),
                        addresses))
    return c.fail(ExitUsage, QStringLiteral("Adresy musí být čísla 0-255 nebo rozsahy, např. 0-255 nebo 1,5,10-20."));
  if (!ParseRateList(c.args.has(QStringLiteral("rates")) ? c.args.value(QStringLiteral("rates")) : QStringLiteral("all"),
                     codes))
    return c.fail(ExitUsage, BaudRangeText.trimmed());
  if (c.args.has(QStringLiteral("scan-timeout")) &&
      !ParseNumber(c.args.value(QStringLiteral("scan-timeout")), 1, 65535, timeout))
    return c.fail(ExitUsage, QStringLiteral("Timeout musí být v rozsahu 1-65535 ms."));
  // The configured rate first: the module that was expected there is found soonest.
  const auto current = std::find(codes.begin(), codes.end(), BaudRateToCode(c.data.BaudRate));
  if (current != codes.end()) std::rotate(codes.begin(), current, current + 1);

  if (const int r = c.connect(/*identify=*/false); r != ExitOk) return r;
  const uint8_t iface = c.data.Interface;
  const uint32_t handle = c.data.DriverHandle;
  const std::size_t total = addresses.size() * codes.size();
  std::size_t done = 0;
  QJsonArray found;
  int result = ExitOk;
  for (int code : codes) {
    if (Interrupted(c)) break;
    const uint32_t status = DriverSetConfig(iface, handle, uint32_t(BaudCodeToRate(code)), uint32_t(timeout), 2);
    if (status != 0) {
      result = c.exchangeFailed(QStringLiteral("Rychlost %1 Bd nelze nastavit").arg(BaudCodeToRate(code)), status);
      break;
    }
    for (uint8_t address : addresses) {
      if (Interrupted(c)) break;
      QString ident;
      if (IdentifyModule(iface, handle, address, ident) == 0) {
        QJsonObject module = IdentJson(ident);
        module.insert(QStringLiteral("address"), address);
        module.insert(QStringLiteral("rate"), BaudCodeToRate(code));
        found.append(module);
        if (!c.json()) {
          if (c.io.errIsTerminal) *c.io.err << '\r' << QString(60, QLatin1Char(' ')) << '\r';
          c.out() << QStringLiteral("adresa %1, %2 Bd: %3\n").arg(address).arg(BaudCodeToRate(code)).arg(Shown(ident));
          c.out().flush();
        }
      }
      c.progressBar(QStringLiteral("Hledání"), int(++done * 100 / total));
    }
  }
  // Leave the interface at the rate and timeout it is configured for.
  DriverSetConfig(iface, handle, uint32_t(c.data.BaudRate), c.data.ResponseTimeout, 2);
  if (c.json()) c.out() << JsonLine(found) << '\n';
  c.say(QStringLiteral("Nalezeno modulů: %1").arg(found.size()));
  return result;
}

int CmdWatch(CliContext& c) {
  const QString kind = c.args.positional.front();
  if (kind != QLatin1String("ain0") && kind != QLatin1String("din") && kind != QLatin1String("status"))
    return c.fail(ExitUsage, QStringLiteral("Neznámá veličina: %1 (ain0, din, status)").arg(kind));
  qint64 interval = 500, count = 0;
  if (c.args.has(QStringLiteral("interval")) && !ParseNumber(c.args.value(QStringLiteral("interval")), 1, 3600000, interval))
    return c.fail(ExitUsage, QStringLiteral("Interval musí být v rozsahu 1-3600000 ms."));
  if (c.args.has(QStringLiteral("count")) && !ParseNumber(c.args.value(QStringLiteral("count")), 1, 1LL << 40, count))
    return c.fail(ExitUsage, QStringLiteral("Počet musí být kladné celé číslo."));
  const QString format = c.args.has(QStringLiteral("format")) ? c.args.value(QStringLiteral("format")) : QStringLiteral("text");
  if (format != QLatin1String("text") && format != QLatin1String("csv") && format != QLatin1String("json"))
    return c.fail(ExitUsage, QStringLiteral("Formát musí být text, csv nebo json."));

  if (const int r = c.connect(); r != ExitOk) return r;
  const uint8_t iface = c.data.Interface, module = c.data.ModuleAddress;
  const uint32_t handle = c.data.DriverHandle;
  bool current = false;
  if (kind == QLatin1String("ain0")) {
    // The unit follows the input's range, read once as the live window does.
    const ExchangeResult range = ReadConfig(iface, handle, module, CfgAddr::AinRange);
    if (range.Status != 0) return c.exchangeFailed(QStringLiteral("Čtení rozsahu vstupu 0 selhalo"), range.Status);
    current = range.Data[3] & 1;
  }
  if (format == QLatin1String("csv"))
    c.out() << (kind == QLatin1String("ain0") ? "time,value,unit\n" : kind == QLatin1String("din") ? "time,din\n" : "time,status\n");

  const QStringList names = StatusBitNames();
  int result = ExitOk;
  for (qint64 i = 0; count == 0 || i < count; ++i) {
    if (Interrupted(c)) break;
    if (i > 0) {
      Wait(c, int(interval));
      if (Interrupted(c)) break;
    }
    const QString time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    const ExchangeResult r =
        kind == QLatin1String("ain0") ? ModuleTransact(iface, handle, module, Cmd::ReadChannel, 0)
        : kind == QLatin1String("din") ? ModuleTransact(iface, handle, module, Cmd::ReadChannel, DigitalIndex)
                                       : ModuleTransact(iface, handle, module, Cmd::ReadStatus, 0);
    if (r.Status != 0) {
      result = c.exchangeFailed(time + QStringLiteral(" čtení selhalo"), r.Status);
      continue;
    }
    QJsonObject json{{QStringLiteral("time"), time}};
    QString text, csv;
    if (kind == QLatin1String("ain0")) {
      float value = float(DecodeMeasuredValue(r.Data[1], r.Data[2], r.Data[3], r.Data[4]));
      int decimals = r.Data[4] & 0x7F;
      if (current) {  // amperes shown as milliamperes, as the live window shows them
        value *= 1000.0f;
        decimals = 3;
      }
      const QString unit = current ? QStringLiteral("mA") : QStringLiteral("V");
      const QString plain = QString::number(double(value), 'f', std::min(decimals, 18));
      text = FormatFixedPrecision5(value, decimals) + QLatin1Char(' ') + unit;
      csv = plain + QLatin1Char(',') + unit;
      json.insert(QStringLiteral("value"), plain.toDouble());
      json.insert(QStringLiteral("unit"), unit);
    } else {
      const uint32_t bits = GroupValue(r);
      QStringList on;
      QJsonArray onJson;
      for (int n = 0; n < 32; ++n) {
        if (!(bits >> n & 1u)) continue;
        const QString name = kind == QLatin1String("din") ? QString::number(n)
                             : names[n] == QLatin1String("---") ? QStringLiteral("bit%1").arg(n)
                                                                 : names[n];
        on << name;
        if (kind == QLatin1String("din")) onJson.append(n); else onJson.append(name);
      }
      text = kind + QLatin1Char('=') + Hex8(bits) + (on.isEmpty() ? QString() : QLatin1Char(' ') + on.join(QLatin1Char(' ')));
      csv = Hex8(bits);
      json.insert(kind, qint64(bits));
      json.insert(QStringLiteral("on"), onJson);
    }
    if (format == QLatin1String("json"))
      c.out() << JsonLine(json) << '\n';
    else
      c.out() << time << (format == QLatin1String("csv") ? QStringLiteral(",") + csv : QStringLiteral(" ") + text) << '\n';
    c.out().flush();
  }
  return result;
}

int CmdDout(CliContext& c) {
  uint32_t mask = 0;
  if (!ParseMask32(c.args.positional.front(), mask))
    return c.fail(ExitUsage, QStringLiteral("Výstupy: maska 0x a nejvýše 8 šestnáctkových číslic, seznam bitů 0-31 "
                                            "(např. 0,3,17) nebo none."));
  if (const int r = c.connect(); r != ExitOk) return r;
  const ExchangeResult r = ModuleTransact(c.data.Interface, c.data.DriverHandle, c.data.ModuleAddress, Cmd::WriteOutputs,
                                          DigitalIndex, {0, uint8_t(mask), uint8_t(mask >> 8), uint8_t(mask >> 16), uint8_t(mask >> 24)});
  if (r.Status != 0) return c.exchangeFailed(QStringLiteral("Zápis výstupů selhal"), r.Status);
  c.say(QStringLiteral("Výstupy nastaveny: %1").arg(Hex8(mask)));
  return ExitOk;
}

int CmdStatusClear(CliContext& c) {
  if (const int r = c.connect(); r != ExitOk) return r;
  const ExchangeResult r = ModuleTransact(c.data.Interface, c.data.DriverHandle, c.data.ModuleAddress, Cmd::ClearStatus, 0);
  if (r.Status != 0) return c.exchangeFailed(QStringLiteral("Nulování stavového registru selhalo"), r.Status);
  c.say(QStringLiteral("Stavový registr vynulován."));
  return ExitOk;
}
