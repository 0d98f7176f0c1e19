#pragma once

#include <QDate>
#include <QWidget>

class QCalendarWidget;
class QLineEdit;
class QMenu;

// A date typed as a Czech writes it ("31. 5. 2027", "31.5.2027") or in ISO 8601
// ("2027-05-31"), or picked from a calendar that opens at the date typed, else at today. An
// empty field shows what is missing as a placeholder, not as text to type over.
class DateField : public QWidget {
  Q_OBJECT
 public:
  explicit DateField(QWidget* parent = nullptr);

  // The date typed; null when the field is empty or holds no date.
  QDate date() const { return Parse(text()); }
  // Something is typed that is no date.
  bool unreadable() const { return !text().trimmed().isEmpty() && date().isNull(); }
  void setDate(const QDate& date);
  QString text() const;
  QLineEdit* edit() const { return edit_; }
  void setPlaceholderText(const QString& text);

  // "31. 5. 2027", "31.5.2027", "31.05.2027", "2027-05-31"; a null date for anything else.
  static QDate Parse(const QString& text);
  // As the field writes a date: "31. 5. 2027".
  static QString Text(const QDate& date);

 private:
  QLineEdit* edit_;
  QMenu* popup_;
  QCalendarWidget* calendar_;
};
