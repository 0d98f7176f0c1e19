// The user's serial port mapping: what a hand-written file may hold, and the first mistake in
// one named by its line.
#include <gtest/gtest.h>

#include <QByteArray>
#include <string>
#include <string_view>

#include "base/wire/port_map.h"
#include "base/settings/settings.h"

namespace {

using portmap::ParseError;

TEST(PortMap, ReadsPortsWithTheirOptions) {
  const auto map = portmap::Parse(
      "# the bench\r\n"
      "\r\n"
      "  com1=/dev/ttyUSB0   echo=1 # a 2-wire adapter\r\n"
      "Usb=/dev/serial/by-id/usb-X-if00-port0\trs485=off latency-warning=0 ECHO=0\n"
      "COM255=/dev/ttyS0");
  ASSERT_TRUE(map.ok()) << portmap::Describe(map.error);
  const auto com1 = portmap::Find(map, "COM1");
  ASSERT_TRUE(com1);
  EXPECT_EQ(com1->device, "/dev/ttyUSB0");
  EXPECT_TRUE(com1->echo);
  EXPECT_EQ(com1->rs485, portmap::Rs485::Auto);
  EXPECT_TRUE(com1->latencyWarning);
  const auto usb = portmap::Find(map, portmap::UsbPortName);
  ASSERT_TRUE(usb);
  EXPECT_EQ(usb->device, "/dev/serial/by-id/usb-X-if00-port0");
  EXPECT_FALSE(usb->echo);
  EXPECT_EQ(usb->rs485, portmap::Rs485::Off);
  EXPECT_FALSE(usb->latencyWarning);
  EXPECT_TRUE(portmap::Find(map, portmap::SerialPortName(255)));
  EXPECT_FALSE(portmap::Find(map, "COM2"));
}

TEST(PortMap, NamesTheFirstMistakeByItsLine) {
  using namespace std::literals;
  const struct {
    std::string_view text;
    ParseError::Kind kind;
    int line;
    std::string_view token;
  } cases[] = {
      {"COM1 /dev/ttyS0", ParseError::NoEquals, 1, "COM1"},
      {"# x\nCOM0=/dev/ttyS0", ParseError::UnknownPort, 2, "COM0"},
      {"COM256=/dev/ttyS0", ParseError::UnknownPort, 1, "COM256"},
      {"COM01=/dev/ttyS0", ParseError::UnknownPort, 1, "COM01"},
      {"LPT1=/dev/lp0", ParseError::UnknownPort, 1, "LPT1"},
      {"COM1=/dev/ttyS0\ncom1=/dev/ttyS1", ParseError::DuplicatePort, 2, "com1"},
      {"COM1=", ParseError::NoDevice, 1, "COM1="},
      {"COM1=ttyS0", ParseError::RelativeDevice, 1, "ttyS0"},
      {"COM1=/dev/ttyS0 echo", ParseError::UnknownOption, 1, "echo"},
      {"COM1=/dev/ttyS0 parity=even", ParseError::UnknownOption, 1, "parity=even"},
      {"COM1=/dev/ttyS0 echo=yes", ParseError::BadValue, 1, "echo=yes"},
      {"COM1=/dev/ttyS0 rs485=on", ParseError::BadValue, 1, "rs485=on"},
      // A NUL would cut the device's name where the system reads it: another device opened.
      {"COM1=/dev/ttyUSB0\0X echo=1"sv, ParseError::BadCharacter, 1, "COM1=/dev/ttyUSB0\0X echo=1"sv},
      {"# x\nCOM1=/dev/tty\xE2\x80\xAEUSB0"sv, ParseError::BadCharacter, 2, "COM1=/dev/tty\xE2\x80\xAEUSB0"sv},
      {"COM1=/dev/ttyS0 # \x1b[2J"sv, ParseError::BadCharacter, 1, "COM1=/dev/ttyS0 # \x1b[2J"sv},
      {"COM1=/dev/tty\xFFS0"sv, ParseError::BadCharacter, 1, "COM1=/dev/tty\xFFS0"sv},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const auto map = portmap::Parse(c.text);
    EXPECT_EQ(map.error.kind, c.kind);
    EXPECT_EQ(map.error.line, c.line);
    EXPECT_EQ(map.error.token, c.token);
    EXPECT_TRUE(map.ports.empty());
    // What the file held reaches the terminal escaped, never as it was.
    const std::string said = portmap::Describe(map.error);
    for (const std::string_view raw : {"\0"sv, "\x1b"sv, "\xE2\x80\xAE"sv, "\xFF"sv})
      EXPECT_EQ(said.find(raw), std::string::npos) << said;
  }
}

TEST(PortMap, LivesInTheFolderOfTheToolsSettings) {
  // The drivers find the folder without Qt; they must find the one the tool uses.
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  for (const char* config : {"/x/conf", "relative/conf", ""}) {
    SCOPED_TRACE(config);
    qputenv("XDG_CONFIG_HOME", config);
    EXPECT_EQ(portmap::DefaultPath(), (UserSettingsDirectory() + QLatin1String("/serial-ports")).toStdString());
  }
  if (saved.isNull()) qunsetenv("XDG_CONFIG_HOME");
  else qputenv("XDG_CONFIG_HOME", saved);
}

}  // namespace
