// The workbench in daily use on a 1366x768 laptop: placing, keys, sorting, remembered choices.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "base/settings/settings.h"
#include "base/config/line_file.h"
#include "line/poll/line_model.h"
#include "line/app/line_window.h"
#include "line/log/log_panel.h"
#include "line/app/module_detail_window.h"
#include "line/commission/commissioning_window.h"
#include "line/commission/line_rate_window.h"
#include "line/settings/line_settings_window.h"
#include "line/settings/module_settings_window.h"
#include "line/common/save_path.h"
#include "line/traffic/traffic_panel.h"
#include "line/trend/trend_plot.h"
#include "line/app/window_place.h"
#include "line/common/workbench_settings.h"
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
  ExpectMnemonicsUnique({w->openSettings(w->model()->row(0).module)}, "module settings");
  ExpectMnemonicsUnique({w->openLineSettings()}, "several modules' settings");
  ExpectMnemonicsUnique({w->openCommissioning()}, "commissioning");
  ExpectMnemonicsUnique({w->openLineRate()}, "line rate");
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

}  // namespace
