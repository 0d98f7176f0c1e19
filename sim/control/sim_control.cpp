#include "sim/control/sim_control.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "sim/sim_server.h"

namespace {

struct Failure {
  std::string text;
};

// The request's arguments, each fetched with its range; a missing or bad one throws Failure
// (caught once, in SimControlExecute), so every command reads as a list of its arguments.
class Args {
 public:
  explicit Args(QJsonObject o) : o_(std::move(o)) {}

  bool has(const char* key) {
    seen_.insert(key);
    return o_.contains(key);
  }
  int64_t integer(const char* key, int64_t low, int64_t high) {
    const QJsonValue v = value(key);
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || d != std::floor(d) || d < double(low) || d > double(high))
      throw Failure{std::string(key) + std::string(" musí být celé číslo ") + std::to_string(low) + std::string("..") + std::to_string(high)};
    return int64_t(d);
  }
  int64_t integer(const char* key, int64_t low, int64_t high, int64_t fallback) {
    return has(key) ? integer(key, low, high) : fallback;
  }
  double number(const char* key, double low, double high) {
    const QJsonValue v = value(key);
    if (!v.isDouble() || !(v.toDouble() >= low && v.toDouble() <= high))
      throw Failure{std::string(key) + " musí být číslo " + Plain(low) + ".." + Plain(high)};
    return v.toDouble();
  }
  bool boolean(const char* key) {
    const QJsonValue v = value(key);
    if (!v.isBool()) throw Failure{std::string(key) + " musí být true nebo false"};
    return v.toBool();
  }
  std::string text(const char* key) {
    const QJsonValue v = value(key);
    if (!v.isString()) throw Failure{std::string(key) + " musí být text"};
    return v.toString().toStdString();
  }
  // A key the command does not know is a mistake worth telling (a typo would else be ignored).
  void noOthers() const {
    for (auto it = o_.begin(); it != o_.end(); ++it)
      if (!seen_.contains(it.key())) throw Failure{"neznámý argument " + it.key().toStdString()};
  }

 private:
  static std::string Plain(double v) { return QString::number(v).toStdString(); }
  QJsonValue value(const char* key) {
    if (!has(key)) throw Failure{std::string("chybí ") + key};
    return o_.value(key);
  }
  QJsonObject o_;
  QSet<QString> seen_{QStringLiteral("cmd")};
};

QJsonArray FaultList(const std::vector<SimFault>& faults) {
  QJsonArray list;
  for (const auto& f : faults) list.append(QString::fromStdString(f.describe()));
  return list;
}

QJsonObject Counters(const SimCounters& c) {
  return {{"seen", double(c.seen)}, {"answered", double(c.answered)}, {"dropped", double(c.dropped)}};
}

double TurnaroundMs(std::chrono::nanoseconds t) { return double(t.count()) / 1e6; }

// The other modules that answer alike with module `index`, for a reply: only where there are
// any, so the replies of a line without them stay as they were.
void PutAlike(QJsonObject& o, const SimBus& bus, int index) {
  QJsonArray alike;
  for (int other : bus.alike(index)) alike.append(other);
  if (!alike.isEmpty()) o["alike"] = alike;
}

QString Hex(const SimModule::Memory& memory) {
  QStringList bytes;
  for (uint8_t b : memory) bytes << QStringLiteral("%1").arg(b, 2, 16, QChar('0')).toUpper();
  return bytes.join(' ');
}

int BaudCodeOf(int64_t rate) {
  for (uint8_t code = 0; code <= 8; ++code)
    if (SimModule::BaudCodeRate(code) == rate) return code;
  return -1;
}

uint32_t StatusBit(const std::string& name) {
  static const std::map<std::string, uint32_t> bits = {{"FN", SimModule::StatusFN},
                                                       {"PRF", SimModule::StatusPRF},
                                                       {"PWR", SimModule::StatusPWR},
                                                       {"RST", SimModule::StatusRST},
                                                       {"ERR24", SimModule::StatusERR24}};
  const auto it = bits.find(name);
  if (it == bits.end()) throw Failure{"bit musí být FN, PRF, PWR, RST nebo ERR24"};
  return it->second;
}

// The module a request names, checked against the line under the lock.
int ModuleIndex(Args& a, const SimBus& bus) { return int(a.integer("module", 0, bus.size() - 1)); }

SimFault ParseFault(Args& a) {
  SimFault f;
  const auto kind = SimFault::KindFromName(a.text("kind"));
  if (!kind) throw Failure{"kind musí být silent, delay, malformed, refuse, powerloss nebo collision"};
  f.kind = *kind;
  if (f.kind != SimFault::PowerLoss) {
    f.command = int(a.integer("command", 0, 255, -1));
    f.count = int(a.integer("count", 1, 1000000, 0));
  }
  switch (f.kind) {
    case SimFault::Delay: f.delayMs = int(a.integer("ms", 1, 60000)); break;
    case SimFault::Malformed: {
      const auto form = SimFault::FormFromName(a.has("form") ? a.text("form") : "length");
      if (!form) throw Failure{"form musí být length, sequence, address, bits nebo value"};
      f.form = *form;
      break;
    }
    case SimFault::Refuse: f.status = uint8_t(a.integer("status", 20, 23)); break;
    case SimFault::PowerLoss:
      f.afterWrites = int(a.integer("after", 1, 1000000));
      f.keepWrite = a.has("keep") && a.boolean("keep");
      break;
    default: break;
  }
  return f;
}

using Command = std::function<QJsonObject(SimServer&, Args&)>;

QJsonObject Ok() { return {{"ok", true}}; }

// Runs f on the module the request names; the arguments are all read before anything changes.
template <class F>
QJsonObject OnModule(SimServer& server, Args& a, F&& f) {
  return server.withBus([&](SimBus& bus) {
    const int index = ModuleIndex(a, bus);
    return f(bus, index);
  });
}

// A command that reads its arguments, then changes the module the request names.
template <class Read, class Apply>
Command Change(Read read, Apply apply) {
  return [=](SimServer& server, Args& a) {
    const auto value = read(a);
    return OnModule(server, a, [&](SimBus& bus, int i) {
      a.noOthers();
      apply(bus.module(i), value);
      return Ok();
    });
  };
}

// A command on the module the request names, or on the whole line (SimBus::Line) when it
// names none.
template <class Read, class Apply>
Command OnTarget(Read read, Apply apply) {
  return [=](SimServer& server, Args& a) {
    const auto value = read(a);
    const bool line = !a.has("module");
    return server.withBus([&](SimBus& bus) {
      const int target = line ? SimBus::Line : ModuleIndex(a, bus);
      a.noOthers();
      apply(bus, target, value);
      return Ok();
    });
  };
}

// Switching the power is where a module's memory must be safe: stored at once, not at the end
// of the interval.
Command StoredAfter(Command command) {
  return [=](SimServer& server, Args& a) {
    QJsonObject reply = command(server, a);
    server.storeNow();
    return reply;
  };
}

const std::map<std::string, Command>& Commands() {
  static const std::map<std::string, Command> commands = {
      {"list",
       [](SimServer& server, Args& a) {
         a.noOthers();
         const SimBus bus = server.busSnapshot();
         QJsonArray modules;
         for (int i = 0; i < bus.size(); ++i) {
           const SimModule& m = bus.module(i);
           QJsonObject o{{"module", i},
                         {"address", m.busAddress()},
                         {"baud", m.baudRate()},
                         {"ident", QStringLiteral("%1 v.%2").arg(SimModule::Name, SimModule::FirmwareVersion)},
                         {"powered", m.powered()},
                         {"turnaround_ms", TurnaroundMs(bus.entry(i).turnaround)},
                         {"faults", FaultList(bus.faults(i))}};
           PutAlike(o, bus, i);
           modules.append(o);
         }
         QJsonObject r = Ok();
         r["modules"] = modules;
         r["line_faults"] = FaultList(bus.faults(SimBus::Line));
         r["wire"] = server.wire() == simline::Wire::Paced ? "paced" : "instant";
         return r;
       }},
      {"add",
       [](SimServer& server, Args& a) {
         const int64_t address = a.integer("address", 0, 255);
         const int code = BaudCodeOf(a.integer("baud", 600, 115200, 9600));
         a.noOthers();
         if (code < 0) throw Failure{"baud musí být 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600 nebo 115200"};
         return server.withBus([&](SimBus& bus) {
           std::string why;
           if (!bus.add(uint8_t(address), uint8_t(code), &why)) throw Failure{why};
           QJsonObject r = Ok();
           r["module"] = bus.size() - 1;
           PutAlike(r, bus, bus.size() - 1);
           return r;
         });
       }},
      {"remove",
       [](SimServer& server, Args& a) {
         return OnModule(server, a, [&](SimBus& bus, int i) {
           a.noOthers();
           std::string why;
           if (!bus.remove(i, &why)) throw Failure{why};
           return Ok();
         });
       }},
      {"voltage", Change([](Args& a) { return a.number("volts", -12.5, 12.5); },
                         [](SimModule& m, double v) { m.setSourceVoltage(v); })},
      {"current", Change([](Args& a) { return a.number("milliamps", -25.0, 25.0); },
                         [](SimModule& m, double v) { m.setSourceCurrent(v); })},
      {"short", Change([](Args& a) { return a.boolean("on"); }, [](SimModule& m, bool on) { m.setShortCircuit(on); })},
      {"input", Change([](Args& a) { return std::make_pair(int(a.integer("input", 0, 31)), a.boolean("on")); },
                       [](SimModule& m, std::pair<int, bool> v) {
                         const uint32_t bit = 1u << v.first;
                         m.setInputSwitches(v.second ? m.inputSwitches() | bit : m.inputSwitches() & ~bit);
                       })},
      {"inputs", Change([](Args& a) { return uint32_t(a.integer("value", 0, 0xFFFFFFFFLL)); },
                        [](SimModule& m, uint32_t v) { m.setInputSwitches(v); })},
      {"status", Change([](Args& a) { return StatusBit(a.text("bit")); },
                        [](SimModule& m, uint32_t bit) { m.raiseStatusBits(bit); })},
      {"read",
       [](SimServer& server, Args& a) {
         return OnModule(server, a, [&](SimBus& bus, int i) {
           a.noOthers();
           const SimModule& m = bus.module(i);
           QJsonObject r = Ok();
           r["outputs"] = double(m.physicalOutputs());
           r["status"] = double(m.statusRegister());
           r["inputs"] = double(m.digitalInputs());
           r["powered"] = m.powered();
           r["memory"] = Hex(m.memory());
           return r;
         });
       }},
      // The module's processing time before it answers; a slow module is the delay fault.
      {"turnaround",
       [](SimServer& server, Args& a) {
         const double ms = a.number("ms", 0, simline::MaxTurnaroundMs);
         return OnModule(server, a, [&](SimBus& bus, int i) {
           a.noOthers();
           bus.setTurnaround(i, std::chrono::nanoseconds(std::llround(ms * 1e6)));
           return Ok();
         });
       }},
      {"power", StoredAfter(Change([](Args& a) { return a.boolean("on"); }, [](SimModule& m, bool on) { m.setPowered(on); }))},
      {"cycle", StoredAfter(OnTarget([](Args&) { return 0; }, [](SimBus& bus, int t, int) {
         t == SimBus::Line ? bus.powerCycleAll() : bus.module(t).powerCycle();
       }))},
      {"fault", OnTarget(ParseFault, [](SimBus& bus, int t, const SimFault& f) { bus.arm(t, f); })},
      {"clear", OnTarget([](Args&) { return 0; },
                         [](SimBus& bus, int t, int) { t == SimBus::Line ? bus.clearAllFaults() : bus.clearFaults(t); })},
      // Streaming is the listener's (SimTrafficStreams); here only the arguments are checked.
      {"traffic",
       [](SimServer&, Args& a) {
         a.noOthers();
         return Ok();
       }},
      {"counters",
       [](SimServer& server, Args& a) {
         const bool reset = a.has("reset") && a.boolean("reset");
         a.noOthers();
         return server.withBus([&](SimBus& bus) {
           QJsonArray modules;
           for (int i = 0; i < bus.size(); ++i) {
             QJsonObject c = Counters(bus.entry(i).counters);
             c["module"] = i;
             modules.append(c);
           }
           QJsonObject r = Ok();
           r["line"] = Counters(bus.lineCounters());
           r["unreadable"] = double(server.malformedCount());
           r["modules"] = modules;
           if (reset) bus.resetCounters();
           return r;
         });
       }},
  };
  return commands;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); }

// The first key that an object of this JSON text holds twice, if any, at any depth. QJsonDocument
// keeps the last of a repeated key without a word ({"cmd":"list","cmd":"cycle"} would run
// cycle), so the text is read here for them. Keys are compared as JSON means them, escapes
// decoded ("cmd" and "c\u006dd" are one key). The text has already parsed as JSON.
std::optional<QString> RepeatedKey(const std::string& text) {
  struct Level {
    bool object = false;
    bool expectKey = false;  // in an object, the next string is a key
    QSet<QString> keys;
  };
  std::vector<Level> levels;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '{' || c == '[') {
      levels.push_back({c == '{', c == '{', {}});
    } else if (c == '}' || c == ']') {
      if (!levels.empty()) levels.pop_back();
    } else if (c == ',') {
      if (!levels.empty() && levels.back().object) levels.back().expectKey = true;
    } else if (c == '"') {
      QString decoded;
      QByteArray run;  // raw UTF-8 since the last escape
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
          run += text[i];
          continue;
        }
        decoded += QString::fromUtf8(run);
        run.clear();
        if (++i >= text.size()) break;
        switch (text[i]) {
          case 'b': decoded += QChar('\b'); break;
          case 'f': decoded += QChar('\f'); break;
          case 'n': decoded += QChar('\n'); break;
          case 'r': decoded += QChar('\r'); break;
          case 't': decoded += QChar('\t'); break;
          case 'u':
            decoded += QChar(char16_t(QByteArray::fromStdString(text.substr(i + 1, 4)).toUShort(nullptr, 16)));
            i += 4;
            break;
          default: decoded += QChar(uchar(text[i])); break;  // \" \\ \/
        }
      }
      decoded += QString::fromUtf8(run);
      if (!levels.empty() && levels.back().expectKey) {
        if (levels.back().keys.contains(decoded)) return decoded;
        levels.back().keys.insert(decoded);
        levels.back().expectKey = false;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::string SimControlExecute(SimServer& server, const std::string& line) {
  QJsonParseError parseError{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &parseError);
  try {
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
      throw Failure{"požadavek je jeden objekt JSON na jednom řádku"};
    if (const auto key = RepeatedKey(line))
      throw Failure{"klíč " + key->toStdString() + " se v požadavku opakuje; každý smí být uveden jen jednou"};
    const QJsonObject request = doc.object();
    const QJsonValue cmd = request.value("cmd");
    if (!cmd.isString()) throw Failure{"chybí cmd"};
    const auto it = Commands().find(cmd.toString().toStdString());
    if (it == Commands().end()) throw Failure{"neznámý příkaz " + cmd.toString().toStdString()};
    Args args(request);
    return Compact(it->second(server, args));
  } catch (const Failure& f) {
    return Compact({{"ok", false}, {"error", QString::fromStdString(f.text)}});
  }
}

bool SimControlLineFromArgs(const std::vector<std::string>& args, std::string* line, std::string* error) {
  if (args.empty()) {
    SetError(error, "chybí příkaz");
    return false;
  }
  if (args.size() == 1 && !args[0].empty() && args[0][0] == '{') {
    *line = args[0];
    return true;
  }
  QJsonObject o{{"cmd", QString::fromStdString(args[0])}};
  for (size_t i = 1; i < args.size(); ++i) {
    const auto eq = args[i].find('=');
    if (eq == std::string::npos || eq == 0) {
      SetError(error, "očekává se klíč=hodnota, ne " + args[i]);
      return false;
    }
    const QString key = QString::fromStdString(args[i].substr(0, eq));
    if (o.contains(key)) {
      SetError(error, key == QLatin1String("cmd") ? std::string("příkaz je první slovo, ne cmd=…")
                                                  : "klíč " + key.toStdString() + " je uveden dvakrát");
      return false;
    }
    const QByteArray value = QByteArray::fromStdString(args[i].substr(eq + 1));
    // A JSON literal (number, true, false) where the value is one, else the text itself.
    const QJsonDocument literal = QJsonDocument::fromJson("[" + value + "]");
    const QJsonValue v = literal.isArray() && literal.array().size() == 1 ? literal.array().at(0) : QJsonValue(QString::fromUtf8(value));
    o.insert(key, v);
  }
  *line = Compact(o);
  return true;
}
