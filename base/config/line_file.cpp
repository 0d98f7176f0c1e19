#include "base/config/line_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>
#include <optional>

#include "base/text/baud.h"
#include "base/files/checked_file.h"
#include "base/files/sealed_text.h"
#include "base/settings/settings.h"

namespace {

constexpr char Magic[] = "format=qx510-line 1";

}  // namespace

QByteArray FormatLineFile(const LineFile& line) {
  QByteArray body;
  body += QByteArray("# QX-510 linka\n") + Magic + '\n';
  body += "saved=" + line.saved.toString(Qt::ISODate).toUtf8() + '\n';
  for (const LineModule& m : line.modules) {
    body += "[module]\n";
    body += "address=" + QByteArray::number(m.address) + '\n';
    body += "rate=" + QByteArray::number(BaudCodeToRate(m.baudCode)) + '\n';
    body += "ident=" + m.ident.toUtf8().replace('\n', ' ') + '\n';
    body += "late=" + QByteArray(m.late ? "1" : "0") + '\n';
    // Only when there is one, so that a line without tags reads as it always did.
    if (!m.tag.isEmpty()) body += "tag=" + m.tag.toUtf8().replace('\n', ' ') + '\n';
    if (line.isMissing(m)) {
      body += "# nezálohováno: modul při záloze neodpověděl\n";
      body += "missing=1\n";
    } else if (const ConfigImage* image = line.image(m)) {
      for (const QString& named : NamedValues(*image)) body += "# " + named.toUtf8() + '\n';
      body += "image=" + QByteArray(reinterpret_cast<const char*>(image->bytes.data()), int(image->bytes.size())).toHex() + '\n';
    }
  }
  return SealText(body);
}

namespace {

// The number exactly as FormatLineFile writes it: decimal digits, no sign, no leading zero.
bool CanonicalNumber(const QByteArray& text, int max, int& out) {
  if (text.isEmpty() || text.size() > 6) return false;
  for (char ch : text)
    if (ch < '0' || ch > '9') return false;
  bool ok = false;
  const int n = text.toInt(&ok);
  if (!ok || n > max || QByteArray::number(n) != text) return false;
  out = n;
  return true;
}

bool HexDigits(const QByteArray& text) {
  for (char ch : text)
    if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'))) return false;
  return true;
}

QString RateList() {
  QStringList rates;
  for (int code = 0; code < BaudCodeCount; ++code) rates << QString::number(BaudCodeToRate(code));
  return rates.join(QStringLiteral(", "));
}

}  // namespace

bool ParseLineFile(const QByteArray& text, LineFile& line, QString& error) {
  QByteArrayList lines;
  const SealState seal = OpenSealedText(text, lines);
  if (lines.size() < 2 || lines.at(1) != Magic) {
    error = QStringLiteral("Soubor není soubor linky QX-510.");
    return false;
  }
  if (seal != SealState::Sound) {
    error = seal == SealState::Missing ? QStringLiteral("Soubor linky je neúplný (chybí kontrolní součet).")
                                       : QStringLiteral("Soubor linky je poškozený (kontrolní součet nesouhlasí).");
    return false;
  }
  // Lines count from 1, as an editor shows them; lines[i] is line i + 1.
  const auto refuse = [&error](qsizetype index, const QString& why) {
    error = QStringLiteral("Soubor linky, řádek %1: %2").arg(index + 1).arg(why);
    return false;
  };
  // The section being read: where it began and which of its keys came.
  struct Section {
    qsizetype start = -1;
    QSet<QByteArray> keys;
    std::optional<ConfigImage> image;
    bool missing = false;
  };
  const QByteArrayList required = {"address", "rate", "ident", "late"};  // FormatLineFile writes them all
  LineFile parsed;
  QHash<int, qsizetype> sectionOf;  // ModuleKey: the line its section began at
  Section section;
  bool saved = false;
  const auto closeSection = [&]() {
    if (section.start < 0) return true;
    QStringList missing;
    for (const QByteArray& key : required)
      if (!section.keys.contains(key)) missing << QString::fromLatin1(key);
    if (!missing.isEmpty())
      return refuse(section.start, QStringLiteral("sekce [module] není úplná, chybí %1.").arg(missing.join(QStringLiteral(", "))));
    const LineModule& m = parsed.modules.back();
    const int key = ModuleKey(m);
    if (const auto it = sectionOf.constFind(key); it != sectionOf.cend())
      return refuse(section.start, QStringLiteral("modul s adresou %1 a rychlostí %2 Bd už má sekci na řádku %3; "
                                                  "každý modul smí mít jen jednu.")
                                       .arg(m.address)
                                       .arg(BaudCodeToRate(m.baudCode))
                                       .arg(*it + 1));
    sectionOf.insert(key, section.start);
    if (section.image) parsed.images.insert(key, *section.image);
    if (section.missing) parsed.missing.insert(key);
    section = Section{};
    return true;
  };

  for (qsizetype i = 2; i < lines.size(); ++i) {
    const QByteArray& l = lines.at(i);
    if (l.startsWith('#')) continue;
    if (l == "[module]") {
      if (!closeSection()) return false;
      if (parsed.modules.size() >= LineFileMaxModules)
        return refuse(i, QStringLiteral("víc než %1 modulů; linka jich má nejvýše %1.").arg(LineFileMaxModules));
      parsed.modules.append(LineModule{});
      section.start = i;
      continue;
    }
    const qsizetype eq = l.indexOf('=');
    if (eq <= 0) return refuse(i, QStringLiteral("řádek není ani klíč=hodnota, ani [module], ani komentář."));
    const QByteArray key = l.left(eq), value = l.mid(eq + 1);
    if (section.start < 0) {
      if (key != "saved") return refuse(i, QStringLiteral("klíč %1 před první sekcí [module].").arg(QString::fromUtf8(key)));
      if (saved) return refuse(i, QStringLiteral("datum uložení je uvedeno dvakrát."));
      saved = true;
      parsed.saved = QDateTime::fromString(QString::fromUtf8(value), Qt::ISODate);
      if (!value.isEmpty() && !parsed.saved.isValid()) return refuse(i, QStringLiteral("neplatné datum uložení."));
      continue;
    }
    if (section.keys.contains(key))
      return refuse(i, QStringLiteral("klíč %1 je v sekci [module] dvakrát.").arg(QString::fromUtf8(key)));
    section.keys.insert(key);
    LineModule& m = parsed.modules.back();
    int number = 0;
    if (key == "address") {
      if (!CanonicalNumber(value, 255, number)) return refuse(i, QStringLiteral("adresa musí být číslo 0-255."));
      m.address = uint8_t(number);
    } else if (key == "rate") {
      const int code = BaudRateToCode(value.toInt());
      if (!CanonicalNumber(value, 115200, number) || BaudCodeToRate(code) != number)
        return refuse(i, QStringLiteral("rychlost musí být jedna z: %1 Bd.").arg(RateList()));
      m.baudCode = code;
    } else if (key == "ident") {
      m.ident = QString::fromUtf8(value);
    } else if (key == "tag") {
      m.tag = QString::fromUtf8(value);
    } else if (key == "late") {
      if (value != "0" && value != "1") return refuse(i, QStringLiteral("late musí být 0 nebo 1."));
      m.late = value == "1";
    } else if (key == "missing") {
      // A backup writes it for a module it could not read, in place of the image.
      if (value != "1") return refuse(i, QStringLiteral("missing smí být jen 1."));
      if (section.image) return refuse(i, QStringLiteral("modul s obrazem konfigurace nemůže chybět (missing=1)."));
      section.missing = true;
    } else if (key == "image") {
      if (section.missing) return refuse(i, QStringLiteral("modul, který chybí (missing=1), nemá obraz konfigurace."));
      ConfigImage image;
      const qsizetype digits = qsizetype(image.bytes.size()) * 2;
      if (!HexDigits(value))
        return refuse(i, QStringLiteral("obraz konfigurace smí mít jen šestnáctkové číslice 0-9, a-f."));
      if (value.size() != digits)
        return refuse(i, QStringLiteral("obraz konfigurace musí mít právě %1 šestnáctkových číslic (%2 bajtů), má %3.")
                             .arg(digits)
                             .arg(image.bytes.size())
                             .arg(value.size()));
      const QByteArray bytes = QByteArray::fromHex(value);
      std::copy(bytes.begin(), bytes.end(), image.bytes.begin());
      section.image = image;  // keyed once the section is complete: address and rate may follow
    } else {
      return refuse(i, QStringLiteral("neznámý klíč %1.").arg(QString::fromUtf8(key)));
    }
  }
  if (!closeSection()) return false;
  if (!saved) return refuse(2, QStringLiteral("chybí datum uložení (saved=)."));
  // Sound: the last line that is not blank is the seal line, and it matched.
  parsed.seal = text.trimmed().split('\n').back().trimmed().mid(int(sizeof "sha256=") - 1);
  line = parsed;
  return true;
}

bool SaveLineFile(const QString& path, const LineFile& line, QString& error) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  return WriteFileChecked(path, FormatLineFile(line), &error);
}

bool LoadLineFile(const QString& path, LineFile& line, QString& error) {
  QByteArray bytes;
  if (!ReadFileChecked(path, LineFileMaxBytes, &bytes, &error)) return false;
  return ParseLineFile(bytes, line, error);
}

QString LastLinePath() {
  const QString dir = UserSettingsDirectory();
  if (dir.isEmpty()) return QString();
  return QDir(dir).filePath(QStringLiteral("linka.qx510line"));
}
