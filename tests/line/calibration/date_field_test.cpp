// The calibration's reference date: typed either way, the calendar at today.

#include <gtest/gtest.h>

#include <QCalendarWidget>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "line/calibration/date_field.h"

namespace {

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

}  // namespace
