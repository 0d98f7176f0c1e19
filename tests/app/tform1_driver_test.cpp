// Closing the main window against the scripted test driver: the driver is shut down only
// when a connection is up, once, after the settings were written.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "base/settings/settings.h"
#include "app/tform1.h"
#include "base/exchange/driver_loader.h"
#include "tests/support/scripted_driver.h"

namespace {

class MainWindowClose : public ::testing::Test {
 protected:
  void SetUp() override { SetConnectionSettingsPath(path); }
  void TearDown() override {
    SetConnectionSettingsPath(QString());
    if (DriverLibraryLoaded()) {
      uint32_t handle = 0x51;
      DriverDone(InterfaceSerial, &handle);
    }
  }
  QTemporaryDir dir;
  QString path = dir.filePath("W_qx510.ini");
};

TEST_F(MainWindowClose, ConnectedCloseShutsTheDriverDownOnce) {
  ScriptedDriver driver(InterfaceSerial);
  driver.setHandle(0x4711);
  TForm1 form;
  form.show();
  ConnectScripted(*form.data());
  ASSERT_TRUE(IsConnected(form.data()));
  form.data()->ModuleAddress = 42;
  driver.clearLog();

  form.Konec2->trigger();
  form.FormClose();  // a second close finds nothing left to do

  ASSERT_EQ(driver.count(LoggedCall::Done), 1);
  EXPECT_EQ(driver.calls().size(), 1u);
  EXPECT_EQ(driver.calls().front().handle, 0x4711u);
  EXPECT_FALSE(DriverLibraryLoaded());
  TData back;
  InitData(&back);
  ASSERT_TRUE(LoadConnectionSettings(&back, path));
  EXPECT_EQ(back.ModuleAddress, 42);
}

TEST_F(MainWindowClose, NoDriverCallWithoutAConnection) {
  struct Case {
    const char* name;
    bool connected;
    bool zeroHandle;
  };
  const Case cases[] = {{"flag down", false, false}, {"handle zero", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(path);
    ScriptedDriver driver(InterfaceSerial);
    TForm1 form;
    ConnectScripted(*form.data());
    form.data()->Connected = c.connected;
    if (c.zeroHandle) form.data()->DriverHandle = 0;
    driver.clearLog();
    form.close();
    EXPECT_EQ(driver.count(LoggedCall::Done), 0);
    EXPECT_TRUE(QFile::exists(path));
    uint32_t handle = 0x51;
    DriverDone(InterfaceSerial, &handle);
  }
}

}  // namespace
