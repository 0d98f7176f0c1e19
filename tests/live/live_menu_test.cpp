#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <functional>

#include "base/settings/tdata.h"
#include "app/tform1.h"
#include "live/tform11.h"
#include "live/tform15.h"
#include "live/tform3.h"
#include "live/tform9.h"

namespace {

// Each menu item opens its own window modally, hands it the main window's record, and
// destroys it when it closes.
TEST(LiveMenu, EachItemOpensItsWindowWithTheSharedRecord) {
  struct Item {
    const char* action;
    const char* title;
    QSize clientSize;
    std::function<bool(QWidget*)> isRightClass;
  };
  const Item items[] = {
      {"OkamAIN2", "Okamžité hodnoty analogových vstupů", QSize(375, 164), [](QWidget* w) { return qobject_cast<TForm3*>(w) != nullptr; }},
      {"OkamDIN2", "Okamžité hodnoty digitálních vstupů", QSize(436, 282), [](QWidget* w) { return qobject_cast<TForm11*>(w) != nullptr; }},
      {"OkamDOUT1", "Zápis na digitální výstupy", QSize(410, 271), [](QWidget* w) { return qobject_cast<TForm9*>(w) != nullptr; }},
      {"Statusregistr1", "Status registr", QSize(400, 276), [](QWidget* w) { return qobject_cast<TForm15*>(w) != nullptr; }},
  };
  TForm1 main;
  ASSERT_NE(main.data(), nullptr);
  for (const Item& item : items) {
    SCOPED_TRACE(item.action);
    auto* action = main.findChild<QAction*>(QString::fromLatin1(item.action));
    ASSERT_NE(action, nullptr);
    QPointer<QWidget> opened;
    bool rightClass = false;
    QString title;
    QSize size;
    TData* record = nullptr;
    QTimer::singleShot(0, &main, [&] {
      opened = QApplication::activeModalWidget();
      if (opened == nullptr) return;
      rightClass = item.isRightClass(opened);
      title = opened->windowTitle();
      size = opened->size();
      if (auto* w = qobject_cast<ModuleWindow*>(opened.data())) record = w->data();
      opened->close();
    });
    action->trigger();
    EXPECT_TRUE(rightClass) << "no modal window of the item's class";
    EXPECT_EQ(title, QString::fromUtf8(item.title));
    EXPECT_EQ(size, item.clientSize);
    EXPECT_EQ(record, main.data());
    EXPECT_TRUE(opened.isNull()) << "the window outlived its menu command";
  }
}

}  // namespace
