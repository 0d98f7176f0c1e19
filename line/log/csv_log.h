#pragma once

#include <QDate>
#include <QSet>
#include <QString>
#include <QStringList>

#include "base/files/checked_file.h"
#include "base/exchange/csv_format.h"
#include "line/common/line_types.h"

// What goes into the log: which values of which modules.
struct LogChoice {
  bool ain0 = true;
  bool inputs = false;
  bool statusRegister = false;
  QSet<int> modules;  // ModuleKey of each module logged
  QString folder;
  QString lineName;            // in the files' names: qx510-<line>-<date>[-n].csv
  qint64 maxBytes = 10 << 20;  // a new file once one grows past this
  // The locale's separator and decimal mark, so that a spreadsheet opens the file as numbers
  // and times; CsvFormat::Plain() for scripts.
  CsvFormat format = CsvFormat::ForLocale();
};

// Readings to CSV files in the form base/exchange/csv_format.h describes, one row per reading: the
// time, the module, the chosen values. Each file is for a spreadsheet: it starts with the
// byte order mark, then the header. A new file starts at local midnight and whenever the
// current one reaches the size limit; a file never gets a second header or mixes columns.
// Every row goes to the disk as it is written, through the checked writer: a row either
// lands whole or the log stops and says how far it got.
class CsvLog {
 public:
  ~CsvLog() { stop(); }

  bool start(const LogChoice& choice, QString& error);
  void stop();
  bool active() const { return file_.isOpen(); }
  const LogChoice& choice() const { return choice_; }
  QString fileName() const { return file_.name(); }
  qint64 rowsWritten() const { return rows_; }

  // False when the reading could not be written (the log then stops; error names the file, the
  // reason and the rows the file holds). A reading of a module not chosen is passed over.
  bool write(const ModuleReading& reading, QString& error);

  // ISO 8601, local time with its offset written out.
  static QString TimeText(qint64 msSinceEpoch);
  // The name a day's first file gets: "qx510-" + the line's name, kept to letters, digits,
  // '-', '_' and '.' (anything else becomes '_'), "-" + the date.
  static QString FileStem(const QString& lineName, const QDate& day);
  QString header() const;

 private:
  bool openFor(const QDate& day, QString& error);
  CsvValues values() const;

  LogChoice choice_;
  CheckedStream file_;
  QDate day_;
  qint64 rows_ = 0;
  qint64 fileRows_ = 0;  // in the current file
  QString lastRowTime_;  // of the last row written
};
