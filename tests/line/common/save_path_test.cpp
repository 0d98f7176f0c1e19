// The save dialogs' extension and the overview's sorting of cells as they read.

#include <gtest/gtest.h>

#include <QVariant>

#include "line/common/number_sort.h"
#include "line/common/save_path.h"

namespace {

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

}  // namespace
