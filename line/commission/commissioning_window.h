#pragma once

#include <QVector>
#include <QWidget>
#include <functional>
#include <optional>

#include "base/commission/commissioning.h"
#include "line/commission/commission_protocol.h"
#include "line/common/line_types.h"

class CommissionRun;
class LineWorker;
class PowerCycleFoot;
class QComboBox;
class QPushButton;
class QSpinBox;
class QTableWidget;

// "Uvedení do provozu": the engineer plans the modules to put in service (address, rate, tag)
// and the template configuration (none, a module of the line, a backup file); the delivery
// place of new modules is set once and kept in the workbench settings. Then module after
// module, each connected alone, the window drives the Commissioning on the driver thread,
// shows its steps, asks for the power cycle and, once the module answers at its new place with
// the planned image, hands it to the line (moduleCommissioned). A failed step says where the
// module answers now and may be run again. The session ends in a protocol (PDF).
class CommissioningWindow : public QWidget {
  Q_OBJECT
 public:
  enum PlanColumn { AddressColumn, RateColumn, TagColumn, StateColumn, PlanColumnCount };

  explicit CommissioningWindow(LineWorker* worker, QWidget* parent = nullptr);

  // The line as it stands: its modules may give the template, and their places are taken.
  void setLineModules(const QVector<LineModule>& modules);
  void setDelivery(const ModulePlace& place);
  ModulePlace delivery() const;
  void addPlanned(const ModulePlace& place, const QString& tag);
  // The template from a backup file (a module's backup, or FILE:ADDR of a line file).
  bool setTemplateFile(const QString& file);
  // How long a module may take to answer at its new place after the operator's word.
  void setPowerWaitMs(int ms) { powerWaitMs_ = ms; }

  CommissionRun* run() const { return run_; }
  QTableWidget* plan() const { return plan_; }
  QTableWidget* steps() const { return steps_; }
  bool waitingForPowerCycle() const;
  QString message() const;
  const CommissionProtocol& protocol() const { return protocol_; }
  bool saveProtocol(const QString& path, QString& error);

 public slots:
  // The first planned module not yet in service, from its first step.
  void startNext();
  void retryStep();
  void confirmPowerCycle();
  void cancelWork();
  void saveProtocolAs();

 signals:
  void moduleCommissioned(const LineModule& module);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void addPlanRow();
  void loadTemplateFile();
  // The plan's row `row` as a place: false with the reason in the message.
  bool plannedPlace(int row, ModulePlace& place, QString& error) const;
  void begin(const std::optional<ConfigImage>& image, const QString& type);
  void templateRead(const ConfigImage& image, const QString& type, const QString& error);
  void stepReport(CommissionStep step, const QString& text);
  void commissioned(bool ok);
  void record(bool ok);
  void say(const QString& text, bool failure = false);
  void updateButtons();

  CommissionRun* run_;
  QVector<LineModule> line_;
  std::optional<ConfigImage> fileTemplate_;
  QString fileTemplateType_, fileTemplateName_;
  int row_ = -1;  // the plan's row under way
  int powerWaitMs_ = 30000;
  CommissionProtocol protocol_;

  QSpinBox* deliveryAddress_;
  QComboBox* deliveryRate_;
  QComboBox* template_;
  QTableWidget* plan_;
  QTableWidget* steps_;
  PowerCycleFoot* foot_;
  QPushButton* start_;
  QPushButton* retry_;
  QPushButton* saveProtocol_;
};
