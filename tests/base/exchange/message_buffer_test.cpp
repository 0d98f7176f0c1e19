// Texts crossing the driver interface: Windows-1250, one character per slot.
#include <gtest/gtest.h>

#include <QStringDecoder>
#include <QStringEncoder>
#include <thread>
#include <vector>

#include "base/text/codepage.h"
#include "base/exchange/driver_loader.h"

namespace {

const QString Czech = QStringLiteral("Příliš žluťoučký kůň úpěl ďábelské ódy ŘŠČŽÝÁÍÉŮÚĎŤŇ");

TEST(MessageBuffer, RoundTrips) {
  const QString ninetyNine = QString(Czech).repeated(3).left(99);
  const QString oneFifty = QString(Czech).repeated(3).left(150);
  const struct {
    QString in, out;
  } table[] = {
      {"", ""},
      {"a", "a"},
      {Czech, Czech},
      {ninetyNine, ninetyNine},
      {ninetyNine + "x", ninetyNine},
      {oneFifty, oneFifty.left(99)},
  };
  for (const auto& row : table) {
    MessageBuffer buffer;
    buffer.fill(0xFFFFFFFF);
    EXPECT_EQ(StringToMessageBuffer(row.in, &buffer), 0u);
    EXPECT_EQ(buffer[0], 0u) << "slot 0 stays empty";
    for (size_t i = size_t(row.out.size()) + 1; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0u) << i;
    EXPECT_EQ(MessageBufferToString(buffer), row.out) << row.in.toStdString();
  }
}

TEST(MessageBuffer, SlotsHoldWindows1250Codes) {
  MessageBuffer buffer{};
  StringToMessageBuffer(QStringLiteral("čŘš€"), &buffer);
  EXPECT_EQ(buffer[1], 0xE8u);
  EXPECT_EQ(buffer[2], 0xD8u);
  EXPECT_EQ(buffer[3], 0x9Au);
  EXPECT_EQ(buffer[4], 0x80u);
  EXPECT_EQ(buffer[5], 0u);
}

MessageBuffer Slots(std::initializer_list<std::pair<size_t, uint32_t>> set) {
  MessageBuffer b{};
  for (const auto& [i, v] : set) b[i] = v;
  return b;
}

TEST(MessageBuffer, ReadingRules) {
  MessageBuffer full;
  full.fill('z');
  const struct {
    const char* what;
    MessageBuffer buffer;
    QString text;
  } table[] = {
      {"empty", MessageBuffer{}, ""},
      {"from slot 1", Slots({{1, 'a'}, {2, 'b'}, {3, 'c'}, {5, 'x'}}), "abc"},
      {"from slot 0", Slots({{0, 'A'}, {1, 'B'}, {2, 'C'}}), "ABC"},
      {"slot 0 alone", Slots({{0, 'A'}, {2, 'B'}}), "A"},
      {"only low bytes", Slots({{1, 0x12340000u | 0xE8}, {2, 0xFFFFFF00u | 'x'}}), QStringLiteral("čx")},
      {"all 100 slots", full, QString(100, 'z')},
  };
  for (const auto& row : table) EXPECT_EQ(MessageBufferToString(row.buffer), row.text) << row.what;
}

// The converters are kept between calls: what one text leaves unfinished (half a surrogate
// pair, a byte with no character) must not reach the next, on whichever thread it runs.
TEST(Codepage, EachConversionStartsClean) {
  // A converter that kept the dangling high surrogate would put a replacement before the "a".
  const QString texts[] = {QStringLiteral("č") + QChar(0xD83D), "a", Czech, QString(QChar(0xDC00)), "x"};
  const QByteArray bytes[] = {QByteArray("\x98\xE8", 2), QByteArray("\x81"), "abc", ToCp1250(Czech)};
  struct Results {
    std::vector<QByteArray> encoded;
    std::vector<QString> decoded;
    bool operator==(const Results&) const = default;
  };
  const auto convert = [&] {
    Results r;
    for (const QString& t : texts) r.encoded.push_back(ToCp1250(t));
    for (const QByteArray& b : bytes) r.decoded.push_back(FromCp1250(b));
    return r;
  };
  Results fresh;
  for (const QString& t : texts) fresh.encoded.push_back(QStringEncoder("windows-1250").encode(t));
  for (const QByteArray& b : bytes) fresh.decoded.push_back(QStringDecoder("windows-1250").decode(b));

  EXPECT_TRUE(convert() == fresh);
  EXPECT_TRUE(convert() == fresh) << "a second round on the same converters";
  Results other;
  std::thread([&] { other = convert(); }).join();
  EXPECT_TRUE(other == fresh) << "on another thread";
}

}  // namespace
