#include "line/settings/settings_foot.h"

#include <QLabel>
#include <QVBoxLayout>

#include "base/text/czech_plural.h"
#include "line/settings/settings_change.h"
#include "ui/status_bar.h"

SettingsFoot::SettingsFoot(QWidget* window, QVBoxLayout* layout) : message(new QLabel(window)), status(new StatusBar(window)) {
  message->setObjectName(QStringLiteral("SettingsMessage"));
  message->setWordWrap(true);
  message->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(message);
  status->elideLongTexts();
  status->setText(QStringLiteral(" "));
  layout->addWidget(status);
  layout->setContentsMargins(9, 9, 9, 0);
}

void SettingsFoot::setMessage(const QString& text, bool failure) {
  message->setStyleSheet(failure ? QStringLiteral("color: #b00000; font-weight: bold") : QString());
  message->setText(text);
}

QString UndoQuestion(const LineFile& backup, const QString& path) {
  return QStringLiteral("Vrátit %1 do stavu zálohy z %2 (%3)? Adresa a rychlost se nevracejí.")
      .arg(CzechCount(backup.modules.size(), "modul", "moduly", "modulů"),
           backup.saved.toString(QStringLiteral("d. M. yyyy HH:mm:ss")), path);
}

QString UndoneText(const QVector<RestoreReport>& reports, bool stopped, bool& failure) {
  QStringList lines;
  failure = stopped;
  for (const RestoreReport& r : reports) {
    lines << QStringLiteral("modul %1: %2").arg(ModulePlace(r.module), r.text);
    failure = failure || !r.ok();
  }
  return QStringLiteral("Vrácení změny: ") + lines.join(QStringLiteral("; "));
}
