// The backup file: files of the first format still read, and the values a restore refuses.

#include <gtest/gtest.h>

#include <QCryptographicHash>

#include "base/config/config_backup.h"

namespace {

TEST(ConfigBackup, ReadsFilesWrittenWithoutTheCalibrationNotes) {
  ConfigBackup backup;
  backup.module = QStringLiteral("QX-510");
  backup.version = QStringLiteral("1.20");
  backup.date = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
  for (uint8_t a : ImageAddresses()) backup.image.bytes[a] = uint8_t(a * 7);
  backup.image.bytes[0] = 1;
  backup.image.bytes[62] = 8;

  // The earlier files: the same lines without comments, the checksum over what is left.
  QByteArrayList lines = FormatBackup(backup).split('\n');
  lines.removeLast();  // empty after the final newline
  lines.removeLast();  // the checksum
  lines.removeIf([](const QByteArray& line) { return line.startsWith('#'); });
  const QByteArray body = lines.join('\n') + '\n';
  const QByteArray older = body + "sha256=" + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + '\n';

  for (const QByteArray& text : {FormatBackup(backup), older}) {
    ConfigBackup parsed;
    QString error;
    ASSERT_TRUE(ParseBackup(text, parsed, error)) << error.toStdString();
    EXPECT_EQ(parsed.image.bytes, backup.image.bytes);
    EXPECT_EQ(parsed.date, backup.date);
  }
}

TEST(ConfigBackup, RefusesWhatTheSettingsWindowsWouldNotWrite) {
  const struct {
    uint8_t address, value;
    bool refused;
  } rows[] = {
      {0, 1, false},   {0, 2, true},     {0, 0x11, true},    {62, 8, false}, {62, 9, true},
      {62, 0x14, true}, {63, 255, false}, {33, 0xFF, false}, {15, 0xFF, false},
  };
  for (const auto& r : rows) {
    const QString text = RefusedValueText(r.address, r.value);
    EXPECT_EQ(!text.isEmpty(), r.refused) << int(r.address) << " " << int(r.value);
    if (r.refused) {
      EXPECT_TRUE(text.startsWith(QStringLiteral("Bajt %1 (").arg(r.address))) << text.toStdString();
    }
  }
}

}  // namespace
