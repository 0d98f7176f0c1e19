#include "base/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

QByteArray ToCp1250(const QString& text) {
  QStringEncoder encoder("windows-1250");
  return encoder.encode(text);
}

QString FromCp1250(const QByteArray& bytes) {
  QStringDecoder decoder("windows-1250");
  return decoder.decode(bytes);
}

QString FromCp1250(char byte) { return FromCp1250(QByteArray(1, byte)); }
