#include "line/csv_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "base/baud.h"
#include "base/czech_plural.h"
#include "base/exchange_trace.h"

namespace {
// "v souboru je 1 řádek záznamu", "v souboru jsou 3 řádky záznamu".
QString RowsInFileText(qint64 rows) {
  return CzechPlural(rows, "v souboru je %1 řádek záznamu", "v souboru jsou %1 řádky záznamu", "v souboru je %1 řádků záznamu")
      .arg(rows);
}
}  // namespace

QString CsvLog::TimeText(qint64 ms) {
  return ExchangeTimeText(ms * 1000000);
}

QString CsvLog::header() const {
  QStringList columns = {QStringLiteral("time"), QStringLiteral("address"), QStringLiteral("rate")};
  if (choice_.ain0) columns << QStringLiteral("ain0") << QStringLiteral("unit");
  if (choice_.inputs) columns << QStringLiteral("din");
  if (choice_.statusRegister) columns << QStringLiteral("status");
  columns << QStringLiteral("state");
  return columns.join(QLatin1Char(','));
}

bool CsvLog::start(const LogChoice& choice, QString& error) {
  stop();
  choice_ = choice;
  rows_ = 0;
  if (!QDir().mkpath(choice.folder)) {
    error = QStringLiteral("Složku %1 nelze vytvořit.").arg(choice.folder);
    return false;
  }
  return openFor(QDate::currentDate(), error);
}

void CsvLog::stop() { file_.close(); }

bool CsvLog::openFor(const QDate& day, QString& error) {
  const bool wasOpen = file_.isOpen();
  file_.close();
  if (wasOpen && file_.failed()) {
    error = QStringLiteral("Zápis do %1 selhal: %2; %3.").arg(file_.name(), file_.failure(), RowsInFileText(fileRows_));
    return false;
  }
  const QDir dir(choice_.folder);
  const QString stem = QStringLiteral("qx510-linka-%1").arg(day.toString(Qt::ISODate));
  QString path = dir.filePath(stem + QStringLiteral(".csv"));
  for (int n = 2; QFile::exists(path); ++n) path = dir.filePath(QStringLiteral("%1-%2.csv").arg(stem).arg(n));
  if (!file_.openFile(path, CheckedStream::Start::CreateNew)) {
    error = QStringLiteral("Soubor záznamu %1 nelze založit: %2.").arg(path, file_.failure());
    return false;
  }
  if (file_.write((header() + QLatin1Char('\n')).toUtf8()) < 0) {
    error = QStringLiteral("Soubor záznamu %1 nelze založit: %2.").arg(path, file_.failure());
    file_.close();
    QFile::remove(path);  // nothing but an empty file would be left
    return false;
  }
  day_ = day;
  fileRows_ = 0;
  return true;
}

bool CsvLog::write(const ModuleReading& r, QString& error) {
  if (!active() || !choice_.modules.contains(ModuleKey(r.address, r.baudCode))) return true;
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(r.timeMs);
  if (local.date() != day_ || file_.written() >= choice_.maxBytes) {
    if (!openFor(local.date(), error)) return false;
  }
  QStringList cells = {TimeText(r.timeMs), QString::number(r.address), QString::number(BaudCodeToRate(r.baudCode))};
  if (choice_.ain0) {
    cells << (r.ok ? QString::number(r.ain0, 'f', std::min(r.decimals, 18)) : QString()) << (r.ok ? r.unit() : QString());
  }
  if (choice_.inputs) cells << (r.ok ? QStringLiteral("0x%1").arg(r.din, 8, 16, QLatin1Char('0')) : QString());
  if (choice_.statusRegister) cells << (r.ok ? QStringLiteral("0x%1").arg(r.statusRegister, 8, 16, QLatin1Char('0')) : QString());
  cells << (r.ok ? QStringLiteral("ok") : QStringLiteral("neodpovídá"));
  if (file_.write((cells.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8()) < 0) {
    error = QStringLiteral("Zápis do %1 selhal: %2; %3 (%4 B)%5.")
                .arg(file_.name(), file_.failure(), RowsInFileText(fileRows_), QString::number(file_.written()),
                     fileRows_ > 0 ? QStringLiteral(", poslední z %1").arg(lastRowTime_) : QString());
    stop();
    return false;
  }
  ++rows_;
  ++fileRows_;
  lastRowTime_ = cells.front();
  return true;
}
