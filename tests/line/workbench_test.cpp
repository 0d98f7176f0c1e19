// The workbench in daily use on a 1366x768 laptop: placing, keys, sorting, remembered choices,
// the trend's export and readout.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <cstdio>
#include <filesystem>
#include <qcustomplot.h>
#include <unistd.h>

#include "base/csv_format.h"
#include "base/settings.h"
#include "line/date_field.h"
#include "line/line_file.h"
#include "line/line_model.h"
#include "line/line_window.h"
#include "line/log_panel.h"
#include "line/module_detail_window.h"
#include "line/number_sort.h"
#include "line/save_path.h"
#include "line/traffic_panel.h"
#include "line/trend_export.h"
#include "line/trend_plot.h"
#include "line/window_place.h"
#include "line/workbench_settings.h"
#include "tests/support/file_faults.h"
#include "tests/support/wait_for.h"

namespace {

// The offscreen platform shows one screen of 1366x768, as the laptop has: set before the
// application (made in the shared main) asks the platform for its screens.
struct LaptopScreen {
  std::string path = (std::filesystem::temp_directory_path() / ("qx510-screen-" + std::to_string(::getpid()) + ".json")).string();
  LaptopScreen() {
    if (FILE* f = std::fopen(path.c_str(), "w")) {
      std::fputs(R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768,
                    "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})", f);
      std::fclose(f);
    }
    ::setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).c_str(), 1);
  }
  ~LaptopScreen() { std::remove(path.c_str()); }
} laptop;

const QLocale Czech(QLocale::Czech, QLocale::Czechia);

TEST(WindowPlace, TheWholeFrameFitsTheScreen) {
  struct Case {
    QRect available;
    QMargins frame;
    std::optional<QRect> saved;
    QRect expected;
  };
  const QSize wanted(1360, 760), minimum(900, 600);
  const QRect laptop(0, 0, 1366, 740);  // 768 less a panel
  const QMargins title(1, 20, 1, 1);
  const Case cases[] = {
      // The laptop: shrunk and centred so the title bar and the status bar are both on screen.
      {laptop, title, std::nullopt, QRect(3, 20, 1360, 719)},
      // A large screen: as wanted, centred.
      {QRect(0, 0, 1920, 1050), title, std::nullopt, QRect(280, 155, 1360, 760)},
      // A second screen to the right with its own origin.
      {QRect(1920, 0, 1366, 740), title, std::nullopt, QRect(1923, 20, 1360, 719)},
      // The place kept from the last run, when it still fits.
      {laptop, title, QRect(100, 50, 1000, 650), QRect(100, 50, 1000, 650)},
      // Kept on a larger screen: its bottom would fall off the laptop.
      {laptop, title, QRect(100, 200, 1200, 700), QRect(3, 20, 1360, 719)},
      // Kept smaller than the window can be.
      {QRect(0, 0, 1920, 1050), title, QRect(10, 30, 400, 300), QRect(280, 155, 1360, 760)},
      // A screen smaller than the minimum: as large as the screen, not larger.
      {QRect(0, 0, 800, 600), title, std::nullopt, QRect(1, 20, 798, 579)},
  };
  for (const Case& c : cases) {
    const QRect placed = PlaceWindow(c.available, c.frame, wanted, minimum, c.saved);
    EXPECT_EQ(placed, c.expected) << c.available.width() << "x" << c.available.height();
    EXPECT_TRUE(c.available.contains(placed.marginsAdded(c.frame)));
  }
}

TEST(SavePath, AddsTheExtensionOnlyWhenNoneWasTyped) {
  const struct {
    const char *typed, *suffix, *expected;
  } cases[] = {{"/d/trend", "png", "/d/trend.png"},     {"/d/trend.png", "png", "/d/trend.png"},
               {"/d/a.b/trend", "csv", "/d/a.b/trend.csv"}, {"/d/trend.txt", "csv", "/d/trend.txt"},
               {"/d/.linka", "qx510line", "/d/.linka.qx510line"}, {"", "csv", ""}};
  for (const auto& c : cases) EXPECT_EQ(WithDefaultSuffix(QString::fromUtf8(c.typed), QLatin1String(c.suffix)), QString::fromUtf8(c.expected));
}

TEST(NumberSort, CellsCompareAsTheyRead) {
  const struct {
    QVariant a, b;
  } ordered[] = {{2, 10},
                 {QStringLiteral("2"), QStringLiteral("10")},
                 {QStringLiteral("9600 Bd"), QStringLiteral("19200 Bd")},
                 {QStringLiteral("9,5 V"), QStringLiteral("10,25 V")},
                 {QStringLiteral("1,25 mA"), QStringLiteral("1,3 mA")},
                 {QStringLiteral("-3 V"), QStringLiteral("0,5 V")},
                 {QStringLiteral("0x0F"), QStringLiteral("0x10")},
                 {QStringLiteral("12"), QStringLiteral("čeká")},
                 {QStringLiteral("neodpovídá"), QStringLiteral("odpovídá")},
                 {QStringLiteral("odpovídá"), QString()}};
  for (const auto& c : ordered) {
    EXPECT_TRUE(CellLess(c.a, c.b)) << c.a.toString().toStdString() << " < " << c.b.toString().toStdString();
    EXPECT_FALSE(CellLess(c.b, c.a)) << c.b.toString().toStdString() << " < " << c.a.toString().toStdString();
  }
}

class WorkbenchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SetConnectionSettingsPath(dir_.filePath(QStringLiteral("W_qx510.ini")));
    SetWorkbenchSettingsPath(dir_.filePath(QStringLiteral("linka.ini")));
  }
  void TearDown() override {
    SetWorkbenchSettingsPath(QString());
    SetConnectionSettingsPath(QString());
  }
  // A window over a line found in rate order, as a scan leaves it.
  std::unique_ptr<LineWindow> window(const QVector<int>& addresses = {17, 2, 10}) {
    QVector<LineModule> modules;
    for (int a : addresses) modules.append(LineModule{uint8_t(a), 7 - int(modules.size()), QStringLiteral("QX-510")});
    const QString path = dir_.filePath(QStringLiteral("linka.qx510line"));
    QString error;
    EXPECT_TRUE(SaveLineFile(path, LineFile{QDateTime::currentDateTime(), modules, {}}, error)) << error.toStdString();
    auto w = std::make_unique<LineWindow>();
    w->setLinePath(path);
    return w;
  }
  static void Activate(QWidget* w) {
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w);
  }
  static QString AddressShown(QTableView* view, int row) { return view->model()->index(row, LineModel::Address).data().toString(); }

  QTemporaryDir dir_;
};

TEST_F(WorkbenchTest, OnTheLaptopTheStatusBarIsWholeAndThePlaceIsKept) {
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_EQ(screen->geometry(), QRect(0, 0, 1366, 768)) << "the offscreen platform ignored the screen's size";
  QRect left;
  {
    auto w = window();
    w->show();
    const QRect frame = w->geometry().marginsAdded(AssumedFrame);
    EXPECT_TRUE(screen->availableGeometry().contains(frame)) << frame.width() << "x" << frame.height();
    const QRect bar(w->statusBar()->mapToGlobal(QPoint()), w->statusBar()->size());
    EXPECT_TRUE(screen->availableGeometry().contains(bar));
    EXPECT_GT(bar.height(), 0);
    w->setGeometry(120, 90, 1000, 600);
    left = w->geometry();
    w->close();
  }
  EXPECT_EQ(window()->geometry(), left) << "the place the operator left is taken up again";
  // A place that no longer fits (kept on a larger screen) is not.
  {
    QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
    stored.setValue(QStringLiteral("okno/geometrie"), QRect(200, 300, 1600, 900));
  }
  EXPECT_TRUE(screen->availableGeometry().contains(window()->geometry().marginsAdded(AssumedFrame)));
}

TEST_F(WorkbenchTest, OverviewStartsByAddressAndSortsByAnyColumn) {
  auto w = window();
  QTableView* view = w->overview();
  EXPECT_EQ(AddressShown(view, 0), QStringLiteral("2"));
  EXPECT_EQ(AddressShown(view, 1), QStringLiteral("10"));
  EXPECT_EQ(AddressShown(view, 2), QStringLiteral("17"));
  view->horizontalHeader()->setSortIndicator(LineModel::Rate, Qt::AscendingOrder);  // what a header click does
  for (int row = 1; row < 3; ++row) {
    const QString before = view->model()->index(row - 1, LineModel::Rate).data().toString();
    const QString after = view->model()->index(row, LineModel::Rate).data().toString();
    EXPECT_LT(before.section(QLatin1Char(' '), 0, 0).toInt(), after.section(QLatin1Char(' '), 0, 0).toInt())
        << before.toStdString() << " / " << after.toStdString();
  }
  view->horizontalHeader()->setSortIndicator(LineModel::Address, Qt::DescendingOrder);
  EXPECT_EQ(AddressShown(view, 0), QStringLiteral("17"));
  EXPECT_EQ(AddressShown(view, 2), QStringLiteral("2"));
}

TEST_F(WorkbenchTest, KeysOpenAndCloseTheDetailAndSwitchTabs) {
  auto w = window();
  Activate(w.get());
  QTableView* view = w->overview();
  // A row is chosen from the start: Alt+E opens the first module's detail.
  QTest::keyClick(w.get(), Qt::Key_E, Qt::AltModifier);  // the button's click comes a moment later
  ASSERT_TRUE(WaitFor([&] { return w->detail(w->model()->rowOf(2, 6)) != nullptr; }));
  w->detail(w->model()->rowOf(2, 6))->close();
  Activate(w.get());
  view->selectRow(1);  // address 10 in the sorted overview
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Return);
  const int row = w->model()->rowOf(10, 7 - 2);
  ModuleDetailWindow* detail = w->detail(row);
  ASSERT_NE(detail, nullptr) << "Return on a row opens its module, not the row's place in the model";
  EXPECT_TRUE(detail->isVisible());
  for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
    Activate(detail);
    ASSERT_TRUE(detail->isVisible());
    QTest::keyClick(detail->plot(), keys.key(), keys.keyboardModifiers());
    EXPECT_FALSE(detail->isVisible()) << QKeySequence(keys).toString().toStdString();
    detail->show();
  }
  detail->close();

  Activate(w.get());
  view->setFocus();
  QTabWidget* tabs = w->tabs();
  const struct {
    QKeyCombination keys;
    int tab;
  } steps[] = {{Qt::ControlModifier | Qt::Key_Tab, 1},
               {Qt::ControlModifier | Qt::Key_PageDown, 2},
               {Qt::ControlModifier | Qt::Key_PageUp, 1},
               {Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Backtab, 0},
               {Qt::ControlModifier | Qt::Key_PageUp, 5}};
  for (const auto& s : steps) {
    QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : w.get(), s.keys.key(),
                    s.keys.keyboardModifiers());
    EXPECT_EQ(tabs->currentIndex(), s.tab) << QKeySequence(s.keys).toString().toStdString();
  }
}

// The mnemonic letter of a text, or 0.
QChar Mnemonic(const QString& text) {
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) continue;
    if (text[i + 1] == QLatin1Char('&')) {
      ++i;
      continue;
    }
    return text[i + 1].toLower();
  }
  return {};
}

// Every mnemonic of what is shown together: unique, and each label's leads to a field.
void ExpectMnemonicsUnique(const QList<QWidget*>& shownTogether, const char* where) {
  QHash<QChar, QString> seen;
  for (QWidget* root : shownTogether)
    for (QWidget* child : root->findChildren<QWidget*>()) {
      QString text;
      if (auto* button = qobject_cast<QAbstractButton*>(child)) text = button->text();
      if (auto* label = qobject_cast<QLabel*>(child)) {
        text = label->text();
        if (!Mnemonic(text).isNull()) {
          EXPECT_NE(label->buddy(), nullptr) << where << ": " << text.toStdString();
        }
      }
      const QChar key = Mnemonic(text);
      if (key.isNull()) continue;
      EXPECT_FALSE(seen.contains(key)) << where << ": " << text.toStdString() << " and " << seen.value(key).toStdString();
      seen.insert(key, text);
    }
  EXPECT_GE(seen.size(), 3) << where;
}

TEST_F(WorkbenchTest, MnemonicsAreUniqueOnEveryPage) {
  auto w = window();
  w->overview();
  QWidget* connection = w->findChild<QWidget*>(QStringLiteral("ConnectionPanel"));
  ASSERT_NE(connection, nullptr);
  for (int tab = 0; tab < w->tabs()->count(); ++tab)
    ExpectMnemonicsUnique({connection, w->tabs()->widget(tab)}, w->tabs()->tabText(tab).toUtf8().constData());
  // And each label's moves the focus to its field.
  Activate(w.get());
  w->tabs()->setCurrentIndex(2);
  QTest::keyClick(w.get(), Qt::Key_E, Qt::AltModifier);
  EXPECT_EQ(QApplication::focusWidget(), w->logPanel()->findChild<QListWidget*>(QStringLiteral("LogModules")));
  ExpectMnemonicsUnique({w->openDetail(0)}, "detail");
}

TEST_F(WorkbenchTest, TrafficFilterOffersTheLinesModules) {
  auto w = window();
  auto* filter = w->trafficPanel()->findChild<QComboBox*>(QStringLiteral("TrafficAddress"));
  ASSERT_NE(filter, nullptr);
  QStringList items;
  for (int i = 0; i < filter->count(); ++i) items << filter->itemText(i);
  EXPECT_EQ(items, (QStringList{QStringLiteral("všechny"), QStringLiteral("adresa 2"), QStringLiteral("adresa 10"),
                                QStringLiteral("adresa 17")}));
  filter->setCurrentIndex(2);
  w->trafficPanel()->setModules({LineModule{10, 1, {}}, LineModule{4, 1, {}}});
  EXPECT_EQ(filter->currentText(), QStringLiteral("adresa 10")) << "the chosen module stays chosen";
  w->trafficPanel()->setModules({LineModule{4, 1, {}}});
  EXPECT_EQ(filter->currentText(), QStringLiteral("všechny")) << "a module gone from the line is no filter";
}

TEST_F(WorkbenchTest, LogChoiceOutlivesTheProgram) {
  const QVector<LineModule> line = {LineModule{2, 4, {}}, LineModule{10, 7, {}}};
  {
    CsvLog log;
    LogPanel panel(&log);
    panel.setModules(line);
    auto* modules = panel.findChild<QListWidget*>(QStringLiteral("LogModules"));
    modules->item(1)->setCheckState(Qt::Checked);
    panel.findChild<QCheckBox*>(QStringLiteral("LogAin0"))->setChecked(false);
    panel.findChild<QCheckBox*>(QStringLiteral("LogStatus"))->setChecked(true);
    // A line without the module keeps it chosen for when it is back.
    panel.setModules({line[0]});
  }
  CsvLog log;
  LogPanel panel(&log);
  panel.setModules(line);
  auto* modules = panel.findChild<QListWidget*>(QStringLiteral("LogModules"));
  EXPECT_EQ(modules->item(0)->checkState(), Qt::Unchecked);
  EXPECT_EQ(modules->item(1)->checkState(), Qt::Checked);
  EXPECT_FALSE(panel.findChild<QCheckBox*>(QStringLiteral("LogAin0"))->isChecked());
  EXPECT_TRUE(panel.findChild<QCheckBox*>(QStringLiteral("LogStatus"))->isChecked());
}

// A long path in the log's texts is cut, never widening the window past the laptop's screen,
// neither while the log runs nor after it stopped.
TEST_F(WorkbenchTest, ALogWithALongPathKeepsTheWindowOnTheScreen) {
  auto w = window();
  w->show();
  const int width = w->width();
  w->tabs()->setCurrentIndex(2);
  QString folder = dir_.path();
  for (int i = 0; i < 4; ++i) folder += QStringLiteral("/zaznamy-z-linky-v-hale-b-dlouhe-jmeno-slozky-%1").arg(i);
  w->logPanel()->setFolder(folder);
  w->logPanel()->findChild<QListWidget*>(QStringLiteral("LogModules"))->item(0)->setCheckState(Qt::Checked);
  ASSERT_TRUE(w->logPanel()->startLog());
  const auto* panel = w->statusBar()->findChild<QLabel*>(QStringLiteral("StatusPanel2"));
  for (bool running : {true, false}) {
    if (!running) w->logPanel()->stopLog();
    QTest::qWait(250);  // the window's tick, and the layout after it
    EXPECT_EQ(w->width(), width) << "log running: " << running;
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(w->geometry().marginsAdded(AssumedFrame)));
  }
  EXPECT_TRUE(panel->toolTip().isEmpty()) << "a text that fits is not repeated";
  ASSERT_TRUE(w->logPanel()->startLog());
  QTest::qWait(250);
  EXPECT_TRUE(panel->text().contains(folder));
  EXPECT_EQ(panel->toolTip(), panel->text()) << "the whole of a text that is cut";
  w->logPanel()->stopLog();
}

// Ctrl+Q quits from the keyboard, and asks only when a running log would stop.
TEST_F(WorkbenchTest, CtrlQQuitsAndAsksOnlyWhenALogRuns) {
  const struct {
    bool log, answer, quits;
  } cases[] = {{false, false, true}, {true, false, false}, {true, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "log " << c.log << ", answer " << c.answer);
    auto w = window();
    int asked = 0;
    w->setQuestion([&](const QString& text) {
      ++asked;
      EXPECT_TRUE(text.contains(QStringLiteral("záznam"))) << text.toStdString();
      return c.answer;
    });
    Activate(w.get());
    if (c.log) {
      w->logPanel()->setFolder(dir_.filePath(QStringLiteral("zaznam")));
      w->logPanel()->findChild<QListWidget*>(QStringLiteral("LogModules"))->item(0)->setCheckState(Qt::Checked);
      ASSERT_TRUE(w->logPanel()->startLog());
    }
    QTest::keyClick(w.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(w->isVisible(), !c.quits);
    EXPECT_EQ(asked, c.log ? 1 : 0);
    if (c.log) w->logPanel()->stopLog();
  }
}

// The save dialogs add the extension when none was typed, before asking about a file of that
// name, and open on a folder that is there.
TEST_F(WorkbenchTest, SaveDialogsAddTheExtensionWhenNoneIsTyped) {
  const QString folder = dir_.filePath(QStringLiteral("Dokumenty"));
  const struct {
    const char *typed, *saved;
  } cases[] = {{"zaloha1", "zaloha1.qx510line"}, {"zaloha2.qx510line", "zaloha2.qx510line"}, {"hala.b", "hala.b"}};
  for (const auto& c : cases) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(QDir(dialog->directory()).absolutePath(), folder);
      dialog->selectFile(QString::fromUtf8(c.typed));
      QMetaObject::invokeMethod(dialog, "accept");
    });
    EXPECT_EQ(AskSavePath(nullptr, QStringLiteral("Záloha linky"), QDir(folder).filePath(QStringLiteral("zaloha.qx510line")),
                          QStringLiteral("Linka QX-510 (*.qx510line)"), QStringLiteral("qx510line")),
              QDir(folder).filePath(QString::fromUtf8(c.saved)));
  }
}

// The reference's date typed as a Czech writes it or as ISO 8601; the calendar opens at today.
TEST(DateFieldTest, TakesTheDateTypedEitherWay) {
  const struct {
    const char* typed;
    QDate date;
  } cases[] = {{"31.5.2027", QDate(2027, 5, 31)}, {"31. 5. 2027", QDate(2027, 5, 31)}, {"2027-05-31", QDate(2027, 5, 31)},
               {"1.12.2026", QDate(2026, 12, 1)},  {"31.2.2027", QDate()},            {"2027-5-31", QDate()},
               {"31.5.", QDate()},                 {"", QDate()}};
  DateField field;
  field.show();
  for (const auto& c : cases) {
    // Whatever the field held goes with Ctrl+A.
    QTest::keyClick(field.edit(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field.edit(), Qt::Key_Delete);
    QTest::keyClicks(field.edit(), QString::fromUtf8(c.typed));
    EXPECT_EQ(field.date(), c.date) << c.typed;
    EXPECT_EQ(field.unreadable(), *c.typed != 0 && !c.date.isValid()) << c.typed;
  }
  field.findChild<QToolButton*>(QStringLiteral("DateCalendar"))->click();
  EXPECT_EQ(field.findChild<QCalendarWidget*>()->selectedDate(), QDate::currentDate());
}

class TrendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    for (int i = 0; i < 100; ++i) series_.append(t0_ + i * 0.1, 4.0 + i * 0.01);
    plot_.resize(800, 400);
    plot_.setSeries(&series_, QStringLiteral("mA"));
    plot_.show();
    plot_.setView(t0_ + 2.0, t0_ + 4.95);  // readings 20..49
  }
  QTemporaryDir dir_;
  const double t0_ = QDateTime(QDate(2024, 5, 2), QTime(8, 0)).toMSecsSinceEpoch() / 1000.0;
  TrendSeries series_;
  TrendPlot plot_;
};

TEST_F(TrendTest, ExportsTheShownSpanAsPictureAndCsv) {
  QString error;
  const QString png = dir_.filePath(QStringLiteral("trend.png"));
  ASSERT_TRUE(plot_.exportPng(png, error)) << error.toStdString();
  QImage image;
  ASSERT_TRUE(image.load(png, "PNG"));
  EXPECT_GE(image.width(), 320);
  // The picture says what it shows above the plot: a title band, not the plot's own white.
  QImage chart = plot_.plot()->toPixmap(plot_.plot()->width(), plot_.plot()->height()).toImage().convertToFormat(image.format());
  EXPECT_EQ(image.width(), chart.width());
  EXPECT_GT(image.height(), chart.height());
  EXPECT_EQ(image.copy(0, image.height() - chart.height(), chart.width(), chart.height()), chart);
  EXPECT_EQ(TrendSpanText(t0_ + 2.0, t0_ + 4.95, Czech), QStringLiteral("2. 5. 2024 08:00:02 – 08:00:04"));

  const QString csv = dir_.filePath(QStringLiteral("trend.csv"));
  ASSERT_TRUE(plot_.exportCsv(csv, error)) << error.toStdString();
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "the byte order mark a spreadsheet needs for the Czech letters";
  const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 31);
  EXPECT_EQ(lines[0], QStringLiteral("Čas;Místní čas;Hodnota [mA]"));
  for (int i = 1; i < lines.size(); ++i) {
    const QStringList cells = lines[i].split(QLatin1Char(';'));
    ASSERT_EQ(cells.size(), 3) << lines[i].toStdString();
    bool ok = false;
    EXPECT_NEAR(Czech.toDouble(cells[2], &ok), 4.0 + (19 + i) * 0.01, 1e-9);
    EXPECT_TRUE(ok) << cells[2].toStdString();
    const QDateTime at = QDateTime::fromString(cells[0], Qt::ISODateWithMs);
    EXPECT_NEAR(at.toMSecsSinceEpoch() / 1000.0, t0_ + (19 + i) * 0.1, 1e-3) << cells[0].toStdString();
    EXPECT_EQ(QDateTime::fromString(cells[1], CsvFormat::ForLocale(Czech).localTimePattern()), at) << cells[1].toStdString();
  }
  EXPECT_FALSE(plot_.exportCsv(dir_.filePath(QStringLiteral("chybí/trend.csv")), error));
  EXPECT_FALSE(error.isEmpty());
}

// An export that cannot be written whole (a full disk) leaves the earlier one; a device or
// FIFO chosen as the file is refused and stays what it was.
TEST_F(TrendTest, AFailedExportKeepsTheEarlierFile) {
  const std::vector<OddNode> nodes = OddNodes(dir_.path());
  const struct {
    const char* name;
    bool (TrendPlot::*write)(const QString&, QString&) const;
  } exports[] = {{"trend.png", &TrendPlot::exportPng}, {"trend.csv", &TrendPlot::exportCsv}};
  for (const auto& e : exports) {
    SCOPED_TRACE(e.name);
    const QString path = dir_.filePath(QString::fromLatin1(e.name));
    QString error;
    ASSERT_TRUE((plot_.*e.write)(path, error)) << error.toStdString();
    const QByteArray before = FileBytes(path);
    plot_.setView(t0_ + 1.0, t0_ + 8.0);
    {
      FileSizeLimit limit(100);
      EXPECT_FALSE((plot_.*e.write)(path, error));
    }
    EXPECT_EQ(error, QStringLiteral("soubor by byl větší, než systém dovoluje"));
    EXPECT_EQ(FileBytes(path), before);
    for (const OddNode& node : nodes) {
      EXPECT_FALSE((plot_.*e.write)(node.path, error));
      EXPECT_TRUE(error.startsWith(QStringLiteral("není obyčejný soubor"))) << error.toStdString();
      EXPECT_EQ(NodeType(node.path), node.type);
    }
  }
  EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("trend*")}, QDir::Files | QDir::Hidden),
            (QStringList{QStringLiteral("trend.csv"), QStringLiteral("trend.png")}));
}

TEST_F(TrendTest, ReadsOutTheReadingUnderTheCursorAndZoomsValuesWithCtrl) {
  QCustomPlot* chart = plot_.plot();
  const int x = int(chart->xAxis->coordToPixel(t0_ + 3.0));
  QTest::mouseMove(chart, QPoint(x, chart->height() / 2));
  EXPECT_EQ(plot_.readoutText(), QStringLiteral("Kurzor: 08:00:03,000  4,3 mA"));

  const QCPRange times = chart->xAxis->range(), values = chart->yAxis->range();
  const QPointF at(x, chart->height() / 2.0);
  QWheelEvent wheel(at, chart->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(chart, &wheel);
  EXPECT_EQ(chart->xAxis->range(), times);
  EXPECT_LT(chart->yAxis->range().size(), values.size());
  EXPECT_TRUE(plot_.valuesZoomed());
  plot_.redraw();
  EXPECT_LT(chart->yAxis->range().size(), values.size()) << "a repaint keeps the operator's value range";
  plot_.fitValues();
  EXPECT_NEAR(chart->yAxis->range().lower, values.lower, 1e-9);
  EXPECT_NEAR(chart->yAxis->range().upper, values.upper, 1e-9);
}

}  // namespace
