#pragma once

#include <QHash>
#include <QMainWindow>
#include <functional>
#include <memory>

#include "base/settings/tdata.h"
#include "line/log/csv_log.h"
#include "line/poll/line_model.h"

class BackupPanel;
class CalibrationWizard;
class CommissioningWindow;
class LineRateWindow;
class ConnectionPanel;
class ExchangeObserver;
class ExchangeQueue;
class TrafficPanel;
class LineWorker;
class LineSettingsWindow;
class ModuleSettingsWindow;
class LogPanel;
class ModuleDetailWindow;
class MqttPanel;
class ElidedLabel;
class NumberSortProxy;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableView;
class QVBoxLayout;
class ScanPanel;
class StatusBar;
struct ModuleHistory;

// The workbench's main window: the connection, the line overview, the scan and the log.
// Every module exchange runs on the LineWorker's thread.
class LineWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit LineWindow(QWidget* parent = nullptr);
  ~LineWindow() override;

  // Where the line is kept between runs (LastLinePath() unless a test sets another).
  void setLinePath(const QString& path);
  QString linePath() const { return linePath_; }

  // The driver thread, started at its first use.
  LineWorker* worker();
  LineModel* model() { return &model_; }
  ConnectionPanel* connectionPanel() const { return connection_; }
  // The panes other than the overview, built at the first turn of the event loop or here.
  ScanPanel* scanPanel();
  LogPanel* logPanel();
  TrafficPanel* trafficPanel();
  BackupPanel* backupPanel();
  MqttPanel* mqttPanel();
  QTableView* overview();
  QTabWidget* tabs() const { return tabs_; }
  bool isConnected() const { return connected_; }
  QString statusText(int panel) const;
  ModuleDetailWindow* openDetail(int row);
  ModuleDetailWindow* detail(int row) const;
  // A module's settings window (one per module), and the one for several modules at once,
  // opened or raised; the overview's chosen row comes ticked.
  ModuleSettingsWindow* openSettings(const LineModule& module);
  LineSettingsWindow* openLineSettings();
  // "Uvedení do provozu" and "Změna rychlosti linky", opened or raised; the line follows both.
  CommissioningWindow* openCommissioning();
  LineRateWindow* openLineRate();
  // How the window asks the operator before it cuts a restore short or quits with a log or a
  // calibration running (AskYesNo unless a test answers instead); true: go ahead.
  void setQuestion(std::function<bool(const QString& text)> ask) { ask_ = std::move(ask); }

 public slots:
  void connectLine();
  void disconnectLine();
  void startPolling();
  void stopPolling();
  void saveLineAs();
  void loadLineFrom();
  // A module put on the line or taken off it by hand; nothing is written to any module.
  void addModule(const LineModule& module);
  void removeModule(int row);
  // A module answers at another place after its address or rate was written and it was
  // power-cycled: its entry follows it, and the line file is saved.
  void followModule(const LineModule& from, const LineModule& to);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void opened(uint32_t status, const QString& error);
  void readings(const QVector<ModuleReading>& polled);
  void commandDone(const CommandResult& r);
  void scanFinished(bool stopped, uint32_t status, const QString& error);
  void useModules(QVector<LineModule> modules, bool save);
  // Size and place on the screen the window opens on, the frame included (`frame` null: not
  // known yet); the place the operator left it when it still fits there.
  void placeOnScreen(const QMargins& frame);
  void keepOnScreen();
  void saveWindowPlace();
  void openSelectedDetail();
  static QString lineFileFolder();
  // The model's modules to the driver thread and the panes, and to the line file with `save`.
  void lineChanged(bool save);
  int selectedRow();
  void askAddModule();
  void buildPanes();
  void buildOverviewTable();
  void tick();
  void drainTraffic();
  void updatePollButtons();
  bool restoring() const;
  // A guided calibration between its start and its result.
  bool calibrating() const;
  void selectFirstRow();
  void shareTextColumns();
  // The name the operator typed, kept for the report, MQTT and the log; refused with the reason.
  void takeLineName();
  // Every reading of a module since its first, for its detail whether open or not.
  std::shared_ptr<ModuleHistory> history(int key);
  // The guided calibrations open: those of the details, and those taken over from details gone.
  QList<CalibrationWizard*> calibrations() const;
  // True when no restore runs, or the operator agreed to `question`; the restore is then
  // told to stop at the next byte.
  bool mayStopRestore(const QString& question);
  void backupFinished();

  TData settings_{};
  // Declared before the worker: the worker's thread exchanges until it is gone. Made at the
  // first connection.
  std::unique_ptr<ExchangeQueue> queue_;
  ExchangeObserver* previousObserver_ = nullptr;
  std::unique_ptr<LineWorker> worker_;
  LineModel model_;
  CsvLog log_;
  QString linePath_;
  bool connected_ = false;
  bool polling_ = false;
  bool scanning_ = false;
  bool placed_ = false;
  bool closeAfterRestore_ = false;  // the operator closed the window; it closes once the restore stopped
  bool closeAfterCalibration_ = false;  // likewise, once the calibrations cancelled have ended
  bool closeConfirmed_ = false;         // the operator agreed to lose the log or the calibration
  std::function<bool(const QString&)> ask_;
  qint64 readings_ = 0;
  PollRate rate_;
  QHash<int, ModuleDetailWindow*> details_;
  QHash<int, std::shared_ptr<ModuleHistory>> histories_;  // by ModuleKey

  ConnectionPanel* connection_;
  QTabWidget* tabs_;
  QTableView* table_ = nullptr;
  QVBoxLayout* overviewLayout_ = nullptr;
  QSpinBox* interval_;
  QPushButton* pollStart_;
  QPushButton* pollStop_;
  QPushButton* detailButton_;
  ElidedLabel* lineInfo_;
  QLineEdit* lineName_;
  NumberSortProxy* sorted_ = nullptr;  // the overview as shown: by address unless the operator sorts
  ScanPanel* scan_ = nullptr;
  LogPanel* logPanel_ = nullptr;
  TrafficPanel* traffic_ = nullptr;
  BackupPanel* backup_ = nullptr;
  MqttPanel* mqtt_ = nullptr;
  StatusBar* status_;
};
