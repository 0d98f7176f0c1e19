#include "line/calibration/date_field.h"

#include <QCalendarWidget>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QToolButton>
#include <QWidgetAction>

DateField::DateField(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  edit_ = new QLineEdit(this);
  edit_->setObjectName(QStringLiteral("DateEdit"));
  setFocusProxy(edit_);
  auto* open = new QToolButton(this);
  open->setObjectName(QStringLiteral("DateCalendar"));
  open->setText(QStringLiteral("…"));
  open->setToolTip(QStringLiteral("Vybrat v kalendáři (Alt+šipka dolů)"));
  open->setFocusPolicy(Qt::NoFocus);
  popup_ = new QMenu(this);
  calendar_ = new QCalendarWidget(popup_);
  calendar_->setObjectName(QStringLiteral("DateCalendarView"));
  auto* action = new QWidgetAction(popup_);
  action->setDefaultWidget(calendar_);
  popup_->addAction(action);
  layout->addWidget(edit_, 1);
  layout->addWidget(open);
  // The calendar starts where the operator is: the date typed, else today.
  connect(popup_, &QMenu::aboutToShow, this, [this] {
    const QDate shown = date().isValid() ? date() : QDate::currentDate();
    calendar_->setSelectedDate(shown);
    calendar_->setCurrentPage(shown.year(), shown.month());
  });
  connect(calendar_, &QCalendarWidget::activated, this, [this](const QDate& picked) {
    setDate(picked);
    popup_->close();
    edit_->setFocus();
  });
  connect(calendar_, &QCalendarWidget::clicked, calendar_, &QCalendarWidget::activated);
  connect(open, &QToolButton::clicked, this, [this, open] { popup_->popup(open->mapToGlobal(QPoint(0, open->height()))); });
  auto* keyOpen = new QAction(edit_);
  keyOpen->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Down));
  keyOpen->setShortcutContext(Qt::WidgetShortcut);
  connect(keyOpen, &QAction::triggered, open, &QToolButton::click);
  edit_->addAction(keyOpen);
}

void DateField::setDate(const QDate& date) { edit_->setText(date.isValid() ? Text(date) : QString()); }

QString DateField::text() const { return edit_->text(); }

void DateField::setPlaceholderText(const QString& text) { edit_->setPlaceholderText(text); }

QDate DateField::Parse(const QString& text) {
  static const QRegularExpression czech(QStringLiteral("^\\s*(\\d{1,2})\\s*\\.\\s*(\\d{1,2})\\s*\\.\\s*(\\d{4})\\s*$"));
  static const QRegularExpression iso(QStringLiteral("^\\s*(\\d{4})-(\\d{2})-(\\d{2})\\s*$"));
  if (const QRegularExpressionMatch m = czech.match(text); m.hasMatch())
    return QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
  if (const QRegularExpressionMatch m = iso.match(text); m.hasMatch())
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  return {};
}

QString DateField::Text(const QDate& date) { return date.toString(QStringLiteral("d. M. yyyy")); }
