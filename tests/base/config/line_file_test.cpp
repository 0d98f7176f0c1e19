// The line file: a round trip, and everything its writer would not write refused with its line.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>

#include "base/files/sealed_text.h"
#include "base/config/line_file.h"
#include "tests/support/file_faults.h"

namespace {

TEST(LineFile, RoundTripAndDamageRefused) {
  LineFile line;
  line.saved = QDateTime(QDate(2026, 3, 1), QTime(8, 30), Qt::UTC);
  LineModule a;
  a.address = 5;
  a.baudCode = 7;
  a.ident = QStringLiteral("QX-510   v.1.20");
  LineModule b;
  b.address = 255;
  b.baudCode = 0;
  b.late = true;
  line.modules = {a, b};
  const QByteArray text = FormatLineFile(line);
  // The seal is a SHA-256 of everything before it, as files already saved carry it.
  const qsizetype seal = text.lastIndexOf("sha256=");
  EXPECT_EQ(text.mid(seal), "sha256=" + QCryptographicHash::hash(text.left(seal), QCryptographicHash::Sha256).toHex() + '\n');
  LineFile back;
  QString error;
  ASSERT_TRUE(ParseLineFile(text, back, error)) << error.toStdString();
  ASSERT_EQ(back.modules.size(), 2);
  EXPECT_EQ(back.modules[0].address, 5);
  EXPECT_EQ(back.modules[0].baudCode, 7);
  EXPECT_EQ(back.modules[0].ident, a.ident);
  EXPECT_EQ(back.modules[1].address, 255);
  EXPECT_TRUE(back.modules[1].late);
  EXPECT_EQ(back.saved, line.saved);

  QByteArray flipped = text;
  flipped[flipped.indexOf("address=5") + 8] = '6';
  for (const QByteArray& bad : {text.left(text.size() - 20), flipped, QByteArray("nonsense\n"), QByteArray()}) {
    LineFile untouched = line;
    EXPECT_FALSE(ParseLineFile(bad, untouched, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(untouched.modules.size(), 2);
  }
}

// The body of a line file as FormatLineFile writes it, without its seal, so that a case can
// change it and seal it again as a hand-made file would be.
QByteArray Body(const LineFile& line) {
  const QByteArray text = FormatLineFile(line);
  return text.left(text.lastIndexOf("sha256="));
}

// The 1-based number of the line of `text` that starts with `start`, counting from `from`.
int LineOf(const QByteArray& text, const QByteArray& start, int from = 1) {
  const QByteArrayList lines = text.split('\n');
  for (int i = from - 1; i < lines.size(); ++i)
    if (lines[i].startsWith(start)) return i + 1;
  return -1;
}

// Hostile line files: each refused whole, with its line number, and nothing loaded.
TEST(LineFile, AnythingFormatLineFileWouldNotWriteIsRefusedWithItsLine) {
  LineFile good;
  good.saved = QDateTime(QDate(2026, 3, 1), QTime(8, 30), Qt::UTC);
  LineModule a;
  a.address = 5;
  a.baudCode = 7;
  a.ident = QStringLiteral("QX-510   v.1.20");
  LineModule b = a;
  b.address = 6;
  good.modules = {a, b};
  ConfigImage image;
  for (std::size_t k = 0; k < image.bytes.size(); ++k) image.bytes[k] = uint8_t(k * 3);
  good.images.insert(ModuleKey(a), image);
  good.images.insert(ModuleKey(b), image);
  const QByteArray body = Body(good);
  const QByteArray hex = QByteArray(reinterpret_cast<const char*>(image.bytes.data()), 64).toHex();
  const int firstImage = LineOf(body, "image=");

  // Two sections for one module: the second one's line, naming the first's.
  LineFile twice = good;
  twice.modules = {a, b, a};
  const QByteArray duplicate = Body(twice);
  const int secondA = LineOf(duplicate, "[module]", LineOf(duplicate, "address=6"));

  QByteArray many = Body(LineFile{good.saved, {}, {}});
  for (int k = 0; k < 257; ++k)
    many += "[module]\naddress=" + QByteArray::number(k % 256) + "\nrate=" + QByteArray::number(k < 256 ? 9600 : 19200) +
            "\nident=QX-510   v.1.20\nlate=0\n";
  const int section257 = LineOf(many, "[module]", LineOf(many, "address=255") + 1);

  QByteArray noRate = body;
  noRate.replace("rate=57600\n", "");  // both sections lose it; the first is refused
  QByteArray emptySection = body;
  emptySection.insert(body.indexOf("[module]"), "[module]\n");

  const struct {
    const char* name;
    QByteArray body;
    int line;
    const char* why;
  } cases[] = {
      {"a second section for the same address and rate", duplicate, secondA,
       "modul s adresou 5 a rychlostí 57600 Bd už má sekci na řádku 4"},
      {"a non-hex character in the image", QByteArray(body).replace(hex, "zz" + hex.mid(2)), firstImage,
       "jen šestnáctkové číslice"},
      {"a space in the image", QByteArray(body).replace(hex, hex.left(60) + ' ' + hex.mid(61)), firstImage,
       "jen šestnáctkové číslice"},
      {"a short image", QByteArray(body).replace(hex, hex.left(126)), firstImage, "právě 128 šestnáctkových číslic (64 bajtů), má 126"},
      {"a long image", QByteArray(body).replace(hex, hex + "00"), firstImage, "má 130"},
      {"an empty section", emptySection, LineOf(emptySection, "[module]"), "chybí address, rate, ident, late"},
      {"a section without its rate", noRate, LineOf(noRate, "[module]"), "chybí rate"},
      {"257 sections", many, section257, "víc než 256 modulů"},
      {"a key twice in a section", QByteArray(body).replace("late=0\n", "late=0\nlate=1\n"), LineOf(body, "late=") + 1,
       "klíč late je v sekci [module] dvakrát"},
      {"an address out of range", QByteArray(body).replace("address=5\n", "address=256\n"), LineOf(body, "address=5"),
       "adresa musí být číslo 0-255"},
      {"an address with a sign", QByteArray(body).replace("address=5\n", "address=+5\n"), LineOf(body, "address=5"),
       "adresa musí být číslo 0-255"},
      {"a rate the module does not have", QByteArray(body).replace("rate=57600\n", "rate=14400\n"), LineOf(body, "rate="),
       "rychlost musí být jedna z: 600, 1200"},
      {"an unknown key", QByteArray(body).replace("late=0\n", "late=0\ncolor=red\n"), LineOf(body, "late=") + 1,
       "neznámý klíč color"},
      {"a line that is no key", QByteArray(body).replace("late=0\n", "late=0\nhello\n"), LineOf(body, "late=") + 1,
       "řádek není ani klíč=hodnota"},
      {"a missing module with an image after it", QByteArray(body).replace("late=0\n", "late=0\nmissing=1\n"),
       firstImage + 1, "nemá obraz konfigurace"},
      {"a missing module with an image before it", QByteArray(body).replace("image=" + hex + "\n", "image=" + hex + "\nmissing=1\n"),
       firstImage + 1, "nemůže chybět"},
      {"missing other than 1", QByteArray(body).replace("late=0\n", "late=0\nmissing=0\n"), LineOf(body, "late=") + 1,
       "missing smí být jen 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GT(c.line, 0);
    LineFile loaded = good;  // what a caller held before: it stays
    QString error;
    EXPECT_FALSE(ParseLineFile(SealText(c.body), loaded, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Soubor linky, řádek %1: ").arg(c.line))) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromUtf8(c.why))) << error.toStdString();
    EXPECT_EQ(loaded.modules.size(), 2);
    EXPECT_EQ(loaded.images.size(), 2);
  }

  // What FormatLineFile writes loads, 256 modules included.
  LineFile full;
  full.saved = good.saved;
  for (int k = 0; k < 256; ++k) {
    LineModule m;
    m.address = uint8_t(k);
    m.baudCode = k % 9;
    full.modules.append(m);
    full.images.insert(ModuleKey(m), image);
  }
  LineFile loaded;
  QString error;
  ASSERT_TRUE(ParseLineFile(FormatLineFile(full), loaded, error)) << error.toStdString();
  EXPECT_EQ(loaded.modules.size(), 256);
  EXPECT_EQ(loaded.images.size(), 256);
  ASSERT_TRUE(ParseLineFile(FormatLineFile(good), loaded, error)) << error.toStdString();
  ASSERT_NE(loaded.image(loaded.modules[1]), nullptr);
  EXPECT_EQ(loaded.image(loaded.modules[1])->bytes, image.bytes);
  // A backup that could not read a module lists it, and that loads back as missing.
  LineFile partial = good;
  partial.images.remove(ModuleKey(b));
  partial.missing.insert(ModuleKey(b));
  ASSERT_TRUE(ParseLineFile(FormatLineFile(partial), loaded, error)) << error.toStdString();
  EXPECT_EQ(loaded.modules.size(), 2);
  EXPECT_EQ(loaded.image(b), nullptr);
  EXPECT_TRUE(loaded.isMissing(b));
  EXPECT_FALSE(loaded.isMissing(a));
}

}  // namespace
