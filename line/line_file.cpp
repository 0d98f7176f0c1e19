#include "line/line_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "base/baud.h"
#include "base/checked_file.h"
#include "base/sealed_text.h"
#include "base/settings.h"

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
    if (const ConfigImage* image = line.image(m)) {
      for (const QString& named : NamedValues(*image)) body += "# " + named.toUtf8() + '\n';
      body += "image=" + QByteArray(reinterpret_cast<const char*>(image->bytes.data()), int(image->bytes.size())).toHex() + '\n';
    }
  }
  return SealText(body);
}

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
  LineFile parsed;
  QVector<QPair<int, ConfigImage>> pendingImages;
  for (qsizetype i = 2; i < lines.size(); ++i) {
    const QByteArray& l = lines.at(i);
    if (l == "[module]") {
      parsed.modules.append(LineModule{});
      continue;
    }
    const qsizetype eq = l.indexOf('=');
    if (eq < 0 || l.startsWith('#')) continue;
    const QByteArray key = l.left(eq), value = l.mid(eq + 1);
    if (key == "saved") {
      parsed.saved = QDateTime::fromString(QString::fromUtf8(value), Qt::ISODate);
      continue;
    }
    if (parsed.modules.isEmpty()) continue;
    LineModule& m = parsed.modules.back();
    bool ok = true;
    if (key == "address") {
      const int a = value.toInt(&ok);
      ok = ok && a >= 0 && a <= 255;
      m.address = uint8_t(a);
    } else if (key == "rate") {
      const int rate = value.toInt(&ok);
      m.baudCode = BaudRateToCode(rate);
      ok = ok && BaudCodeToRate(m.baudCode) == rate;
    } else if (key == "ident") {
      m.ident = QString::fromUtf8(value);
    } else if (key == "late") {
      m.late = value == "1";
    } else if (key == "image") {
      const QByteArray bytes = QByteArray::fromHex(value);
      ConfigImage image;
      ok = bytes.size() == qsizetype(image.bytes.size());
      if (ok) std::copy(bytes.begin(), bytes.end(), image.bytes.begin());
      // Keyed once the section is complete: address and rate may follow the image.
      pendingImages.append({int(parsed.modules.size()) - 1, image});
    }
    if (!ok) {
      error = QStringLiteral("Soubor linky: neplatná hodnota na řádku %1.").arg(i + 1);
      return false;
    }
  }
  for (const auto& [index, image] : pendingImages) parsed.images.insert(ModuleKey(parsed.modules[index]), image);
  line = parsed;
  return true;
}

bool SaveLineFile(const QString& path, const LineFile& line, QString& error) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  return WriteFileChecked(path, FormatLineFile(line), &error);
}

bool LoadLineFile(const QString& path, LineFile& line, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = file.errorString();
    return false;
  }
  return ParseLineFile(file.read(4 << 20), line, error);
}

QString LastLinePath() {
  const QString dir = UserSettingsDirectory();
  if (dir.isEmpty()) return QString();
  return QDir(dir).filePath(QStringLiteral("linka.qx510line"));
}
