#pragma once

#include <QWidget>
#include <optional>

#include "line/common/line_types.h"
#include "line/settings/settings_change.h"
#include "line/settings/settings_foot.h"
#include "line/settings/settings_run.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTableWidget;
class StatusBar;

// One setting for several modules of the line at once: the modules ticked, what to set (the
// range of input 0, or a digital field for a span of channels), then "Náhled" reads them and
// lists every byte that would change (module, named value, before and after); "Zapsat…" asks,
// backs the modules up (SettingsRun) and writes each with read-back, the result beside each
// module's rows; "Vrátit změnu…" restores the backup.
class LineSettingsWindow : public QWidget {
  Q_OBJECT
 public:
  LineSettingsWindow(LineWorker* worker, QWidget* parent = nullptr);

  // The line's modules, `ticked` of them ticked.
  void setModules(const QVector<LineModule>& line, const QVector<LineModule>& ticked);
  QVector<LineModule> ticked() const;
  void setChoice(const SettingChoice& choice);
  SettingChoice choice() const;
  QTableWidget* preview() const { return table_; }
  SettingsRun* run() const { return run_; }
  QString message() const;
  // A module of the line now answers at another place.
  void moved(const LineModule& from, const LineModule& to);
  void setQuestion(std::function<bool(const QString&)> ask) { ask_ = std::move(ask); }

  enum Column { ModuleColumn, SettingColumn, BeforeColumn, AfterColumn, ResultColumn, ColumnCount };

 public slots:
  void showPreview();
  void writeModules();
  void undoChange();

 private:
  void readDone(const QVector<ModuleSettings>& settings);
  void written(const QVector<ChangeReport>& reports, const QString& failure);
  void undone(const QVector<RestoreReport>& reports, bool stopped);
  void addRow(const LineModule& module, const QString& setting, const QString& before, const QString& after,
              const QString& result = QString());
  // The preview no longer holds (another choice, other modules).
  void dropPreview();
  void choiceKindChanged();
  void updateButtons();

  SettingsRun* run_;
  std::function<bool(const QString&)> ask_;
  QVector<LineModule> line_;
  QVector<SettingsWish> wishes_;  // the preview's modules that change
  SettingChoice previewed_;

  QListWidget* modules_;
  QComboBox* kind_;
  QSpinBox* first_;
  QSpinBox* last_;
  QComboBox* value_;
  QPushButton* previewButton_;
  QPushButton* write_;
  QPushButton* undo_;
  QTableWidget* table_;
  std::optional<SettingsFoot> foot_;
};
