#include "line/line_report.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>
#include <cstdlib>

#include "base/baud.h"
#include "line/line_file.h"
#include "line/line_model.h"

namespace {

// The one place where a named value of the image gets the label the settings windows show:
// the address window (address, rate), the analog window (range), the digital window
// (negations, initial state), and the calibration's constants. A name not listed here is not
// printed; baud_rate repeats what baud_code says.
struct Label {
  const char* name;
  const char* czech;
};
constexpr Label Labels[] = {
    {"bus_address", "Adresa modulu"},
    {"baud_code", "Komunikační rychlost"},
    {"ain0_range", "Rozsah AIN 0"},
    {"din_negation", "Negace DIN"},
    {"dout_negation", "Negace DOUT"},
    {"dout_initial", "Počáteční stav DOUT"},
    {"voltage_gain", "Kalibrace napětí: zesílení"},
    {"voltage_offset", "Kalibrace napětí: posun"},
    {"current_gain", "Kalibrace proudu: zesílení"},
    {"current_offset", "Kalibrace proudu: posun"},
};

QString SettingValue(const QString& name, const QString& value) {
  if (name == QLatin1String("baud_code")) {
    bool ok = false;
    const int code = value.toInt(&ok);
    const QStringList rates = BaudRateItems();
    return ok && code >= 0 && code < rates.size() ? rates.at(code)
                                                  : QStringLiteral("neplatný kód %1").arg(value);
  }
  return value;
}

}  // namespace

QList<std::pair<QString, QString>> ReportSettings(const ConfigImage& image) {
  QList<std::pair<QString, QString>> settings;
  for (const QString& line : NamedValues(image)) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    const QString name = line.left(eq), value = line.mid(eq + 1);
    for (const Label& l : Labels)
      if (name == QLatin1String(l.name)) settings.append({QString::fromUtf8(l.czech), SettingValue(name, value)});
  }
  return settings;
}

QString ReportTimeText(const QDateTime& time) {
  const int offset = time.offsetFromUtc() / 60;
  return time.toString(QStringLiteral("d. M. yyyy HH:mm:ss ")) +
         QStringLiteral("%1%2:%3")
             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
             .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

namespace {

LineReport Started(const QString& lineName) {
  LineReport report;
  report.lineName = lineName;
  report.host = QSysInfo::machineHostName();
  report.made = QDateTime::currentDateTime();
  report.version = QCoreApplication::applicationVersion();
  return report;
}

void TakeFile(LineReport& report, const LineFile& file, const QString& path) {
  report.filePath = path;
  report.saved = file.saved;
  report.seal = file.seal;
  report.fileHasImages = !file.images.isEmpty();
}

std::optional<ConfigImage> ImageOf(const LineFile& file, const LineModule& m) {
  if (const ConfigImage* image = file.image(m)) return *image;
  return std::nullopt;
}

}  // namespace

LineReport ReportFromLineFile(const LineFile& file, const QString& path) {
  LineReport report = Started(QFileInfo(path).completeBaseName());
  TakeFile(report, file, path);
  for (const LineModule& m : file.modules) report.modules.append({m, ImageOf(file, m), std::nullopt, std::nullopt});
  return report;
}

LineReport ReportFromOverview(const LineModel& model, const LineFile& backup, const QString& lineName) {
  LineReport report = Started(lineName);
  report.live = true;
  TakeFile(report, backup, QString());
  for (int r = 0; r < model.rowCount(); ++r) {
    const LineModel::Row& row = model.row(r);
    report.modules.append({row.module, ImageOf(backup, row.module),
                           model.data(model.index(r, LineModel::State)).toString(), row.exchanges});
  }
  return report;
}
