#include "line/log/csv_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "base/text/baud.h"
#include "base/text/czech_plural.h"
#include "base/exchange/exchange_trace.h"

namespace {
// "v souboru je 1 řádek záznamu", "v souboru jsou 3 řádky záznamu".
QString RowsInFileText(qint64 rows) {
  return CzechPlural(rows, "v souboru je %1 řádek záznamu", "v souboru jsou %1 řádky záznamu", "v souboru je %1 řádků záznamu")
      .arg(rows);
}
}  // namespace

QString CsvLog::TimeText(qint64 ms) { return ExchangeTimeText(ms * 1000000); }

QString CsvLog::FileStem(const QString& lineName, const QDate& day) {
  QString name = lineName.trimmed();
  for (QChar& c : name)
    if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_') && c != QLatin1Char('.')) c = QLatin1Char('_');
  if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) name.prepend(QStringLiteral("linka"));
  return QStringLiteral("qx510-%1-%2").arg(name, day.toString(Qt::ISODate));
}

QString CsvLog::header() const { return CsvHeader(choice_.format, values()); }

CsvValues CsvLog::values() const { return {choice_.ain0, choice_.inputs, choice_.statusRegister}; }

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
  const QString stem = FileStem(choice_.lineName, day);
  QString path = dir.filePath(stem + QStringLiteral(".csv"));
  for (int n = 2; QFile::exists(path); ++n) path = dir.filePath(QStringLiteral("%1-%2.csv").arg(stem).arg(n));
  if (!file_.openFile(path, CheckedStream::Start::CreateNew)) {
    error = QStringLiteral("Soubor záznamu %1 nelze založit: %2.").arg(path, file_.failure());
    return false;
  }
  if (file_.write(QByteArray(CsvByteOrderMark) + (header() + QLatin1Char('\n')).toUtf8()) < 0) {
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
  CsvReading row;
  row.timeMs = r.timeMs;
  row.address = r.address;
  row.rate = BaudCodeToRate(r.baudCode);
  if (r.ok) {
    row.ain0 = r.ain0;
    row.decimals = r.decimals;
    row.unit = r.unit();
    row.din = r.din;
    row.status = r.statusRegister;
  } else {
    row.error = r.error.isEmpty() ? QStringLiteral("modul neodpovídá") : r.error;
  }
  if (file_.write((CsvRow(choice_.format, values(), row) + QLatin1Char('\n')).toUtf8()) < 0) {
    error = QStringLiteral("Zápis do %1 selhal: %2; %3 (%4 B)%5.")
                .arg(file_.name(), file_.failure(), RowsInFileText(fileRows_), QString::number(file_.written()),
                     fileRows_ > 0 ? QStringLiteral(", poslední z %1").arg(lastRowTime_) : QString());
    stop();
    return false;
  }
  ++rows_;
  ++fileRows_;
  lastRowTime_ = TimeText(r.timeMs);
  return true;
}
