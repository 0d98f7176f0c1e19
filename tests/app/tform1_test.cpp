#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <stdexcept>

#include "base/settings/settings.h"
#include "app/tform1.h"

namespace {

QString Panel(const QWidget& w, int i) {
  auto* label = w.findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i));
  return label != nullptr ? label->text() : QStringLiteral("<missing>");
}

// Shows the window and checks that no panel cuts its text off (the offscreen font is wider
// than the one the widths were made for); QX510_GRAB_DIR, when set, receives a picture.
void ExpectPanelsFitTheirTexts(TForm1& form, const char* pictureName) {
  form.show();
  for (int i = 0; i < 4; ++i) {
    auto* panel = form.findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i));
    EXPECT_LE(panel->sizeHint().width(), panel->width()) << panel->text().toStdString();
  }
  const QString dir = qEnvironmentVariable("QX510_GRAB_DIR");
  if (!dir.isEmpty()) form.grab().save(QDir(dir).filePath(QLatin1String(pictureName)));
  form.hide();
}

// Closes whatever modal window a menu command opens and remembers its class, so a test can
// trigger commands whose windows may or may not exist yet without hanging.
class ModalCloser {
 public:
  ModalCloser() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        opened.append(QString::fromLatin1(modal->metaObject()->className()));
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        else modal->close();
      }
    });
    timer_.start();
  }
  QStringList opened;

 private:
  QTimer timer_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { SetConnectionSettingsPath(path); }
  void TearDown() override {
    SetConnectionSettingsPath(QString());
    TForm1::SetDataAllocator(nullptr);
  }
  QTemporaryDir dir;
  QString path = dir.filePath("W_qx510.ini");
};

TEST_F(MainWindowTest, CaptionSizeMenuAndStartTexts) {
  TForm1 form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral(" QX-510  (v.1.03)  -  nastavení modulu"));
  EXPECT_EQ(form.size(), QSize(600, 400));
  ASSERT_NE(form.findChild<QMenuBar*>("MainMenu1"), nullptr);

  struct Item {
    const char* name;
    QString caption;
    QStringList children;
  };
  const Item top[] = {
      {"Pipojen1", QStringLiteral("&Připojení"), {}},
      {"Nastaven1", QStringLiteral("&Nastavení"),
       {"AdresaRychlost1=Adresa, rychlost", "NastavAIN1=Analogové vstupy",
        "NastavDIO1=Digitální vstupy/výstupy", "Kalibracevstup1=Kalibrace vstupů"}},
      {"Okamithodnoty1", QStringLiteral("&Okamžité hodnoty"),
       {"OkamAIN2=Analogové vstupy", "OkamDIN2=Digitální vstupy", "OkamDOUT1=Digitální výstupy",
        "Statusregistr1=Status registr"}},
      {"Konec2", QStringLiteral("&Konec"), {}},
  };
  const QList<QAction*> actions = form.menuBar()->actions();
  ASSERT_EQ(actions.size(), 4);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(top[i].name);
    EXPECT_EQ(actions[i]->objectName(), QLatin1String(top[i].name));
    EXPECT_EQ(actions[i]->text(), top[i].caption);
    QStringList children;
    if (QMenu* menu = actions[i]->menu()) {
      for (QAction* a : menu->actions()) children.append(a->objectName() + "=" + a->text());
    }
    EXPECT_EQ(children, top[i].children);
  }

  EXPECT_EQ(Panel(form, 0), QStringLiteral(" Modul"));
  EXPECT_EQ(Panel(form, 1), QStringLiteral(" Adresa"));
  EXPECT_EQ(Panel(form, 2), QStringLiteral(" Rychlost"));
  EXPECT_EQ(Panel(form, 3), QString());
  const int widths[] = {140, 80, 120};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->width(), widths[i]);
  }
  EXPECT_GE(form.findChild<QLabel*>("StatusPanel3")->minimumWidth(), 50);
}

TEST_F(MainWindowTest, CreationAppliesDefaultsThenSavedSettings) {
  {
    TForm1 fresh;
    ASSERT_NE(fresh.data(), nullptr);
    EXPECT_EQ(fresh.data()->BaudRate, 9600);
    EXPECT_TRUE(fresh.data()->ModuleIdent.isEmpty());
  }
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[P\xF8ipojen\xED]\r\nRozhran\xED=ZC-1660\r\nAdresa=12\r\nRychlost=38400\r\n");
  f.close();
  TForm1 form;
  ASSERT_NE(form.data(), nullptr);
  EXPECT_EQ(form.data()->Interface, 3);
  EXPECT_EQ(form.data()->ModuleAddress, 12);
  EXPECT_EQ(form.data()->ResponseTimeout, 150);
  EXPECT_FALSE(form.data()->Connected);
  // The status bar shows the saved values only after the connection dialog.
  EXPECT_EQ(Panel(form, 1), QStringLiteral(" Adresa"));
}

TEST_F(MainWindowTest, ConnectionCommandRefreshesStatusBar) {
  TForm1 form;
  ModalCloser closer;
  form.Pipojen1->trigger();  // with no module identified yet
  EXPECT_EQ(closer.opened, QStringList{"TForm2"});
  EXPECT_EQ(Panel(form, 0), QStringLiteral(" Modul  "));
  EXPECT_EQ(Panel(form, 1), QStringLiteral(" Adresa  0"));
  EXPECT_EQ(Panel(form, 2), QStringLiteral(" Rychlost  9600Bd"));
  EXPECT_EQ(Panel(form, 3), QString());

  TData* d = form.data();
  d->ModuleIdent = QStringLiteral("QX-510") + QChar(0) + QStringLiteral(" v.") + QChar(0) + QStringLiteral("2.1");
  d->ModuleAddress = 255;
  d->BaudRate = 115200;
  form.RefreshStatusBar();
  EXPECT_EQ(Panel(form, 0), QStringLiteral(" Modul  QX-510 v.2.1"));
  EXPECT_EQ(Panel(form, 1), QStringLiteral(" Adresa  255"));
  EXPECT_EQ(Panel(form, 2), QStringLiteral(" Rychlost  115200Bd"));
  EXPECT_EQ(d->ModuleIdent.size(), 14);  // only the display drops the zero characters

  // The longest identification, address and rate fit their panels.
  d->ModuleIdent = QStringLiteral("QX-510MW v.1.03");
  d->ModuleAddress = 255;
  d->BaudRate = 115200;
  form.RefreshStatusBar();
  ExpectPanelsFitTheirTexts(form, "TForm1.png");
  // Short texts again: back to the panels' own widths.
  d->ModuleIdent.clear();
  d->ModuleAddress = 0;
  d->BaudRate = 600;
  form.RefreshStatusBar();
  const int widths[] = {140, 80, 120};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->width(), widths[i]);
}

TEST_F(MainWindowTest, FailedAllocationLeavesEveryCommandInert) {
  TForm1::SetDataAllocator([]() -> TData* { return nullptr; });
  TForm1 form;
  EXPECT_EQ(form.data(), nullptr);
  EXPECT_EQ(Panel(form, 3), QStringLiteral(" Nelze vytvořit datové struktury programu"));
  ExpectPanelsFitTheirTexts(form, "TForm1-no-data.png");

  ModalCloser closer;
  for (QAction* a : {form.Pipojen1, form.AdresaRychlost1, form.NastavAIN1, form.NastavDIO1, form.Kalibracevstup1,
                     form.OkamAIN2, form.OkamDIN2, form.OkamDOUT1, form.Statusregistr1}) {
    a->trigger();
  }
  EXPECT_TRUE(closer.opened.isEmpty()) << closer.opened.join(',').toStdString();
  EXPECT_EQ(Panel(form, 0), QStringLiteral(" Modul"));
  EXPECT_EQ(Panel(form, 1), QStringLiteral(" Adresa"));

  form.show();
  form.Konec2->trigger();
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(QFile::exists(path));  // nothing to save
}

// Stands in for any window the menu opens.
class ProbeWindow : public QDialog {
 public:
  static inline int alive = 0;
  static inline TForm1* seenParent = nullptr;
  static inline TData* seenData = nullptr;
  static inline bool wasModal = false;
  static inline bool throwFromExec = false;

  explicit ProbeWindow(QWidget* parent) : QDialog(parent) {
    ++alive;
    seenParent = qobject_cast<TForm1*>(parent);
  }
  ~ProbeWindow() override { --alive; }
  void setData(TData* data) { seenData = data; }
  int exec() {
    if (throwFromExec) throw std::runtime_error("window failed");
    QTimer::singleShot(0, this, [this] {
      wasModal = isModal() && QApplication::activeModalWidget() == this;
      reject();
    });
    return QDialog::exec();
  }
};

TEST_F(MainWindowTest, OpenedWindowIsOwnedHandedTheRecordModalAndDestroyed) {
  TForm1 form;
  ProbeWindow::throwFromExec = false;
  form.openModal<ProbeWindow>();
  EXPECT_EQ(ProbeWindow::seenParent, &form);
  EXPECT_EQ(ProbeWindow::seenData, form.data());
  EXPECT_TRUE(ProbeWindow::wasModal);
  EXPECT_EQ(ProbeWindow::alive, 0);
  EXPECT_TRUE(form.findChildren<QDialog*>().isEmpty());

  ProbeWindow::throwFromExec = true;
  EXPECT_THROW(form.openModal<ProbeWindow>(), std::runtime_error);
  EXPECT_EQ(ProbeWindow::alive, 0);

  TForm1::SetDataAllocator([]() -> TData* { return nullptr; });
  TForm1 empty;
  ProbeWindow::seenParent = nullptr;
  empty.openModal<ProbeWindow>();
  EXPECT_EQ(ProbeWindow::seenParent, nullptr);  // never created
}

TEST_F(MainWindowTest, ClosingSavesOnceAndReleasesTheRecord) {
  TForm1 form;
  form.show();
  form.data()->Interface = 1;
  form.data()->IsaBaseAddress = 0x2A0;
  form.data()->ModuleAddress = 7;
  form.Konec2->trigger();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.data(), nullptr);

  TData back;
  InitData(&back);
  ASSERT_TRUE(LoadConnectionSettings(&back, path));
  EXPECT_EQ(back.Interface, 1);
  EXPECT_EQ(back.IsaBaseAddress, 0x2A0);
  EXPECT_EQ(back.ModuleAddress, 7);

  // A second close finds no record and leaves the file alone.
  QFile::remove(path);
  form.show();
  form.close();
  form.FormClose();
  EXPECT_FALSE(QFile::exists(path));
}

TEST_F(MainWindowTest, FailedSaveAtCloseSaysSoOnStandardError) {
  SetConnectionSettingsPath(dir.filePath("missing/W_qx510.ini"));
  TForm1 form;
  ::testing::internal::CaptureStderr();
  form.FormClose();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("missing/W_qx510.ini"), std::string::npos) << err;
  EXPECT_EQ(form.data(), nullptr);
}

}  // namespace
