// The main window's settings commands open the configuration windows, each with a fresh copy
// of the record's configuration image.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include "base/settings/settings.h"
#include "app/tform1.h"
#include "config_test_support.h"

TEST(ConfigMenu, EachCommandOpensItsWindowOnTheRecord) {
  QTemporaryDir dir;
  SetConnectionSettingsPath(dir.filePath("W_qx510.ini"));
  {
    TForm1 form;
    form.data()->ModuleConfig.AddressSetting = 42;
    const std::pair<QAction*, const char*> commands[] = {{form.AdresaRychlost1, "TForm12"},
                                                         {form.NastavAIN1, "TForm13"},
                                                         {form.NastavDIO1, "TForm14"}};
    for (auto [action, expected] : commands) {
      QString opened;
      ModuleConfigImage shown{};
      QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        opened = modal->metaObject()->className();
        auto* window = qobject_cast<ConfigWindow*>(modal);
        if (window == nullptr) return void(modal->close());
        shown = window->workingCopy();
        EXPECT_EQ(window->data(), form.data());
        Button(window, 4)->click();
      });
      action->trigger();
      EXPECT_EQ(opened, expected);
      EXPECT_EQ(shown, form.data()->ModuleConfig);
      EXPECT_TRUE(form.findChildren<ConfigWindow*>().isEmpty());
    }
  }
  SetConnectionSettingsPath(QString());
}
