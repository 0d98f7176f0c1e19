#include "base/wire/port_map.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "base/files/file_read.h"
#include "base/text/plain_text.h"

namespace portmap {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return out;
}

bool ValidPortName(const std::string& name) {
  if (name == UsbPortName) return true;
  if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0') return false;
  unsigned n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    n = n * 10 + unsigned(name[i] - '0');
  }
  return n >= 1 && n <= 255;
}

// A file written on Windows ends its lines with CR LF.
bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && Blank(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !Blank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// One option word into `port`; the error kind when it is no option or no value of it.
ParseError::Kind ApplyOption(std::string_view word, PortOptions& port) {
  const size_t eq = word.find('=');
  if (eq == std::string_view::npos) return ParseError::UnknownOption;
  const std::string key = Upper(word.substr(0, eq));
  const std::string value = Upper(word.substr(eq + 1));
  auto flag = [&](bool& target) {
    if (value != "0" && value != "1") return ParseError::BadValue;
    target = value == "1";
    return ParseError::None;
  };
  if (key == "ECHO") return flag(port.echo);
  if (key == "LATENCY-WARNING") return flag(port.latencyWarning);
  if (key == "RS485") {
    if (value == "AUTO") port.rs485 = Rs485::Auto;
    else if (value == "OFF") port.rs485 = Rs485::Off;
    else return ParseError::BadValue;
    return ParseError::None;
  }
  return ParseError::UnknownOption;
}

PortMap Failed(ParseError::Kind kind, int line, std::string_view token) {
  PortMap map;
  map.error = {kind, line, std::string(token), {}};
  return map;
}

}  // namespace

PortMap Parse(std::string_view text) {
  PortMap map;
  int number = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    // The whole line, its comment too: nothing of the file is passed over unseen.
    if (std::string what; FindUnsafeText(line.substr(0, line.size() - (line.ends_with('\r') ? 1 : 0)), what)) {
      PortMap bad = Failed(ParseError::BadCharacter, number, line);
      bad.error.reason = what;
      return bad;
    }
    line = line.substr(0, line.find('#'));
    const auto words = Words(line);
    if (words.empty()) continue;
    const size_t eq = words[0].find('=');
    if (eq == std::string_view::npos) return Failed(ParseError::NoEquals, number, words[0]);
    const std::string name = Upper(words[0].substr(0, eq));
    if (!ValidPortName(name)) return Failed(ParseError::UnknownPort, number, words[0].substr(0, eq));
    if (map.ports.count(name)) return Failed(ParseError::DuplicatePort, number, words[0].substr(0, eq));
    PortOptions port;
    port.device = std::string(words[0].substr(eq + 1));
    if (port.device.empty()) return Failed(ParseError::NoDevice, number, words[0]);
    if (port.device[0] != '/') return Failed(ParseError::RelativeDevice, number, port.device);
    for (size_t i = 1; i < words.size(); ++i)
      if (const auto kind = ApplyOption(words[i], port); kind != ParseError::None)
        return Failed(kind, number, words[i]);
    map.ports.emplace(name, std::move(port));
  }
  return map;
}

PortMap Load(const std::string& path) {
  std::string text, reason;
  switch (ReadWholeFile(path, MaxFileBytes, text, reason)) {
    case FileReadResult::Missing: return {};
    case FileReadResult::Refused: {
      PortMap map = Failed(ParseError::Unreadable, 0, path);
      map.error.reason = reason;
      return map;
    }
    case FileReadResult::Read: break;
  }
  return Parse(text);
}

std::string DefaultPath() {
  std::string config;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // Taken as Qt 6.4 takes it for W_qx510.ini, a relative one included, so that the tool and
  // the drivers look in the same folder.
  if (xdg && xdg[0] != 0) {
    config = xdg;
  } else {
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
      home = h;
    } else {
      passwd entry{}, *found = nullptr;
      char buffer[4096];
      if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        home = found->pw_dir;
    }
    if (home.empty()) return {};
    config = home + "/.config";
  }
  return config + "/qx510/" + FileName;
}

std::string SerialPortName(uint32_t comPort) { return "COM" + std::to_string(comPort); }

std::optional<PortOptions> Find(const PortMap& map, std::string_view portName) {
  const auto it = map.ports.find(Upper(portName));
  if (it == map.ports.end()) return std::nullopt;
  return it->second;
}

std::string Describe(const ParseError& error) {
  const std::string token = "„" + ShownText(error.token) + "“";
  switch (error.kind) {
    case ParseError::None: return {};
    case ParseError::NoEquals: return "chybí PORT=ZAŘÍZENÍ: " + token;
    case ParseError::UnknownPort: return "neznámý port " + token;
    case ParseError::DuplicatePort: return "port " + token + " uveden podruhé";
    case ParseError::NoDevice: return "chybí zařízení: " + token;
    case ParseError::RelativeDevice: return "zařízení není absolutní cesta: " + token;
    case ParseError::UnknownOption: return "neznámá volba " + token;
    case ParseError::BadValue: return "neplatná hodnota " + token;
    case ParseError::BadCharacter: return "nedovolený znak " + error.reason + ": " + token;
    case ParseError::Unreadable: return "soubor " + ShownText(error.token, 4096) + " nelze přečíst: " + error.reason;
  }
  return {};
}

}  // namespace portmap
