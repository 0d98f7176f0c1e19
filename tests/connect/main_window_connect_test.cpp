// The main window opens the connection dialog from its menu and shows the outcome in its
// status bar, against the scripted test driver.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "base/settings/settings.h"
#include "app/tform1.h"
#include "connect/tform2.h"
#include "tests/support/scripted_driver.h"

namespace {

class MainWindowConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.isValid());
    SetConnectionSettingsPath(scratch.filePath("W_qx510.ini"));
    main = std::make_unique<TForm1>();
    data = main->data();
    ASSERT_NE(data, nullptr);
  }

  void TearDown() override {
    if (data != nullptr && data->Connected) DisconnectScripted(*data);
    main.reset();
    SetConnectionSettingsPath(QString());
  }

  // Chooses "&Připojení" and lets `operate` work the dialog once it is up; the dialog is
  // closed with "Cancel" afterwards if `operate` left it open.
  void throughTheMenu(const std::function<void(TForm2&)>& operate) {
    bool seen = false;
    QTimer::singleShot(0, main.get(), [&] {
      auto* dialog = main->findChild<TForm2*>();
      ASSERT_NE(dialog, nullptr);
      ASSERT_TRUE(dialog->isVisible());
      seen = true;
      operate(*dialog);
      if (dialog->isVisible()) dialog->Button2Click();
    });
    main->Pipojen1->trigger();
    EXPECT_TRUE(seen) << "the menu command did not open the dialog";
    EXPECT_EQ(main->findChild<TForm2*>(), nullptr) << "the dialog outlived its session";
  }

  std::array<QString, 3> panels() const {
    return {main->StatusBar1->panelText(0), main->StatusBar1->panelText(1),
            main->StatusBar1->panelText(2)};
  }

  QTemporaryDir scratch;
  std::unique_ptr<TForm1> main;
  TData* data = nullptr;
};

TEST_F(MainWindowConnection, AConnectionMadeInTheDialogIsShownWithoutTheZeroCharacters) {
  ScriptedDriver drv(InterfaceSerial);
  drv.setAnswer(200, 0, {0, 'Q', 'X', '-', '5'});
  drv.setAnswer(200, 1, {0, '1', '0', 0, 0});
  drv.setAnswer(200, 2, {0, '1', '.', '0', 0x8A});
  throughTheMenu([](TForm2& dialog) {
    dialog.findChild<QLineEdit*>("Edit1")->setText("300");
    dialog.findChild<QComboBox*>("ComboBox1")->setCurrentIndex(7);
    dialog.Button1Click();
  });
  ASSERT_TRUE(data->Connected);
  const std::array<QString, 3> expected = {" Modul  QX-510 v.1.0Š", " Adresa  44",
                                           " Rychlost  57600Bd"};
  EXPECT_EQ(panels(), expected);
  EXPECT_EQ(data->ModuleIdent.size(), 15);  // the record keeps the zero characters
  // What the dialog stored stays after "Cancel" closed it.
  EXPECT_EQ(data->DriverHandle, 0x51u);
}

}  // namespace
