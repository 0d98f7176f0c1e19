#include "line/app/line_window.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstdio>

#include "base/text/baud.h"
#include "base/exchange/exchange_queue.h"
#include "base/settings/settings.h"
#include "line/connect/add_module_dialog.h"
#include "line/backup/backup_panel.h"
#include "line/poll/bit_strip.h"
#include "line/calibration/calibration_wizard.h"
#include "line/connect/connection_panel.h"
#include "line/common/elided_label.h"
#include "base/config/line_file.h"
#include "line/poll/line_worker.h"
#include "line/log/log_panel.h"
#include "line/app/module_detail_window.h"
#include "line/publish/mqtt_panel.h"
#include "line/common/number_sort.h"
#include "line/app/report_dialog.h"
#include "line/common/save_path.h"
#include "line/connect/scan_panel.h"
#include "line/traffic/traffic_panel.h"
#include "line/app/window_place.h"
#include "line/commission/commissioning_window.h"
#include "line/commission/line_rate_window.h"
#include "line/settings/line_settings_window.h"
#include "line/settings/module_settings_window.h"
#include "line/common/workbench_settings.h"
#include "mqtt/mqtt_messages.h"
#include "ui/question.h"
#include "ui/return_key.h"
#include "ui/status_bar.h"

namespace {

QString FailureStyle() { return QStringLiteral("color: #b00000; font-weight: bold"); }

// A window of the line opened or brought to the front.
template <typename W>
W* Raised(W* w) {
  w->show();
  w->raise();
  w->activateWindow();
  return w;
}

}  // namespace

LineWindow::LineWindow(QWidget* parent)
    : QMainWindow(parent) {
  setObjectName(QStringLiteral("LineWindow"));
  setWindowTitle(QStringLiteral("QX-510 Linka"));
  ask_ = [this](const QString& text) { return AskYesNo(this, windowTitle(), text); };
  InitData(&settings_);
  LoadConnectionSettings(&settings_);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  connection_ = new ConnectionPanel(central);
  connection_->setSettings(settings_);
  connection_->setLineRate(settings_.BaudRate);
  layout->addWidget(connection_);

  tabs_ = new QTabWidget(central);
  tabs_->setObjectName(QStringLiteral("Tabs"));
  layout->addWidget(tabs_, 1);

  auto* overview = new QWidget(tabs_);
  overview->setObjectName(QStringLiteral("OverviewPage"));
  auto* ol = new QVBoxLayout(overview);
  auto* controls = new QHBoxLayout;
  auto* intervalLabel = new QLabel(QStringLiteral("Interval kola dota&zování"), overview);
  controls->addWidget(intervalLabel);
  interval_ = new QSpinBox(overview);
  intervalLabel->setBuddy(interval_);
  interval_->setObjectName(QStringLiteral("PollInterval"));
  interval_->setRange(0, 60000);
  interval_->setSingleStep(50);
  interval_->setValue(100);
  interval_->setSuffix(QStringLiteral(" ms"));
  interval_->setSpecialValueText(QStringLiteral("nejrychleji"));
  controls->addWidget(interval_);
  // Made in the order they stand, which is the order Tab takes them in.
  const auto button = [overview, controls](const char* text, const char* name) {
    auto* b = new QPushButton(QString::fromUtf8(text), overview);
    b->setObjectName(QLatin1String(name));
    controls->addWidget(b);
    return b;
  };
  pollStart_ = button("Spustit dotazo&vání", "PollStart");
  pollStop_ = button("Zastavit dot&azování", "PollStop");
  controls->addStretch(1);
  detailButton_ = button("D&etail modulu…", "DetailButton");
  auto* add = button("Přidat &modul…", "AddModule");
  auto* remove = button("Odeb&rat modul", "RemoveModule");
  auto* save = button("U&ložit linku jako…", "SaveLine");
  auto* load = button("&Načíst linku…", "LoadLine");
  auto* report = button("&Protokol linky…", "LineReport");
  connect(add, &QPushButton::clicked, this, &LineWindow::askAddModule);
  connect(remove, &QPushButton::clicked, this, [this] { removeModule(selectedRow()); });
  ol->addLayout(controls);
  ol->addStretch(1);  // the table's place until buildPanes puts it there
  overviewLayout_ = ol;
  auto* bottom = new QHBoxLayout;
  auto* nameLabel = new QLabel(QStringLiteral("Název link&y"), overview);
  lineName_ = new QLineEdit(WorkbenchLineName(), overview);
  lineName_->setObjectName(QStringLiteral("LineName"));
  lineName_->setPlaceholderText(MqttDefaultLineName());
  lineName_->setToolTip(QStringLiteral("Jedno jméno linky pro protokol linky, témata MQTT a názvy souborů záznamu"));
  lineName_->setMaximumWidth(220);
  nameLabel->setBuddy(lineName_);
  lineInfo_ = new ElidedLabel(overview);  // one line whatever it says: the table does not jump
  lineInfo_->setObjectName(QStringLiteral("LineInfo"));
  lineInfo_->setElideMode(Qt::ElideMiddle);
  bottom->addWidget(nameLabel);
  bottom->addWidget(lineName_);
  bottom->addSpacing(12);
  bottom->addWidget(lineInfo_, 1);
  // Below the table rather than in the row above it, which already takes a laptop's width.
  auto* settings = new QPushButton(QStringLiteral("&Hromadné nastavení…"), overview);
  settings->setObjectName(QStringLiteral("LineSettings"));
  connect(settings, &QPushButton::clicked, this, &LineWindow::openLineSettings);
  bottom->addWidget(settings);
  // Every other letter of "Uvedení do provozu" is taken on this page (the connection's included).
  auto* commission = new QPushButton(QStringLiteral("Uveden&í do provozu…"), overview);
  commission->setObjectName(QStringLiteral("Commissioning"));
  connect(commission, &QPushButton::clicked, this, &LineWindow::openCommissioning);
  bottom->addWidget(commission);
  auto* lineRate = new QPushButton(QStringLiteral("Změna ry&chlosti linky…"), overview);
  lineRate->setObjectName(QStringLiteral("LineRate"));
  connect(lineRate, &QPushButton::clicked, this, &LineWindow::openLineRate);
  bottom->addWidget(lineRate);
  ol->addLayout(bottom);
  connect(lineName_, &QLineEdit::editingFinished, this, &LineWindow::takeLineName);
  tabs_->addTab(overview, QStringLiteral("Přehled linky"));

  // The table and the other panes are built once the window is on the screen (buildPanes):
  // the item views' first set-up is the dearest part of the start.
  for (const QString& title : {QStringLiteral("Hledání modulů"), QStringLiteral("Záznam do souboru"),
                               QStringLiteral("Záloha a obnova"), QStringLiteral("Provoz na lince"),
                               QStringLiteral("Publikování MQTT")}) {
    auto* page = new QWidget(tabs_);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    tabs_->addTab(page, title);
  }

  setCentralWidget(central);
  status_ = new StatusBar(this, {300, 260, 0, 300});
  // A long path (the log's) is cut, never widening the window past the screen.
  status_->elideLongTexts();
  setStatusBar(status_);
  status_->setPanelText(0, QStringLiteral(" Nepřipojeno"));
  status_->setPanelText(1, QStringLiteral(" Dotazování neběží"));
  status_->setPanelText(2, QStringLiteral(" Záznam neběží"));
  status_->setPanelText(3, QStringLiteral(" MQTT neběží"));

  connect(connection_, &ConnectionPanel::connectRequested, this, &LineWindow::connectLine);
  connect(connection_, &ConnectionPanel::disconnectRequested, this, &LineWindow::disconnectLine);
  connect(pollStart_, &QPushButton::clicked, this, &LineWindow::startPolling);
  connect(pollStop_, &QPushButton::clicked, this, &LineWindow::stopPolling);
  connect(interval_, &QSpinBox::valueChanged, this, [this] {
    if (polling_) worker()->setPolling(true, interval_->value(), settings_.ResponseTimeout);
  });
  connect(detailButton_, &QPushButton::clicked, this, &LineWindow::openSelectedDetail);
  connect(save, &QPushButton::clicked, this, &LineWindow::saveLineAs);
  connect(load, &QPushButton::clicked, this, &LineWindow::loadLineFrom);
  connect(report, &QPushButton::clicked, this, [this] { SaveLineReportAs(this); });

  connect(tabs_, &QTabWidget::currentChanged, this, &LineWindow::buildPanes);

  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &LineWindow::tick);
  timer->start(200);
  auto* trafficTimer = new QTimer(this);
  connect(trafficTimer, &QTimer::timeout, this, &LineWindow::drainTraffic);
  trafficTimer->start(100);

  // Tabs by keyboard from anywhere in the window, not only from the tab bar.
  const auto step = [this](int by) { tabs_->setCurrentIndex((tabs_->currentIndex() + by + tabs_->count()) % tabs_->count()); };
  for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(1); });
  for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_Backtab),
                                   QKeySequence(Qt::CTRL | Qt::Key_PageUp)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [step] { step(-1); });

  // Ctrl+Q ends the program from any of its windows; closeEvent asks when something would be lost.
  auto* quit = new QAction(QStringLiteral("Ukončit"), this);
  quit->setObjectName(QStringLiteral("Quit"));
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  quit->setShortcutContext(Qt::ApplicationShortcut);
  connect(quit, &QAction::triggered, this, &QWidget::close);
  addAction(quit);

  KeepReturnFromButtons(this);
  updatePollButtons();
  placeOnScreen(QMargins());
  setLinePath(LastLinePath());
}

QTableView* LineWindow::overview() {
  buildPanes();
  return table_;
}

void LineWindow::buildOverviewTable() {
  table_ = new QTableView(tabs_->widget(0));
  table_->setObjectName(QStringLiteral("Overview"));
  sorted_ = new NumberSortProxy(table_);
  sorted_->setSourceModel(&model_);
  table_->setModel(sorted_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(LineModel::Address, Qt::AscendingOrder);
  table_->setItemDelegate(new BitStripDelegate(table_));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->setColumnWidth(LineModel::Address, 70);
  table_->setColumnWidth(LineModel::Rate, 85);
  table_->setColumnWidth(LineModel::Ident, 125);
  table_->setColumnWidth(LineModel::Ain0, 100);
  table_->setColumnWidth(LineModel::Inputs, BitStripWidth + 8);
  table_->setColumnWidth(LineModel::Outputs, BitStripWidth + 8);
  table_->setColumnWidth(LineModel::StatusReg, 105);
  // The texts that grow (how a module fails, its last error, its exchanges) share whatever
  // width the window has (shareTextColumns); a cell still too narrow has its whole text in the
  // tooltip.
  // In the stretch's place, between the controls and the line's line of text.
  delete overviewLayout_->takeAt(1);
  overviewLayout_->insertWidget(1, table_, 1);
  // Tab takes the table after the row of buttons above it, the line's name after it.
  setTabOrder(tabs_->widget(0)->findChild<QPushButton*>(QStringLiteral("LineReport")), table_);
  setTabOrder(table_, lineName_);
  setTabOrder(lineName_, tabs_->widget(0)->findChild<QPushButton*>(QStringLiteral("LineSettings")));
  connect(table_, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { openDetail(sorted_->mapToSource(index).row()); });
  table_->installEventFilter(this);
  table_->viewport()->installEventFilter(this);
  table_->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* addAction = new QAction(QStringLiteral("Přidat modul…"), table_);
  auto* removeAction = new QAction(QStringLiteral("Odebrat modul z linky"), table_);
  connect(addAction, &QAction::triggered, this, &LineWindow::askAddModule);
  connect(removeAction, &QAction::triggered, this, [this] { removeModule(selectedRow()); });
  table_->addActions({addAction, removeAction});
  selectFirstRow();
}

LineWorker* LineWindow::worker() {
  if (!worker_) {
    // Its thread starts at the first need, after the window has shown.
    worker_ = std::make_unique<LineWorker>();
    connect(worker_.get(), &LineWorker::opened, this, &LineWindow::opened);
    connect(worker_.get(), &LineWorker::readings, this, &LineWindow::readings);
    connect(worker_.get(), &LineWorker::commandDone, this, &LineWindow::commandDone);
    connect(worker_.get(), &LineWorker::scanFinished, this, &LineWindow::scanFinished);
    worker_->setModules(model_.modules());
  }
  return worker_.get();
}

void LineWindow::buildPanes() {
  if (scan_ != nullptr) return;
  buildOverviewTable();
  auto place = [this](int tab, QWidget* pane) { tabs_->widget(tab)->layout()->addWidget(pane); };
  scan_ = new ScanPanel(tabs_->widget(1));
  place(1, scan_);
  logPanel_ = new LogPanel(&log_, tabs_->widget(2));
  place(2, logPanel_);
  backup_ = new BackupPanel(worker(), tabs_->widget(3));
  place(3, backup_);
  traffic_ = new TrafficPanel(tabs_->widget(4));
  place(4, traffic_);
  mqtt_ = new MqttPanel(tabs_->widget(5));
  place(5, mqtt_);
  connect(mqtt_, &MqttPanel::stateChanged, this, [this] { status_->setPanelText(3, mqtt_->summary()); });

  connect(scan_, &ScanPanel::scanRequested, this, [this](ScanPlan plan) {
    if (plan.baudCodes.isEmpty()) return scan_->finished(false, 1, QStringLiteral("Vyberte aspoň jednu rychlost."));
    plan.restoreBaudCode = BaudRateToCode(settings_.BaudRate);
    plan.restoreTimeoutMs = settings_.ResponseTimeout;
    scanning_ = true;
    scan_->started();
    updatePollButtons();
    worker()->scan(plan);
  });
  connect(scan_, &ScanPanel::stopRequested, worker(), [this] { worker()->stopScan(); }, Qt::DirectConnection);
  connect(scan_, &ScanPanel::adoptRequested, this, [this](const QVector<LineModule>& modules) { useModules(modules, true); });
  connect(backup_, &BackupPanel::finished, this, &LineWindow::backupFinished);
  connect(logPanel_, &LogPanel::stateChanged, this, [this] { status_->setPanelText(2, logPanel_->summary()); });
  connect(worker(), &LineWorker::scanProgress, scan_, &ScanPanel::progress);
  connect(worker(), &LineWorker::scanFound, scan_, &ScanPanel::moduleFound);
  connect(worker(), &LineWorker::scanConflict, scan_, &ScanPanel::conflictFound);

  const QVector<LineModule> modules = model_.modules();
  if (scan_ != nullptr) {
    logPanel_->setModules(modules);
    backup_->setModules(modules);
    traffic_->setModules(modules);
    mqtt_->setModules(modules);
  }
  if (scan_ != nullptr) {
    scan_->setConnected(connected_);
    backup_->setConnected(connected_);
  }
}

ScanPanel* LineWindow::scanPanel() {
  buildPanes();
  return scan_;
}

LogPanel* LineWindow::logPanel() {
  buildPanes();
  return logPanel_;
}

TrafficPanel* LineWindow::trafficPanel() {
  buildPanes();
  return traffic_;
}

BackupPanel* LineWindow::backupPanel() {
  buildPanes();
  return backup_;
}

MqttPanel* LineWindow::mqttPanel() {
  buildPanes();
  return mqtt_;
}

LineWindow::~LineWindow() {
  log_.stop();
  qDeleteAll(details_);
  details_.clear();
  // Calibrations taken over from details gone: they write back through the worker.
  qDeleteAll(findChildren<CalibrationWizard*>(QString(), Qt::FindDirectChildrenOnly));
  // A commissioning or rate change may hold the driver thread waiting for the operator's power
  // cycle: their end gives it up, else the worker's thread would never end.
  qDeleteAll(findChildren<CommissioningWindow*>(QString(), Qt::FindDirectChildrenOnly));
  qDeleteAll(findChildren<LineRateWindow*>(QString(), Qt::FindDirectChildrenOnly));
  worker_.reset();  // its thread ends here: no exchange after this
  if (queue_) SetExchangeObserver(previousObserver_);
}

void LineWindow::drainTraffic() {
  if (!queue_) return;
  const auto take = [this](const ExchangeRecord& r) {
    // A scan's tries mostly meet no module: they are no failures of the modules polled.
    if (worker_ && worker_->scanTry(r.startNs)) return;
    model_.addExchange(r);
    if (mqtt_ != nullptr) mqtt_->addExchange(r);
  };
  if (traffic_ != nullptr) return traffic_->drain(*queue_, take);
  ExchangeRecord r;
  while (queue_->pop(r)) take(r);
}

void LineWindow::setLinePath(const QString& path) {
  linePath_ = path;
  LineFile line;
  QString error;
  if (path.isEmpty() || !QFile::exists(path)) {
    useModules({}, false);
    lineInfo_->setText(QStringLiteral("Linka zatím není známa: připojte se a vyhledejte moduly."));
    return;
  }
  if (!LoadLineFile(path, line, error)) {
    useModules({}, false);
    lineInfo_->setText(QStringLiteral("Uloženou linku nelze načíst: ") + error);
    lineInfo_->setStyleSheet(FailureStyle());
    return;
  }
  useModules(line.modules, false);
}

void LineWindow::useModules(QVector<LineModule> modules, bool save) {
  // Every list of the line in address order, as an operator looks modules up; a scan finds
  // them by rate.
  std::stable_sort(modules.begin(), modules.end(), [](const LineModule& a, const LineModule& b) {
    return std::pair(a.address, a.baudCode) < std::pair(b.address, b.baudCode);
  });
  // A calibration under way outlives the detail it was opened from: it has yet to leave the
  // module as found and to keep its record.
  for (CalibrationWizard* c : calibrations())
    if (c->parent() != this && (c->running() || c->ending())) {
      c->setParent(this, c->windowFlags());
      c->show();
    }
  qDeleteAll(details_);
  details_.clear();
  model_.setModules(modules);
  lineChanged(save);
}

void LineWindow::lineChanged(bool save) {
  const QVector<LineModule> modules = model_.modules();
  if (worker_) worker_->setModules(modules);
  // Every module is polled with the one response timeout: the slowest rate decides whether it is enough.
  int32_t slowest = modules.isEmpty() ? settings_.BaudRate : BaudCodeToRate(modules.front().baudCode);
  for (const LineModule& m : modules) slowest = std::min(slowest, BaudCodeToRate(m.baudCode));
  connection_->setLineRate(slowest);
  if (scan_ != nullptr) {
    logPanel_->setModules(modules);
    backup_->setModules(modules);
    traffic_->setModules(modules);
    mqtt_->setModules(modules);
  }
  if (auto* w = findChild<LineSettingsWindow*>(QString(), Qt::FindDirectChildrenOnly)) w->setModules(modules, w->ticked());
  if (auto* w = findChild<CommissioningWindow*>(QString(), Qt::FindDirectChildrenOnly)) w->setLineModules(modules);
  if (auto* w = findChild<LineRateWindow*>(QString(), Qt::FindDirectChildrenOnly)) w->setModules(modules);
  lineInfo_->setStyleSheet(QString());
  lineInfo_->setText(QStringLiteral("Modulů na lince: %1. Soubor linky: %2").arg(modules.size()).arg(linePath_));
  // Only what is still on the line keeps its history.
  for (auto it = histories_.begin(); it != histories_.end();)
    it = std::any_of(modules.begin(), modules.end(), [&](const LineModule& m) { return ModuleKey(m) == it.key(); })
             ? std::next(it)
             : histories_.erase(it);
  selectFirstRow();
  if (save && !linePath_.isEmpty()) {
    QString error;
    if (!SaveLineFile(linePath_, LineFile{QDateTime::currentDateTime(), modules, {}}, error)) {
      lineInfo_->setText(QStringLiteral("Linku nelze uložit do %1: %2").arg(linePath_, error));
      lineInfo_->setStyleSheet(FailureStyle());
    }
  }
  updatePollButtons();
}

void LineWindow::addModule(const LineModule& module) {
  if (model_.rowOf(module.address, module.baudCode) >= 0) {
    lineInfo_->setText(QStringLiteral("Modul s adresou %1 a rychlostí %2 Bd na lince už je.")
                           .arg(module.address)
                           .arg(BaudCodeToRate(module.baudCode)));
    lineInfo_->setStyleSheet(FailureStyle());
    return;
  }
  model_.addModule(module);
  lineChanged(true);
}

void LineWindow::removeModule(int row) {
  if (row < 0 || row >= model_.rowCount()) return;
  // Nothing is written to the module: it only leaves the polling and the line file.
  delete details_.take(ModuleKey(model_.row(row).module));
  model_.removeModule(row);
  lineChanged(true);
}

ModuleSettingsWindow* LineWindow::openSettings(const LineModule& module) {
  ModuleSettingsWindow* w = nullptr;
  for (ModuleSettingsWindow* open : findChildren<ModuleSettingsWindow*>(QString(), Qt::FindDirectChildrenOnly))
    if (open->module() == module) w = open;
  if (w == nullptr) {
    w = new ModuleSettingsWindow(worker(), module, this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    connect(w, &ModuleSettingsWindow::moduleMoved, this, &LineWindow::followModule);
  }
  return Raised(w);
}

LineSettingsWindow* LineWindow::openLineSettings() {
  auto* w = findChild<LineSettingsWindow*>(QString(), Qt::FindDirectChildrenOnly);
  if (w == nullptr) {
    w = new LineSettingsWindow(worker(), this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    const int row = selectedRow();
    w->setModules(model_.modules(), row >= 0 ? QVector<LineModule>{model_.row(row).module} : QVector<LineModule>{});
  }
  return Raised(w);
}

CommissioningWindow* LineWindow::openCommissioning() {
  auto* w = findChild<CommissioningWindow*>(QString(), Qt::FindDirectChildrenOnly);
  if (w == nullptr) {
    w = new CommissioningWindow(worker(), this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setLineModules(model_.modules());
    connect(w, &CommissioningWindow::moduleCommissioned, this, &LineWindow::addModule);
  }
  return Raised(w);
}

LineRateWindow* LineWindow::openLineRate() {
  auto* w = findChild<LineRateWindow*>(QString(), Qt::FindDirectChildrenOnly);
  if (w == nullptr) {
    w = new LineRateWindow(worker(), this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setModules(model_.modules());
    connect(w, &LineRateWindow::lineFollowed, this, [this](const QVector<LineModule>& modules) { useModules(modules, true); });
  }
  return Raised(w);
}

void LineWindow::followModule(const LineModule& from, const LineModule& to) {
  const int row = model_.rowOf(from.address, from.baudCode);
  if (row < 0) return;
  if (model_.rowOf(to.address, to.baudCode) >= 0) {
    lineInfo_->setText(QStringLiteral("Modul %1 odpovídá na adrese %2 (%3 Bd), kde linka už jeden modul má; linka nezměněna.")
                           .arg(from.address)
                           .arg(to.address)
                           .arg(BaudCodeToRate(to.baudCode)));
    lineInfo_->setStyleSheet(FailureStyle());
    return;
  }
  delete details_.take(ModuleKey(from));
  if (auto* w = findChild<LineSettingsWindow*>(QString(), Qt::FindDirectChildrenOnly)) w->moved(from, to);
  model_.removeModule(row);
  model_.addModule(to);
  lineChanged(true);
}

void LineWindow::shareTextColumns() {
  // By what each usually says: a state is short, the exchanges' line the longest.
  const std::pair<int, int> shares[] = {{LineModel::State, 22}, {LineModel::LastError, 33}, {LineModel::Exchanges, 45}};
  int fixed = 0;
  for (int c = 0; c < LineModel::ColumnCount; ++c)
    if (c != LineModel::State && c != LineModel::LastError && c != LineModel::Exchanges) fixed += table_->columnWidth(c);
  const int free = std::max(0, table_->viewport()->width() - fixed);
  for (const auto& [column, percent] : shares) table_->setColumnWidth(column, std::max(48, free * percent / 100));
}

void LineWindow::selectFirstRow() {
  // A row is always chosen, so that Return and Alt+E open a detail from the start.
  if (table_ == nullptr || sorted_->rowCount() == 0 || table_->selectionModel()->hasSelection()) return;
  table_->selectionModel()->setCurrentIndex(sorted_->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void LineWindow::takeLineName() {
  if (lineName_->text().trimmed() == WorkbenchLineName()) return;
  QString error;
  if (!SetWorkbenchLineName(lineName_->text(), error)) {
    lineInfo_->setText(QStringLiteral("Název linky nelze použít: ") + error);
    lineInfo_->setStyleSheet(FailureStyle());
    lineName_->setText(WorkbenchLineName());
    return;
  }
  lineName_->setText(WorkbenchLineName());
  if (mqtt_ != nullptr) mqtt_->setLineName(WorkbenchLineName());
  lineChanged(false);
}

int LineWindow::selectedRow() {
  const QModelIndexList rows = overview()->selectionModel()->selectedRows();
  if (rows.isEmpty()) return -1;
  QModelIndex index = rows.first();
  // The view may show the rows through a sorting proxy.
  while (index.isValid() && index.model() != &model_) {
    const auto* proxy = qobject_cast<const QAbstractProxyModel*>(index.model());
    if (proxy == nullptr) return -1;
    index = proxy->mapToSource(index);
  }
  return index.isValid() ? index.row() : -1;
}

void LineWindow::askAddModule() {
  AddModuleDialog dialog(this);
  if (dialog.exec() == QDialog::Accepted) addModule(dialog.module());
}

QString LineWindow::statusText(int panel) const { return status_->panelText(panel); }

void LineWindow::connectLine() {
  QString error;
  if (!connection_->settings(settings_, error)) {
    connection_->setStatusText(error, true);
    return;
  }
  buildPanes();  // the traffic pane sees every exchange from the first on
  if (!queue_) {
    // Installed before the first exchange, and only then: the queue's megabytes are not part
    // of the start.
    queue_ = std::make_unique<ExchangeQueue>(1 << 16);
    previousObserver_ = SetExchangeObserver(queue_.get());
  }
  // What came over the line before belongs to the connection before: the statistics start anew.
  drainTraffic();
  model_.resetExchanges();
  if (mqtt_ != nullptr) mqtt_->resetStatistics();
  connection_->setBusy(true);
  connection_->setStatusText(QStringLiteral("Připojuje se…"), false);
  worker()->open(settings_);
}

void LineWindow::opened(uint32_t status, const QString& error) {
  connected_ = status == 0;
  connection_->setConnected(connected_);
  connection_->setBusy(false);
  if (scan_ != nullptr) {
    scan_->setConnected(connected_);
    backup_->setConnected(connected_);
  }
  if (!connected_) {
    connection_->setStatusText(QStringLiteral("Chyba inicializace připojení - ") + error, true);
    status_->setPanelText(0, QStringLiteral(" Nepřipojeno"));
    updatePollButtons();
    return;
  }
  QString saveError;
  const bool saved = SaveConnectionSettings(&settings_, ConnectionSettingsPath(), &saveError);
  connection_->setStatusText(saved ? QStringLiteral("Připojeno; linka je obsazena tímto programem.")
                                   : QStringLiteral("Připojeno, ale nastavení nelze uložit do %1: %2")
                                         .arg(ConnectionSettingsPath(), saveError),
                             !saved);
  status_->setPanelText(0, QStringLiteral(" Připojeno"));
  model_.setWatch(LineModel::Watch::NotPolling);
  if (model_.rowCount() > 0) startPolling();
  updatePollButtons();
}

QList<CalibrationWizard*> LineWindow::calibrations() const {
  QList<CalibrationWizard*> open = findChildren<CalibrationWizard*>(QString(), Qt::FindDirectChildrenOnly);
  for (ModuleDetailWindow* w : std::as_const(details_))
    if (CalibrationWizard* c = w->calibrationWizard()) open.append(c);
  return open;
}

bool LineWindow::restoring() const { return backup_ != nullptr && backup_->restoring(); }

bool LineWindow::calibrating() const {
  const QList<CalibrationWizard*> open = calibrations();
  return std::any_of(open.begin(), open.end(), [](CalibrationWizard* c) { return c->running() || c->ending(); });
}

bool LineWindow::mayStopRestore(const QString& question) {
  if (!restoring()) return true;
  if (!ask_(QStringLiteral("Právě se obnovují moduly. ") + question)) return false;
  worker()->stopScan();
  return true;
}

void LineWindow::disconnectLine() {
  if (!mayStopRestore(QStringLiteral("Odpojením se obnova zastaví po bajtu, který se právě zapisuje, a modul může "
                                     "zůstat zapsán jen zčásti. Přesto odpojit?")))
    return;
  stopPolling();
  worker()->stopScan();
  // A calibration under way writes back what it changed before the line is given up: its
  // write-back is queued on the driver thread ahead of the close.
  for (CalibrationWizard* c : calibrations()) c->cancelCalibration();
  worker()->close();
  connected_ = false;
  connection_->setConnected(false);
  connection_->setStatusText(QStringLiteral("Odpojeno"), false);
  if (scan_ != nullptr) {
    scan_->setConnected(false);
    backup_->setConnected(false);
  }
  model_.setWatch(LineModel::Watch::Disconnected);
  for (ModuleDetailWindow* w : std::as_const(details_)) w->pollingStopped(true);
  status_->setPanelText(0, QStringLiteral(" Nepřipojeno"));
  updatePollButtons();
}

void LineWindow::startPolling() {
  if (!connected_) return;
  if (!polling_) rate_.start(QDateTime::currentMSecsSinceEpoch(), readings_);
  polling_ = true;
  model_.setWatch(LineModel::Watch::Polling);
  worker()->setPolling(true, interval_->value(), settings_.ResponseTimeout);
  updatePollButtons();
}

void LineWindow::stopPolling() {
  polling_ = false;
  worker()->setPolling(false, interval_->value(), settings_.ResponseTimeout);
  model_.setWatch(connected_ ? LineModel::Watch::NotPolling : LineModel::Watch::Disconnected);
  status_->setPanelText(1, QStringLiteral(" Dotazování neběží"));
  for (ModuleDetailWindow* w : std::as_const(details_)) w->pollingStopped();
  updatePollButtons();
}

void LineWindow::updatePollButtons() {
  pollStart_->setEnabled(connected_ && !polling_ && !scanning_ && model_.rowCount() > 0);
  pollStop_->setEnabled(polling_);
  detailButton_->setEnabled(model_.rowCount() > 0);
}

void LineWindow::readings(const QVector<ModuleReading>& polled) {
  for (const ModuleReading& r : polled) {
    ++readings_;
    model_.apply(r);
    const int key = ModuleKey(r.address, r.baudCode);
    if (r.ok) history(key)->add(r);
    if (ModuleDetailWindow* w = details_.value(key)) w->addReading(r);
    QString error;
    if (log_.active() && !log_.write(r, error)) logPanel_->logFailed(error);
  }
  if (mqtt_ != nullptr) mqtt_->publish(polled);
}

void LineWindow::commandDone(const CommandResult& r) {
  model_.applyCommand(r);
  if (ModuleDetailWindow* w = details_.value(ModuleKey(r.address, r.baudCode))) w->commandDone(r);
}

void LineWindow::scanFinished(bool stopped, uint32_t status, const QString& error) {
  scanning_ = false;
  scan_->finished(stopped, status, error);
  if (!stopped && status == 0) useModules(scan_->found(), true);
  updatePollButtons();
  if (polling_) worker()->setPolling(true, interval_->value(), settings_.ResponseTimeout);
}

void LineWindow::tick() {
  model_.flush();
  if (polling_) {
    rate_.add(QDateTime::currentMSecsSinceEpoch(), readings_);
    status_->setPanelText(1, QStringLiteral(" Dotazování: ") + rate_.text());
  }
  if (logPanel_ != nullptr) status_->setPanelText(2, logPanel_->summary());
  // Quitting waits until every calibration asked to end has left its module as found.
  if (closeAfterCalibration_ && !calibrating()) {
    closeAfterCalibration_ = false;
    close();
  }
}

std::shared_ptr<ModuleHistory> LineWindow::history(int key) {
  std::shared_ptr<ModuleHistory>& kept = histories_[key];
  if (!kept) kept = std::make_shared<ModuleHistory>();
  return kept;
}

ModuleDetailWindow* LineWindow::detail(int row) const {
  if (row < 0 || row >= model_.rowCount()) return nullptr;
  const LineModule& m = model_.row(row).module;
  return details_.value(ModuleKey(m.address, m.baudCode));
}

ModuleDetailWindow* LineWindow::openDetail(int row) {
  if (row < 0 || row >= model_.rowCount()) return nullptr;
  const LineModel::Row& r = model_.row(row);
  const int key = ModuleKey(r.module.address, r.module.baudCode);
  ModuleDetailWindow* w = details_.value(key);
  if (w == nullptr) {
    // The trend goes back to the module's first reading, not to the detail's opening.
    w = new ModuleDetailWindow(r.module, worker(), history(key));
    w->setOutputs(r.outputs);
    if (r.last) w->addReading(*r.last);
    if (model_.watch() != LineModel::Watch::Polling) w->pollingStopped(model_.watch() == LineModel::Watch::Disconnected);
    connect(w, &ModuleDetailWindow::settingsRequested, this, &LineWindow::openSettings);
    details_.insert(key, w);
  }
  return Raised(w);
}

QString LineWindow::lineFileFolder() {
  // The kept line lives in a hidden folder; the operator's own copies belong among his documents.
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

void LineWindow::saveLineAs() {
  const QString path = AskSavePath(this, QStringLiteral("Uložit linku"), lineFileFolder(),
                                   QStringLiteral("Linka QX-510 (*.qx510line)"), QStringLiteral("qx510line"));
  if (path.isEmpty()) return;
  QString error;
  if (!SaveLineFile(path, LineFile{QDateTime::currentDateTime(), model_.modules(), {}}, error)) {
    lineInfo_->setText(QStringLiteral("Linku nelze uložit do %1: %2").arg(path, error));
    lineInfo_->setStyleSheet(FailureStyle());
    return;
  }
  // An earlier failure no longer holds.
  lineInfo_->setStyleSheet(QString());
  lineInfo_->setText(QStringLiteral("Modulů na lince: %1. Soubor linky: %2; uložena také do %3")
                         .arg(model_.rowCount()).arg(linePath_, path));
}

void LineWindow::loadLineFrom() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Načíst linku"), lineFileFolder(),
                                                    QStringLiteral("Linka QX-510 (*.qx510line)"));
  if (path.isEmpty()) return;
  LineFile line;
  QString error;
  if (!LoadLineFile(path, line, error)) {
    lineInfo_->setText(QStringLiteral("Linku nelze načíst: ") + error);
    lineInfo_->setStyleSheet(FailureStyle());
    return;
  }
  useModules(line.modules, true);
}

void LineWindow::placeOnScreen(const QMargins& frame) {
  QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  std::optional<QRect> saved;
  if (stored.contains(QStringLiteral("okno/geometrie"))) saved = stored.value(QStringLiteral("okno/geometrie")).toRect();
  QScreen* screen = saved ? QGuiApplication::screenAt(saved->center()) : nullptr;
  if (screen == nullptr) screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return resize(1280, 720);
  const QRect client = PlaceWindow(screen->availableGeometry(), frame.isNull() ? AssumedFrame : frame, QSize(1360, 760),
                                   minimumSizeHint(), saved);
  setGeometry(client);
}

void LineWindow::keepOnScreen() {
  QScreen* screen = this->screen();
  if (screen == nullptr || windowHandle() == nullptr) return;
  // The window manager has said what its frame takes by now; a frame that sticks out (the
  // status bar below the screen's edge) is placed again with it.
  if (!screen->availableGeometry().contains(frameGeometry())) placeOnScreen(windowHandle()->frameMargins());
}

void LineWindow::saveWindowPlace() {
  QSettings stored(WorkbenchSettingsPath(), QSettings::IniFormat);
  stored.setValue(QStringLiteral("okno/geometrie"), normalGeometry());
  stored.setValue(QStringLiteral("okno/maximalizovano"), isMaximized());
  QString error;
  if (!SaveWorkbenchSettings(stored, error))
    std::fprintf(stderr, "qx510-line: %s\n", (QStringLiteral("velikost okna nelze uložit: ") + error).toUtf8().constData());
}

void LineWindow::openSelectedDetail() {
  const QModelIndexList rows = overview()->selectionModel()->selectedRows();
  if (!rows.isEmpty()) openDetail(sorted_->mapToSource(rows.first()).row());
}

void LineWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!placed_) {
    placed_ = true;
    if (QSettings(WorkbenchSettingsPath(), QSettings::IniFormat).value(QStringLiteral("okno/maximalizovano")).toBool())
      setWindowState(windowState() | Qt::WindowMaximized);
  }
  if (scan_ == nullptr && windowHandle() != nullptr) windowHandle()->installEventFilter(this);
}

bool LineWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
    windowHandle()->removeEventFilter(this);
    keepOnScreen();
    QTimer::singleShot(0, this, &LineWindow::buildPanes);
  }
  if (table_ != nullptr && watched == table_->viewport() && event->type() == QEvent::Resize) shareTextColumns();
  if (watched == table_ && event->type() == QEvent::KeyPress) {
    // Return opens the detail: it only shows, it writes nothing to the module.
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      openSelectedDetail();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void LineWindow::closeEvent(QCloseEvent* event) {
  // A restore cut short leaves a module partly written: the operator says so first, and the
  // window stays until the restore has stopped and told how far it got.
  if (restoring()) {
    event->ignore();
    if (closeAfterRestore_ ||
        !mayStopRestore(QStringLiteral("Zavřením okna se obnova zastaví po bajtu, který se právě zapisuje, a modul "
                                       "může zůstat zapsán jen zčásti. Přesto zavřít?")))
      return;
    closeAfterRestore_ = true;
    status_->setPanelText(1, QStringLiteral(" Obnova se zastavuje…"));
    return;
  }
  // What a close would lose is asked about once: a log that stops, a calibration cut short.
  // A calibration then ends as its own cancel ends it, the module written back and its record
  // kept, and the window closes once that is done.
  const bool calibrating = this->calibrating();
  if (!closeConfirmed_ && (log_.active() || calibrating)) {
    QStringList lost;
    if (log_.active()) lost << QStringLiteral("Běží záznam do souboru %1; ukončením se zastaví.").arg(log_.fileName());
    if (calibrating)
      lost << QStringLiteral("Běží kalibrace; ukončením se zruší a modul se vrátí do stavu před kalibrací.");
    if (!ask_(lost.join(QLatin1Char(' ')) + QStringLiteral(" Přesto ukončit?"))) {
      event->ignore();
      return;
    }
    closeConfirmed_ = true;
  }
  if (calibrating) {
    event->ignore();
    if (!closeAfterCalibration_)
      for (CalibrationWizard* c : calibrations()) c->cancelCalibration();
    closeAfterCalibration_ = true;
    status_->setPanelText(1, QStringLiteral(" Kalibrace se ruší, pak se program ukončí…"));
    return;
  }
  for (ModuleDetailWindow* w : std::as_const(details_)) w->close();
  for (CalibrationWizard* c : calibrations()) c->close();
  log_.stop();
  saveWindowPlace();
  QMainWindow::closeEvent(event);
}

void LineWindow::backupFinished() {
  if (!closeAfterRestore_) return;
  closeAfterRestore_ = false;
  // The window goes: what the restore left in the modules stays on the terminal.
  std::fprintf(stderr, "qx510-line: %s\n", (QStringLiteral("okno zavřeno během obnovy. ") + backup_->message()).toUtf8().constData());
  close();
}
