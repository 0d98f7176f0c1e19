// The line report on paper: what a PDF reader takes out of it, and the command line that
// writes it without a window.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <QPushButton>

#include "base/exchange/commands.h"
#include "base/settings/settings.h"
#include "line/backup/backup_panel.h"
#include "base/config/line_file.h"
#include "line/poll/line_model.h"
#include "line/report/line_report.h"
#include "line/app/line_window.h"
#include "line/common/workbench_settings.h"
#include "line/app/report_dialog.h"
#include "line/report/report_pdf.h"
#include "tests/support/file_faults.h"
#include "tests/support/window_program.h"

namespace {

bool HaveTool(const char* name) { return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty(); }

// The tool's standard output, run on `args`.
QString ToolOutput(const char* tool, const QStringList& args) {
  QProcess p;
  p.start(QString::fromLatin1(tool), args);
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("pdftotext") || !HaveTool("pdffonts") || !HaveTool("pdfinfo"))
      GTEST_SKIP() << "poppler-utils (pdftotext, pdffonts, pdfinfo) missing";
    ASSERT_TRUE(dir_.isValid());
  }
  QString path(const QString& name) const { return dir_.filePath(name); }

  // Renders the report to a file; its path.
  QString render(const LineReport& report) {
    QString error;
    const QByteArray pdf = RenderLineReport(report, error);
    EXPECT_FALSE(pdf.isEmpty()) << error.toStdString();
    const QString file = path(QStringLiteral("r%1.pdf").arg(++rendered_));
    QFile out(file);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(pdf);
    return file;
  }
  static QString Text(const QString& pdf, int page = 0) {
    QStringList args = {QStringLiteral("-layout")};
    if (page > 0) args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l") << QString::number(page);
    return ToolOutput("pdftotext", args << pdf << QStringLiteral("-"));
  }
  static int Pages(const QString& pdf) {
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(ToolOutput("pdfinfo", {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
  }

  QTemporaryDir dir_;
  int rendered_ = 0;
};

LineModule Module(uint8_t address, int baudCode, const QString& ident) {
  LineModule m;
  m.address = address;
  m.baudCode = baudCode;
  m.ident = ident;
  return m;
}

// A backup of three modules, read back as a file is, so that it carries its seal.
LineFile SavedLine() {
  LineFile line;
  line.saved = QDateTime(QDate(2026, 3, 1), QTime(8, 30), Qt::OffsetFromUTC, 3600);
  line.modules = {Module(5, 3, QStringLiteral("QX-510  v.1.20")), Module(17, 8, QStringLiteral("QX-510  v.2.01")),
                  Module(200, 4, QStringLiteral("QX-510  v.1.07"))};
  for (const LineModule& m : line.modules) {
    ConfigImage image;
    image.bytes[CfgAddr::BusAddress] = m.address;
    image.bytes[CfgAddr::BaudCode] = uint8_t(m.baudCode);
    image.bytes[CfgAddr::AinRange] = m.address == 17 ? 1 : 0;
    image.bytes[CfgAddr::DinNegation] = 0xA5;
    image.bytes[CfgAddr::VoltageGain] = 0x39;  // 12345
    image.bytes[CfgAddr::VoltageGain + 1] = 0x30;
    line.images.insert(ModuleKey(m), image);
  }
  line.images[ModuleKey(line.modules[2])].bytes[CfgAddr::BaudCode] = 12;  // a file may hold what no window writes
  LineFile read;
  QString error;
  EXPECT_TRUE(ParseLineFile(FormatLineFile(line), read, error)) << error.toStdString();
  return read;
}

TEST_F(ReportTest, SavedLineShowsEveryModuleByItsCzechNamesWithFontsEmbedded) {
  const LineFile line = SavedLine();
  ASSERT_EQ(line.seal.size(), 64);
  const QString pdf = render(ReportFromLineFile(line, QStringLiteral("/x/hala-2.qx510line")));
  const QString text = Text(pdf);
  for (const char* want :
       {"Protokol linky", "Linka: hala-2", "Linka má 3 moduly", "Strana 1 z 1",
        "Adresa 5 ", "4800 Bd", "QX-510 v.1.20", "Adresa 17 ", "115200 Bd", "QX-510 v.2.01", "Adresa 200 ",
        "9600 Bd", "Komunikační rychlost:", "Rozsah AIN 0:", "0-20mA", "0-10V", "Negace DIN:",
        "0x000000A5", "Kalibrace napětí: zesílení:", "12345", "neplatný kód 12", "uložena 1. 3. 2026 08:30:00 +01:00",
        "neznámý (uložená linka)", "neznámé (uložená linka)"}) {
    EXPECT_TRUE(text.simplified().contains(QString::fromUtf8(want).simplified())) << want << "\n" << text.toStdString();
  }
  EXPECT_TRUE(text.contains(QString::fromLatin1(line.seal))) << "the seal the file holds, whole";
  // Every font is in the file, so a reader without DejaVu still shows č, ř, ž.
  const QStringList fonts = ToolOutput("pdffonts", {pdf}).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
  ASSERT_FALSE(fonts.isEmpty());
  for (const QString& f : fonts) {
    EXPECT_TRUE(f.startsWith(QStringLiteral("DejaVuSans"))) << f.toStdString();
    EXPECT_EQ(f.simplified().split(QLatin1Char(' ')).value(4), QStringLiteral("yes")) << f.toStdString();
  }
}

TEST_F(ReportTest, ManyModulesRunOverPagesEachNumberedOfTheWhole) {
  LineFile line = SavedLine();
  const ConfigImage image = *line.image(line.modules[0]);
  line.modules.clear();
  for (int a = 1; a <= 40; ++a) {
    line.modules.append(Module(uint8_t(a), a % 9, QStringLiteral("QX-510 č.%1").arg(a)));
    line.images.insert(ModuleKey(line.modules.back()), image);
  }
  const QString pdf = render(ReportFromLineFile(line, QStringLiteral("velka.qx510line")));
  const int pages = Pages(pdf);
  ASSERT_GT(pages, 2);
  QMap<int, int> seen;  // address: how often a page shows it
  for (int page = 1; page <= pages; ++page) {
    const QString text = Text(pdf, page);
    EXPECT_TRUE(text.contains(QStringLiteral("Strana %1 z %2").arg(page).arg(pages))) << page;
    EXPECT_TRUE(text.contains(QStringLiteral("Protokol linky"))) << "header on page " << page;
    for (const auto& m : QRegularExpression(QStringLiteral("Adresa (\\d+) ")).globalMatch(text)) ++seen[m.captured(1).toInt()];
  }
  // A page break neither loses a module nor shows one twice.
  ASSERT_EQ(seen.size(), 40);
  for (auto it = seen.cbegin(); it != seen.cend(); ++it) EXPECT_EQ(it.value(), 1) << it.key();
}

TEST_F(ReportTest, OverviewReportCarriesStateAndEachOutcomeCount) {
  LineModel model;
  model.setModules({Module(7, 4, QStringLiteral("QX-510  v.1.20")), Module(8, 4, QStringLiteral("QX-510  v.1.20"))});
  model.setWatch(LineModel::Watch::Polling);
  ModuleReading reading;
  reading.address = 7;
  reading.baudCode = 4;
  reading.ok = true;
  model.apply(reading);
  // Distinct counts per outcome, so that one shown in another's place shows.
  const std::pair<uint32_t, int> outcomes[] = {{0, 11}, {2, 2}, {9, 3}, {15, 4}, {20, 5}, {99, 6}};
  for (const auto& [status, count] : outcomes)
    for (int i = 0; i < count; ++i) {
      ExchangeRecord r;
      r.address = 7;
      r.rate = 9600;
      r.status = status;
      r.durationNs = (i + 1) * 1000000;
      model.addExchange(r);
    }
  const QString text = Text(render(ReportFromOverview(model, LineFile{}, QStringLiteral("linka")))).simplified();
  for (const char* want : {"Stav: odpovídá", "celkem 31", "dobrých 11", "bez odpovědi 2", "poškozených 3", "pozdních 4",
                           "odmítnutých 5", "jiných chyb 6", "Stav: čeká", "Poslední záloha: žádná"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(want))) << want << "\n" << text.toStdString();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("medián \\d+[,.]\\d\\d ms, max 11[,.]00 ms")).match(text).hasMatch())
      << text.toStdString();
}

// The window's report: the overview's modules with the configuration of the backup it holds.
TEST_F(ReportTest, WindowReportTakesTheOpenedBackupsImagesAndSeal) {
  SetConnectionSettingsPath(path(QStringLiteral("W_qx510.ini")));
  SetWorkbenchSettingsPath(path(QStringLiteral("linka.ini")));
  QString named;
  ASSERT_TRUE(SetWorkbenchLineName(QStringLiteral("hala"), named)) << named.toStdString();  // not the file's name
  const LineFile backup = SavedLine();
  QString error;
  ASSERT_TRUE(SaveLineFile(path(QStringLiteral("zaloha.qx510line")), backup, error));
  LineFile listed = backup;  // the line as a scan keeps it: modules only, the last one not in the backup
  listed.images.clear();
  listed.modules.append(Module(31, 4, QStringLiteral("QX-510  v.3.00")));
  ASSERT_TRUE(SaveLineFile(path(QStringLiteral("linka.qx510line")), listed, error));
  {
    LineWindow window;
    window.setLinePath(path(QStringLiteral("linka.qx510line")));
    const auto* button = window.findChild<QPushButton*>(QStringLiteral("LineReport"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("&Protokol linky…"));
    ASSERT_TRUE(window.backupPanel()->openFile(path(QStringLiteral("zaloha.qx510line"))));
    const QString target = path(QStringLiteral("okno.pdf"));
    ASSERT_TRUE(SaveLineReport(&window, target, error)) << error.toStdString();
    const QString text = Text(target).simplified();
    for (const char* want : {"Linka: hala", "Linka má 4 moduly", "Stav: odpojeno", "Konfigurace (z poslední zálohy):",
                             "Kalibrace napětí: zesílení: 12345", "Adresa 31 ", "Konfigurace: v záloze není",
                             "uložena 1. 3. 2026 08:30:00 +01:00"})
      EXPECT_TRUE(text.contains(QString::fromUtf8(want))) << want << "\n" << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromLatin1(backup.seal)));
  }
  SetWorkbenchSettingsPath(QString());
  SetConnectionSettingsPath(QString());
}

// The program itself: --report needs no display and leaves no file when it cannot finish.
TEST_F(ReportTest, CommandLineWritesWithoutDisplayOrLeavesNothing) {
  const QString lineFile = path(QStringLiteral("linka.qx510line"));
  QString error;
  ASSERT_TRUE(SaveLineFile(lineFile, SavedLine(), error));
  QFile bad(path(QStringLiteral("spatna.qx510line")));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("# QX-510 linka\nformat=qx510-line 1\nsaved=\n[module]\naddress=1\nsha256=00\n");
  bad.close();

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(var));
  env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
  const auto run = [&](const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QX510_LINE), args);
    EXPECT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()));
  };
  const QString target = path(QStringLiteral("protokol.pdf"));
  const auto [written, said] = run({QStringLiteral("--report"), target, lineFile});
  EXPECT_EQ(written, 0) << said.toStdString();
  EXPECT_TRUE(Text(target).contains(QStringLiteral("Strana 1 z 1")));

  struct Case {
    const char* name;
    QStringList args;
    QString target;
  };
  const QString missing = path(QStringLiteral("neni/protokol.pdf"));
  const QString intoDirectory = path(QStringLiteral("adresar.pdf"));
  ASSERT_TRUE(QDir().mkpath(intoDirectory));
  const Case failures[] = {
      {"bad line file", {QStringLiteral("--report"), path(QStringLiteral("b.pdf")), bad.fileName()}, path(QStringLiteral("b.pdf"))},
      {"no such line file", {QStringLiteral("--report"), path(QStringLiteral("c.pdf")), path(QStringLiteral("zadna"))},
       path(QStringLiteral("c.pdf"))},
      {"missing folder", {QStringLiteral("--report"), missing, lineFile}, missing},
      {"no file name", {QStringLiteral("--report")}, QString()},
      {"unknown option", {QStringLiteral("--report"), path(QStringLiteral("d.pdf")), QStringLiteral("--x")},
       path(QStringLiteral("d.pdf"))},
  };
  for (const Case& c : failures) {
    SCOPED_TRACE(c.name);
    const auto [status, text] = run(c.args);
    EXPECT_EQ(status, 2) << text.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("(^|\\n)qx510-line: \\S")).match(text).hasMatch()) << text.toStdString();
    if (!c.target.isEmpty()) {
      EXPECT_FALSE(QFile::exists(c.target));
    }
  }
  // A target that cannot be replaced leaves what is there, and no temporary file beside it.
  const auto [status, text] = run({QStringLiteral("--report"), intoDirectory, lineFile});
  EXPECT_EQ(status, 2) << text.toStdString();
  EXPECT_TRUE(QFileInfo(intoDirectory).isDir());
  EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("*.pdf*")}, QDir::Files),
            QStringList{QStringLiteral("protokol.pdf")});

  const auto [helped, help] = run({QStringLiteral("--help")});
  EXPECT_EQ(helped, 0);
  EXPECT_TRUE(help.contains(QStringLiteral("--report SOUBOR.pdf"))) << help.toStdString();
}

// A report that cannot be written whole (a full disk) leaves the earlier one; a device or
// FIFO chosen as the file is refused and stays what it was.
TEST(ReportFileTest, AFailedWriteKeepsTheEarlierFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  LineReport report;
  report.lineName = QStringLiteral("hala");
  const QString path = dir.filePath(QStringLiteral("protokol.pdf"));
  QString error;
  ASSERT_TRUE(WriteLineReport(report, path, error)) << error.toStdString();
  const QByteArray before = FileBytes(path);
  report.lineName = QStringLiteral("dílna");
  {
    FileSizeLimit limit(100);
    EXPECT_FALSE(WriteLineReport(report, path, error));
  }
  EXPECT_EQ(error, QStringLiteral("soubor by byl větší, než systém dovoluje"));
  EXPECT_EQ(FileBytes(path), before);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("protokol.pdf")});

  const std::vector<OddNode> nodes = OddNodes(dir.path());
  if (nodes.empty()) GTEST_SKIP() << "no character device of the test's own";
  for (const OddNode& node : nodes) {
    SCOPED_TRACE(node.path.toStdString());
    EXPECT_FALSE(WriteLineReport(report, node.path, error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("není obyčejný soubor"))) << error.toStdString();
    EXPECT_EQ(NodeType(node.path), node.type);
  }
}

// Help and version without a window or a display, and any other argument refused.
TEST(LineCommandLine, AnsweredWithoutADisplay) {
  ExpectWindowProgramCommandLine(QStringLiteral(QX510_LINE), QStringLiteral("qx510-line"),
                                 {QStringLiteral("--report"), QStringLiteral("--help"), QStringLiteral("--version")});
}

}  // namespace
