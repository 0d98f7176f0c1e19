#pragma once

#include <QString>
#include <QVector>

#include "line/common/line_types.h"

class QLabel;
class QVBoxLayout;
class QWidget;
class StatusBar;

// What the workbench's settings windows share below their controls: the message of the last
// write or undo (red when it failed) and a status bar with the settings windows' texts.
struct SettingsFoot {
  QLabel* message;
  StatusBar* status;
  SettingsFoot(QWidget* window, QVBoxLayout* layout);
  void setMessage(const QString& text, bool failure = false);
};

// The question before an undo, and how it went, module by module; `failure` when any did not
// end as the backup has it.
QString UndoQuestion(const LineFile& backup, const QString& path);
QString UndoneText(const QVector<RestoreReport>& reports, bool stopped, bool& failure);
