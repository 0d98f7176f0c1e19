#include "base/files/sealed_text.h"

#include <QCryptographicHash>

namespace {

constexpr char SealKey[] = "sha256=";

QByteArray Checksum(const QByteArray& body) { return QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex(); }

}  // namespace

QByteArray SealText(const QByteArray& body) { return body + SealKey + Checksum(body) + '\n'; }

SealState OpenSealedText(const QByteArray& text, QByteArrayList& lines) {
  lines = text.split('\n');
  for (QByteArray& line : lines)
    if (line.endsWith('\r')) line.chop(1);
  while (!lines.isEmpty() && lines.back().trimmed().isEmpty()) lines.removeLast();
  if (lines.isEmpty() || !lines.back().startsWith(SealKey)) return SealState::Missing;
  const QByteArray sum = lines.takeLast().mid(int(sizeof SealKey) - 1).trimmed();
  return sum == Checksum(lines.join('\n') + '\n') ? SealState::Sound : SealState::Broken;
}
