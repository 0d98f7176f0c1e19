#include "base/text/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

// Opening a Windows-1250 converter is far dearer than converting a status text, and the live
// windows convert one on every tick, so each thread keeps one of each. Every call starts from
// a clean state: nothing a previous text left behind may leak into the next.
namespace {

QStringEncoder& Encoder() {
  thread_local QStringEncoder encoder("windows-1250", QStringConverter::Flag::Stateless);
  encoder.resetState();
  return encoder;
}

QStringDecoder& Decoder() {
  thread_local QStringDecoder decoder("windows-1250", QStringConverter::Flag::Stateless);
  decoder.resetState();
  return decoder;
}

}  // namespace

QByteArray ToCp1250(const QString& text) { return Encoder().encode(text); }

QString FromCp1250(const QByteArray& bytes) { return Decoder().decode(bytes); }

QString FromCp1250(char byte) { return FromCp1250(QByteArray(1, byte)); }
