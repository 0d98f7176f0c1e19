// identify, scan, watch, dout and status clear.

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <optional>
#include <variant>

#include "base/text/baud.h"
#include "base/files/checked_file.h"
#include "base/text/czech_plural.h"
#include "base/exchange/address_conflict.h"
#include "base/exchange/commands.h"
#include "base/exchange/csv_format.h"
#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange_observer.h"
#include "base/exchange/exchange_trace.h"
#include "base/exchange/identify.h"
#include "base/settings/line_device.h"
#include "base/exchange/line_scan.h"
#include "base/text/value_format.h"
#include "base/wire/wire_budget.h"
#include "cli/cli_context.h"
#include "cli/cli_mqtt.h"

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
  while (ms > 0 && !c.interrupted()) {
    const int step = std::min(ms, 50);
    c.io.sleep(step);
    ms -= step;
  }
}

bool Interrupted(const CliContext& c) { return c.interrupted(); }

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
  qint64 userTimeout = 0;  // 0: each rate's own
  if (!ParseAddressList(c.args.has(QStringLiteral("addresses")) ? c.args.value(QStringLiteral("addresses"))
                                                                 : QStringLiteral("0-255"),
                        addresses))
    return c.fail(ExitUsage, QStringLiteral("Adresy musí být čísla 0-255 nebo rozsahy, např. 0-255 nebo 1,5,10-20."));
  if (!ParseRateList(c.args.has(QStringLiteral("rates")) ? c.args.value(QStringLiteral("rates")) : QStringLiteral("all"),
                     codes))
    return c.fail(ExitUsage, RateChoicesText);
  if (c.args.has(QStringLiteral("scan-timeout")) &&
      !ParseNumber(c.args.value(QStringLiteral("scan-timeout")), 1, 65535, userTimeout))
    return c.fail(ExitUsage, QStringLiteral("Timeout musí být v rozsahu 1–65535 ms."));
  // The configured rate first: the module that was expected there is found soonest.
  const auto current = std::find(codes.begin(), codes.end(), BaudRateToCode(c.data.BaudRate));
  if (current != codes.end()) std::rotate(codes.begin(), current, current + 1);

  // The LAN converter's driver waits the UDP timeout on top of the response timeout; a try
  // of the scan is bounded by the scan timeout alone.
  if (const int r = c.connect(/*identify=*/false, /*udpTimeout=*/0); r != ExitOk) return r;
  const LineTiming timing = LineTimingOf(c.data);
  ScanBudget budget(timing.basis, timing.adapterLatencyMs, int(userTimeout));
  const uint8_t iface = c.data.Interface;
  const uint32_t handle = c.data.DriverHandle;
  std::size_t done = 0;
  const std::size_t total = addresses.size() * codes.size();
  QElapsedTimer scanClock;
  scanClock.start();
  QJsonArray found;
  bool cut = false;  // a signal ended the scan before its last try
  ScanHooks hooks;
  hooks.setRate = [&](int code, int timeoutMs) {
    return DriverSetConfig(iface, handle, uint32_t(BaudCodeToRate(code)), uint32_t(timeoutMs), 2);
  };
  hooks.stop = [&] { return cut = cut || Interrupted(c); };
  // An identification is three exchanges; their mean is set against one exchange's wire time.
  hooks.found = [&](const ScanFind& f) {
    const int32_t rate = BaudCodeToRate(f.baudCode);
    const double roundTripMs = double(f.tookNs) / 3e6;
    QJsonObject module = IdentJson(f.ident);
    module.insert(QStringLiteral("address"), f.address);
    module.insert(QStringLiteral("rate"), rate);
    module.insert(QStringLiteral("round_trip_ms"), std::round(roundTripMs * 1000) / 1000);
    module.insert(QStringLiteral("wire_ms"), std::round(ExchangeWireTimeMs(rate) * 1000) / 1000);
    if (f.late) module.insert(QStringLiteral("late_ms"), qint64(f.tookNs / 1000000));
    found.append(module);
    if (c.json()) return;
    c.out() << QStringLiteral("adresa %1, %2 Bd: %3, %4").arg(f.address).arg(rate).arg(Shown(f.ident), RoundTripText(roundTripMs, rate));
    if (f.late)
      c.out() << QStringLiteral(" (odpovídá pozdě: identifikace trvala %1 ms, timeout pokusu %2 ms)")
                     .arg(f.tookNs / 1000000)
                     .arg(budget.tryTimeoutMs(rate));
    c.out() << '\n';
    c.out().flush();
  };
  // Not a module found, and no data: a message, so that the list and its JSON stay modules only.
  hooks.conflict = [&](uint8_t address, int code) {
    c.say(QStringLiteral("%1 při %2 Bd: jejich odpovědi kolidují").arg(AddressConflictText(address)).arg(BaudCodeToRate(code)));
  };
  // The progress counts each try at its timeout, as the workbench does: at 600 Bd a try takes
  // seventy times what it takes at 115200 Bd, and most tries meet no module.
  hooks.tried = [&](int64_t doneMs, int64_t wholeMs) {
    ++done;
    c.progressBar(QStringLiteral("Hledání"), int(std::min<int64_t>(100, doneMs * 100 / std::max<int64_t>(1, wholeMs))),
                  QStringLiteral("zbývá asi %1").arg(DurationText(TimeLeftMs(doneMs, wholeMs, scanClock.elapsed()) / 1000)));
  };
  const ScanEnd end = ScanLine(iface, handle, addresses, codes, budget, c.data.ResponseTimeout, hooks);
  int result = ExitOk;
  if (end.status != 0)
    result = c.exchangeFailed(QStringLiteral("Rychlost %1 Bd nelze nastavit").arg(BaudCodeToRate(end.failedBaudCode)),
                              end.status);
  // Leave the interface at the rate and timeout it is configured for.
  DriverSetConfig(iface, handle, uint32_t(c.data.BaudRate), c.data.ResponseTimeout, 2);
  if (cut) c.say(QStringLiteral("Hledání přerušeno po %1 z %2 %3.").arg(done).arg(total).arg(CzechPlural(total, "pokusu", "pokusů", "pokusů")));
  if (c.json()) c.out() << JsonLine(found) << '\n';
  c.say(QStringLiteral("Nalezeno modulů: %1").arg(found.size()));
  return cut ? 128 + c.interruptSignal() : result;
}

namespace {

enum class Source { Ain0, Din, Status };
const QStringList SourceNames = {QStringLiteral("ain0"), QStringLiteral("din"), QStringLiteral("status")};

// One reading of one source in the three forms (the CSV one holds just this source's value);
// `failure` holds the error instead.
struct Reading {
  QString text, failure;
  CsvReading csv;
  QJsonObject json;
  MqttSourceReading published;
};

Reading Read(CliContext& c, Source source, bool current) {
  const uint8_t iface = c.data.Interface, module = c.data.ModuleAddress;
  const uint32_t handle = c.data.DriverHandle;
  const ExchangeResult r = source == Source::Ain0  ? ModuleTransact(iface, handle, module, Cmd::ReadChannel, 0)
                           : source == Source::Din ? ModuleTransact(iface, handle, module, Cmd::ReadChannel, DigitalIndex)
                                                   : ModuleTransact(iface, handle, module, Cmd::ReadStatus, 0);
  Reading reading;
  reading.published.source = MqttSource(int(source));
  if (r.Status != 0) {
    reading.failure = c.statusText(r.Status);
    reading.published.status = r.Status;
    reading.published.outcome = ClassifyExchangeStatus(r.Status);
    reading.published.error = reading.failure;
    return reading;
  }
  if (source == Source::Ain0) {
    float value = float(DecodeMeasuredValue(r.Data[1], r.Data[2], r.Data[3], r.Data[4]));
    int decimals = r.Data[4] & 0x7F;
    if (current) {  // amperes shown as milliamperes, as the live window shows them
      value *= 1000.0f;
      decimals = 3;
    }
    const QString unit = current ? QStringLiteral("mA") : QStringLiteral("V");
    const QString plain = QString::number(double(value), 'f', std::min(decimals, 18));
    reading.text = FormatFixedPrecision5(value, decimals) + QLatin1Char(' ') + unit;
    reading.csv.ain0 = double(value);
    reading.csv.decimals = decimals;
    reading.csv.unit = unit;
    reading.json = {{QStringLiteral("value"), plain.toDouble()}, {QStringLiteral("unit"), unit}};
    reading.published.value = double(value);
    reading.published.decimals = decimals;
    reading.published.current = current;
    return reading;
  }
  const QString kind = SourceNames[int(source)];
  const QStringList names = StatusBitNames();
  const uint32_t bits = GroupValue(r);
  QStringList on;
  QJsonArray onJson;
  for (int n = 0; n < 32; ++n) {
    if (!(bits >> n & 1u)) continue;
    const QString name = source == Source::Din              ? QString::number(n)
                         : names[n] == QLatin1String("---") ? QStringLiteral("bit%1").arg(n)
                                                            : names[n];
    on << name;
    if (source == Source::Din) onJson.append(n); else onJson.append(name);
  }
  reading.text = kind + QLatin1Char('=') + Hex8(bits) + (on.isEmpty() ? QString() : QLatin1Char(' ') + on.join(QLatin1Char(' ')));
  (source == Source::Din ? reading.csv.din : reading.csv.status) = bits;
  reading.json = {{kind, qint64(bits)}, {QStringLiteral("on"), onJson}};
  reading.published.bits = bits;
  return reading;
}

// "ain0,din": each source once, in the order given.
bool ParseSources(const QString& text, QList<Source>& sources) {
  for (const QString& part : text.split(QLatin1Char(','))) {
    const qsizetype index = SourceNames.indexOf(part.trimmed());
    if (index < 0) return false;
    if (!sources.contains(Source(index))) sources << Source(index);
  }
  return !sources.isEmpty();
}

}  // namespace

int CmdWatch(CliContext& c) {
  QList<Source> sources;
  if (!ParseSources(c.args.positional.front(), sources))
    return c.fail(ExitUsage, QStringLiteral("Neznámá veličina: %1 (ain0, din, status, nebo několik oddělených čárkou)")
                                 .arg(c.args.positional.front()));
  qint64 interval = 500, count = 0;
  if (c.args.has(QStringLiteral("interval")) && !ParseNumber(c.args.value(QStringLiteral("interval")), 1, 3600000, interval))
    return c.fail(ExitUsage, QStringLiteral("Interval musí být v rozsahu 1–3600000 ms."));
  if (c.args.has(QStringLiteral("count")) && !ParseNumber(c.args.value(QStringLiteral("count")), 1, 1LL << 40, count))
    return c.fail(ExitUsage, QStringLiteral("Počet musí být kladné celé číslo."));
  const QString format = c.args.has(QStringLiteral("format")) ? c.args.value(QStringLiteral("format")) : QStringLiteral("text");
  if (format != QLatin1String("text") && format != QLatin1String("csv") && format != QLatin1String("json"))
    return c.fail(ExitUsage, QStringLiteral("Formát musí být text, csv nebo json."));
  // Several modules, all at the connection's rate: each line names its module.
  const bool several = c.args.has(QStringLiteral("addresses"));
  std::vector<uint8_t> addresses;
  if (several && !ParseAddressList(c.args.value(QStringLiteral("addresses")), addresses))
    return c.fail(ExitUsage, QStringLiteral("Adresy musí být čísla 0-255 nebo rozsahy, např. 0-31 nebo 1,5,10-20."));
  WatchPublisher publisher;
  const bool publishing = WatchPublisher::Wanted(c);
  if (publishing)
    if (const int r = publisher.start(c); r != ExitOk) return r;
  CheckedStream file;  // every line checked as it is written
  QTextStream fileStream;
  const QString output = c.args.value(QStringLiteral("output"));
  if (!output.isEmpty() && output != QLatin1String("-")) {
    // A CSV file is for a spreadsheet unless a script says otherwise: it starts with the byte
    // order mark, which only the start of a file may carry.
    const bool fresh = QFileInfo(output).size() == 0;
    if (!file.openFile(output, CheckedStream::Start::Append))
      return c.fail(ExitUsage, QStringLiteral("Soubor %1 nelze zapsat: %2.").arg(output, file.failure()));
    fileStream.setDevice(&file);
    fileStream.setGenerateByteOrderMark(fresh && format == QLatin1String("csv") && !c.args.has(QStringLiteral("no-bom")));
  }
  qint64 linesWritten = 0;  // readings, the header not counted
  // The line just written got there, or the watch stops here and says how far it got.
  auto failure = [&]() -> QString {
    if (!file.isOpen()) {
      const QString f = c.outputFailure();
      return f.isEmpty() ? f : QStringLiteral("standardní výstup nelze zapsat: %1; %2 %3 čtení").arg(f, CzechPlural(linesWritten, "zapsáno", "zapsána", "zapsáno"), QString::number(linesWritten));
    }
    if (!file.failed()) return {};
    return QStringLiteral("soubor %1 nelze zapsat: %2; %3 %4 čtení (%5 B)")
        .arg(output, file.failure(), CzechPlural(linesWritten, "zapsáno", "zapsána", "zapsáno"), QString::number(linesWritten),
             QString::number(file.written()));
  };
  auto out = [&]() -> QTextStream& { return file.isOpen() ? (c.settle(), fileStream) : c.out(); };

  if (const int r = c.connect(/*identify=*/!several); r != ExitOk) return r;
  if (!several) addresses = {c.data.ModuleAddress};
  const uint8_t connectedAddress = c.data.ModuleAddress;
  // The unit and scale of ain0 follow the input's range byte. Watch writes nothing, and holds
  // the line so that no other program of ours writes meanwhile; the range changes only by a
  // write to the module's memory, which a module that answers every exchange has not had from
  // us. So the range is read before the first value and again before the next value whenever
  // an exchange of a reading failed (the module went silent or refused: it may have been
  // reconfigured or replaced meanwhile). Until a read of it succeeds, ain0 has no value: a
  // failure line, never a number with a guessed unit. A published description is made anew
  // at the same times, identification included.
  struct Watched {
    uint8_t address = 0;
    std::optional<bool> current;
    QString ident;  // empty: to be asked before the next description
  };
  std::vector<Watched> modules;
  for (uint8_t a : addresses) modules.push_back({a, std::nullopt, several ? QString() : c.data.ModuleIdent});
  const auto readRange = [&c]() -> std::variant<bool, uint32_t> {
    const ExchangeResult range = ReadConfig(c.data.Interface, c.data.DriverHandle, c.data.ModuleAddress, CfgAddr::AinRange);
    if (range.Status != 0) return range.Status;
    return bool(range.Data[3] & 1);
  };
  if (sources.contains(Source::Ain0) && !several) {
    const auto range = readRange();
    if (const uint32_t* status = std::get_if<uint32_t>(&range))
      return c.exchangeFailed(QStringLiteral("Čtení rozsahu vstupu 0 selhalo"), *status);
    modules.front().current = std::get<bool>(range);
  }
  const bool single = sources.size() == 1;
  // Scripts get the plain form unless the locale's is asked for.
  const CsvFormat csvFormat = c.args.has(QStringLiteral("csv-locale")) ? CsvFormat::ForLocale() : CsvFormat::Plain();
  const CsvValues csvValues{sources.contains(Source::Ain0), sources.contains(Source::Din), sources.contains(Source::Status)};
  if (format == QLatin1String("csv")) {
    out() << CsvHeader(csvFormat, csvValues) << '\n';
    out().flush();
    if (const QString f = failure(); !f.isEmpty()) return c.fail(ExitUsage, QStringLiteral("Sledování zastaveno: ") + f + '.');
  }

  int result = ExitOk;
  qint64 i = 0;
  bool cut = false;  // a signal ended the watch before its count
  for (; count == 0 || i < count; ++i) {
    if ((cut = Interrupted(c))) break;
    if (i > 0) {
      Wait(c, int(interval));
      if ((cut = Interrupted(c))) break;
    }
    if (publishing && publisher.refusal(c) != ExitOk) break;
    if (publishing) publisher.followBroker(c);
    qint64 nowMs = 0;
    for (Watched& m : modules) {
      c.data.ModuleAddress = m.address;
      nowMs = QDateTime::currentMSecsSinceEpoch();
      const QString time = ExchangeTimeText(nowMs * 1000000);
      QStringList text, errors;
      CsvReading csv;
      csv.timeMs = nowMs;
      csv.address = m.address;
      csv.rate = c.data.BaudRate;
      QJsonObject json{{QStringLiteral("time"), time}};
      if (several) json.insert(QStringLiteral("address"), m.address);
      QJsonObject jsonErrors;
      MqttPoll poll;
      poll.address = m.address;
      poll.timeMs = nowMs;
      for (Source s : sources) {
        Reading r;
        if (s == Source::Ain0 && !m.current) {
          const auto range = readRange();
          if (const uint32_t* status = std::get_if<uint32_t>(&range)) {
            r.failure = QStringLiteral("rozsah vstupu 0 nepřečten, hodnota nemá jednotku: ") + c.statusText(*status);
            r.published = {MqttSource::Ain0, *status, ClassifyExchangeStatus(*status), r.failure};
          } else {
            m.current = std::get<bool>(range);
          }
        }
        if (r.failure.isEmpty()) r = Read(c, s, m.current.value_or(false));
        poll.sources.append(r.published);
        const QString name = SourceNames[int(s)];
        if (r.csv.ain0) {
          csv.ain0 = r.csv.ain0;
          csv.decimals = r.csv.decimals;
          csv.unit = r.csv.unit;
        }
        if (r.csv.din) csv.din = r.csv.din;
        if (r.csv.status) csv.status = r.csv.status;
        if (!r.failure.isEmpty()) {
          errors << (single ? r.failure : name + QStringLiteral(": ") + r.failure);
          text << (single ? QStringLiteral("chyba: ") : name + QStringLiteral(" chyba: ")) + r.failure;
          jsonErrors.insert(name, r.failure);
          continue;
        }
        text << (single || s != Source::Ain0 ? r.text : name + QLatin1Char('=') + r.text);
        if (single) {
          for (auto it = r.json.begin(); it != r.json.end(); ++it) json.insert(it.key(), it.value());
        } else {
          json.insert(name, r.json);
        }
      }
      if (!errors.isEmpty()) {
        m.current.reset();  // read the range again before the next value
        if (publishing) m.ident.clear();  // and say again who answers there
        result = ExitModule;
        if (single)
          json.insert(QStringLiteral("error"), errors.front());
        else
          json.insert(QStringLiteral("error"), jsonErrors);
      }
      if (publishing) {
        if (errors.isEmpty() && m.ident.isEmpty()) {
          QString ident;
          if (IdentifyModule(c.data.Interface, c.data.DriverHandle, m.address, ident) == 0) m.ident = ident;
        }
        if (!m.ident.isEmpty()) publisher.describe({m.address, c.data.BaudRate, {}, m.ident, m.current});
        publisher.publish(poll);
      }
      QTextStream& stream = out();
      if (format == QLatin1String("json"))
        stream << JsonLine(json) << '\n';
      else if (format == QLatin1String("csv")) {
        csv.error = errors.join(QStringLiteral("; "));
        stream << CsvRow(csvFormat, csvValues, csv) << '\n';
      }
      else
        stream << time << ' ' << (several ? QStringLiteral("adresa %1: ").arg(m.address) : QString())
               << text.join(QStringLiteral("  ")) << '\n';
      stream.flush();
      if (const QString f = failure(); !f.isEmpty()) return c.fail(ExitUsage, QStringLiteral("Sledování zastaveno: ") + f + '.');
      ++linesWritten;
    }
    if (publishing) publisher.tick(c, nowMs);
  }
  c.data.ModuleAddress = connectedAddress;
  bool delivered = true;
  if (publishing) {
    delivered = publisher.finish(c);
    if (const int r = publisher.refusal(c); r != ExitOk) return r;
  }
  if (cut) c.say(QStringLiteral("Sledování přerušeno po %1 %2.").arg(i).arg(CzechPlural(i, "čtení", "čteních", "čteních")));
  if (result != ExitOk) c.say(QStringLiteral("Některá čtení selhala."));
  if (cut) return 128 + c.interruptSignal();
  // Publishing that reached nobody is the watch's failure whatever the module did.
  return delivered ? result : int(ExitNothingDelivered);
}

int CmdDout(CliContext& c) {
  uint32_t mask = 0;
  if (!ParseMask32(c.args.positional.front(), mask))
    return c.fail(ExitUsage, QStringLiteral("Výstupy: maska 0x a nejvýše 8 šestnáctkových číslic, seznam bitů 0-31 "
                                            "(např. 0,3,17) nebo none."));
  if (const int r = c.connect(); r != ExitOk) return r;
  if (c.interrupted())
    return c.stopped(QStringLiteral("Přerušeno signálem %1 před zápisem: výstupy nezměněny.").arg(c.signalName()));
  const ExchangeResult r = ModuleTransact(c.data.Interface, c.data.DriverHandle, c.data.ModuleAddress, Cmd::WriteOutputs,
                                          DigitalIndex, {0, uint8_t(mask), uint8_t(mask >> 8), uint8_t(mask >> 16), uint8_t(mask >> 24)});
  if (r.Status != 0) return c.exchangeFailed(QStringLiteral("Zápis výstupů selhal"), r.Status);
  c.say(QStringLiteral("Výstupy nastaveny: %1").arg(Hex8(mask)));
  return ExitOk;
}

int CmdStatusClear(CliContext& c) {
  if (const int r = c.connect(); r != ExitOk) return r;
  if (c.interrupted())
    return c.stopped(QStringLiteral("Přerušeno signálem %1 před nulováním: Status registr nezměněn.").arg(c.signalName()));
  const ExchangeResult r = ModuleTransact(c.data.Interface, c.data.DriverHandle, c.data.ModuleAddress, Cmd::ClearStatus, 0);
  if (r.Status != 0) return c.exchangeFailed(QStringLiteral("Nulování Status registru selhalo"), r.Status);
  c.say(QStringLiteral("Status registr vynulován."));
  return ExitOk;
}
