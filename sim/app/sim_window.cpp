#include "sim/app/sim_window.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "sim/app/fault_panel.h"
#include "sim/app/line_panel.h"
#include "sim/app/traffic_pane.h"
#include "sim/app/wire_panel.h"
#include "sim/sim_server.h"

namespace {

struct NamedBit {
  const char* name;
  uint32_t mask;
};
constexpr NamedBit NamedBits[] = {{"FN", SimModule::StatusFN},
                                  {"PRF", SimModule::StatusPRF},
                                  {"PWR", SimModule::StatusPWR},
                                  {"RST", SimModule::StatusRST},
                                  {"ERR24", SimModule::StatusERR24}};

QString Hex2(uint8_t v) { return QString("%1").arg(v, 2, 16, QChar('0')).toUpper(); }

QString LedStyle(bool on) {
  return QString("border-radius: 7px; border: 1px solid #555; background: %1;").arg(on ? "#2ecc40" : "#d0d0d0");
}

QString Reading(const SimModule& m) {
  const bool current = m.currentRange(0);
  const int32_t units = m.measureUnits(0);
  const QLocale locale;
  // mV as V, uA as mA: what the tool shows for the same answer.
  return current ? locale.toString(units / 1000.0, 'f', 3) + " mA" : locale.toString(units / 1000.0, 'f', 3) + " V";
}

}  // namespace

SimWindow::SimWindow(SimServer* server, const QString& udpHost, const std::string& statePath, QWidget* parent)
    : QWidget(parent), server_(server) {
  setWindowTitle("Simulátor modulu QX-510");
  line_ = new LinePanel(server_);
  faults_ = new FaultPanel(server_);
  wire_ = new WirePanel(server_);
  storeErrorLabel_ = new QLabel;
  storeErrorLabel_->setObjectName("StoreErrorLabel");
  storeErrorLabel_->setStyleSheet("color: #b00000; font-weight: bold;");
  storeErrorLabel_->setWordWrap(true);
  storeErrorLabel_->hide();

  auto* bench = new QWidget;
  auto* grid = new QGridLayout(bench);
  grid->addWidget(line_, 0, 0);
  grid->addWidget(faults_, 0, 1);
  grid->addWidget(buildModuleBox(udpHost, statePath), 1, 0, 1, 2);
  grid->addWidget(buildOutputsBox(), 2, 0);
  grid->addWidget(buildInputsBox(), 2, 1);
  grid->addWidget(buildAnalogBox(), 3, 0);
  grid->addWidget(buildMemoryBox(), 3, 1, 2, 1);
  grid->addWidget(buildStatusBox(), 4, 0);
  grid->addWidget(wire_, 5, 0);
  grid->setRowStretch(6, 1);
  auto* scroll = new QScrollArea;
  scroll->setObjectName("BenchScroll");
  scroll->setWidget(bench);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);

  traffic_ = new TrafficPane;
  auto* split = new QSplitter(Qt::Vertical);
  split->setObjectName("WindowSplitter");
  split->addWidget(scroll);
  split->addWidget(traffic_);
  split->setChildrenCollapsible(false);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(storeErrorLabel_);
  layout->addWidget(split, 1);
  traffic_->setMinimumHeight(160);
  scroll->setMinimumHeight(160);
  // A laptop's 1366 x 768 holds the window with its frame and the desktop's panels.
  resize(1300, 700);

  connect(line_, &LinePanel::selectionChanged, this, [this](int index) {
    faults_->setModule(line_->selectedId());
    wire_->setModule(line_->selectedId());
    shownOutputs_ = shownStatus_ = 0xFFFFFFFF;
    firstRefresh_ = true;  // another module's memory is no change
    for (QWidget* box : benchBoxes_) box->setEnabled(index >= 0);
    if (!refreshing_) refresh();  // else the refresh under way shows the module
  });
  timer_ = new QTimer(this);
  timer_->setObjectName("RefreshTimer");
  timer_->setSingleShot(true);
  timer_->setInterval(RefreshIntervalMs);
  connect(timer_, &QTimer::timeout, this, &SimWindow::refresh);
  server_->setChangeListener([this] { scheduleRefresh(); });
  refresh();
}

SimWindow::~SimWindow() { server_->setChangeListener({}); }

int SimWindow::selectedModule() const { return line_->selected(); }

// Wakes the window's thread once per refresh, however many changes come: the flag stays set
// until refresh() runs, so the changes of the next moment (a flood of requests among them)
// post nothing more and are shown together.
void SimWindow::scheduleRefresh() {
  if (refreshPosted_.exchange(true)) return;
  QMetaObject::invokeMethod(this, [this] {
    if (!timer_->isActive()) timer_->start();
  }, Qt::QueuedConnection);
}

// By identity: a module a script removed a moment ago is not replaced by its neighbour.
template <class F>
void SimWindow::onSelected(F&& f) {
  const uint64_t id = line_->selectedId();
  server_->withBus([&](SimBus& bus) {
    if (const int index = bus.indexOf(id); index >= 0) f(bus.module(index));
  });
}

QWidget* SimWindow::buildModuleBox(const QString& udpHost, const std::string& statePath) {
  auto* box = new QGroupBox("Vybraný modul");
  auto* row = new QHBoxLayout(box);
  identLabel_ = new QLabel;
  identLabel_->setObjectName("IdentLabel");
  identLabel_->setText(QString("Identifikace: %1 v.%2").arg(SimModule::Name, SimModule::FirmwareVersion));
  lineLabel_ = new QLabel;
  lineLabel_->setObjectName("LineLabel");
  powerBox_ = new QCheckBox("Napájení");
  powerBox_->setObjectName("PowerBox");
  powerBox_->setChecked(true);
  connect(powerBox_, &QCheckBox::toggled, this, [this](bool on) {
    onSelected([&](SimModule& m) { m.setPowered(on); });
    server_->storeNow();
  });
  auto* cycle = new QPushButton("Vypnout a zapnout");
  cycle->setObjectName("PowerCycleButton");
  connect(cycle, &QPushButton::clicked, this, [this] {
    onSelected([](SimModule& m) { m.powerCycle(); });
    server_->storeNow();
    powerBox_->setChecked(true);
  });
  QString where = QString("UDP %1:%2").arg(udpHost).arg(server_->udpPort());
  if (!server_->localPath().empty()) where += QString(", místní spojení %1").arg(QString::fromStdString(server_->localPath()));
  auto* endpoints = new QLabel(where);
  endpoints->setToolTip(statePath.empty() ? QString("Konfigurační paměť se neukládá.")
                                          : QString("Konfigurační paměť: %1").arg(QString::fromStdString(statePath)));
  row->addWidget(identLabel_);
  row->addSpacing(16);
  row->addWidget(lineLabel_);
  row->addStretch(1);
  row->addWidget(endpoints);
  row->addSpacing(16);
  row->addWidget(powerBox_);
  row->addWidget(cycle);
  benchBoxes_.push_back(powerBox_);
  benchBoxes_.push_back(cycle);
  return box;
}

QWidget* SimWindow::buildOutputsBox() {
  auto* box = new QGroupBox("Digitální výstupy (svorky)");
  benchBoxes_.push_back(box);
  auto* grid = new QGridLayout(box);
  for (int n = 0; n < 32; ++n) {
    auto* cell = new QVBoxLayout;
    auto* led = new QLabel;
    led->setObjectName(QString("Led%1").arg(n));
    led->setFixedSize(14, 14);
    led->setStyleSheet(LedStyle(false));
    led->setToolTip(QString("DOUT%1").arg(n));
    auto* caption = new QLabel(QString::number(n));
    caption->setAlignment(Qt::AlignHCenter);
    cell->addWidget(led, 0, Qt::AlignHCenter);
    cell->addWidget(caption);
    grid->addLayout(cell, n / 8, n % 8);
    leds_[size_t(n)] = led;
  }
  return box;
}

QWidget* SimWindow::buildInputsBox() {
  auto* box = new QGroupBox("Digitální vstupy (spínače)");
  benchBoxes_.push_back(box);
  auto* grid = new QGridLayout(box);
  grid->setSpacing(2);
  for (int n = 0; n < 32; ++n) {
    auto* b = new QToolButton;
    b->setObjectName(QString("Switch%1").arg(n));
    b->setText(QString::number(n));
    b->setCheckable(true);
    b->setToolTip(QString("DIN%1").arg(n));
    b->setMinimumWidth(30);
    b->setStyleSheet("QToolButton:checked { background: #f5c542; }");
    connect(b, &QToolButton::toggled, this, &SimWindow::applySwitches);
    grid->addWidget(b, n / 8, n % 8);
    switches_[size_t(n)] = b;
  }
  return box;
}

QWidget* SimWindow::buildAnalogBox() {
  auto* box = new QGroupBox("Analogový vstup 0");
  benchBoxes_.push_back(box);
  auto* form = new QFormLayout(box);
  voltageSpin_ = new QDoubleSpinBox;
  voltageSpin_->setObjectName("VoltageSpin");
  voltageSpin_->setRange(-12.5, 12.5);
  voltageSpin_->setDecimals(3);
  voltageSpin_->setSingleStep(0.1);
  voltageSpin_->setSuffix(" V");
  currentSpin_ = new QDoubleSpinBox;
  currentSpin_->setObjectName("CurrentSpin");
  currentSpin_->setRange(-25.0, 25.0);
  currentSpin_->setDecimals(3);
  currentSpin_->setSingleStep(0.1);
  currentSpin_->setSuffix(" mA");
  shortBox_ = new QCheckBox("Vstup zkratován");
  shortBox_->setObjectName("ShortBox");
  rangeLabel_ = new QLabel;
  readingLabel_ = new QLabel;
  readingLabel_->setObjectName("ReadingLabel");
  const SimModule m = server_->snapshot();
  voltageSpin_->setValue(m.sourceVoltage());
  currentSpin_->setValue(m.sourceCurrent());
  shortBox_->setChecked(m.shortCircuit());
  connect(voltageSpin_, &QDoubleSpinBox::valueChanged, this,
          [this](double v) { onSelected([&](SimModule& m) { m.setSourceVoltage(v); }); });
  connect(currentSpin_, &QDoubleSpinBox::valueChanged, this,
          [this](double v) { onSelected([&](SimModule& m) { m.setSourceCurrent(v); }); });
  connect(shortBox_, &QCheckBox::toggled, this, [this](bool on) { onSelected([&](SimModule& m) { m.setShortCircuit(on); }); });
  const auto& e = m.converterError();
  auto* error = new QLabel(QString("zesílení %1 %, posun %2 mV / %3 µA")
                               .arg(QLocale().toString((e.gain - 1.0) * 100.0, 'f', 1))
                               .arg(QLocale().toString(e.voltageOffsetMv, 'f', 0))
                               .arg(QLocale().toString(e.currentOffsetUa, 'f', 0)));
  form->addRow("Zdroj napětí (svorky 27, 28)", voltageSpin_);
  form->addRow("Zdroj proudu (svorky 28, 29)", currentSpin_);
  form->addRow("", shortBox_);
  form->addRow("Chyba převodníku", error);
  form->addRow("Rozsah", rangeLabel_);
  form->addRow("Hlášená hodnota", readingLabel_);
  return box;
}

QWidget* SimWindow::buildStatusBox() {
  auto* box = new QGroupBox("Status registr");
  benchBoxes_.push_back(box);
  auto* grid = new QGridLayout(box);
  statusValueLabel_ = new QLabel;
  statusValueLabel_->setObjectName("StatusValueLabel");
  grid->addWidget(new QLabel("Hodnota"), 0, 0);
  grid->addWidget(statusValueLabel_, 0, 1, 1, 4);
  int column = 0;
  for (const auto& bit : NamedBits) {
    auto* led = new QLabel;
    led->setFixedSize(14, 14);
    led->setStyleSheet(LedStyle(false));
    auto* raise = new QPushButton(bit.name);
    raise->setObjectName(QString("Raise%1").arg(bit.name));
    raise->setToolTip(QString("Nastavit bit %1").arg(bit.name));
    const uint32_t mask = bit.mask;
    connect(raise, &QPushButton::clicked, this, [this, mask] { onSelected([&](SimModule& m) { m.raiseStatusBits(mask); }); });
    grid->addWidget(led, 1, column, Qt::AlignHCenter);
    grid->addWidget(raise, 2, column);
    statusBitLabels_[size_t(column)] = led;
    ++column;
  }
  grid->addWidget(new QLabel("Příkaz 101 registr nuluje, zapnutí napájení nastaví PWR a RST."), 3, 0, 1, 5);
  return box;
}

QWidget* SimWindow::buildMemoryBox() {
  auto* box = new QGroupBox("Konfigurační paměť");
  benchBoxes_.push_back(box);
  auto* layout = new QVBoxLayout(box);
  memoryTable_ = new QTableWidget(8, 8);
  memoryTable_->setObjectName("MemoryTable");
  memoryTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  memoryTable_->setSelectionMode(QAbstractItemView::NoSelection);
  memoryTable_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  memoryTable_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  QStringList rows, columns;
  for (int i = 0; i < 8; ++i) {
    rows << QString("%1").arg(i * 8, 2, 10, QChar('0'));
    columns << QString("+%1").arg(i);
  }
  memoryTable_->setVerticalHeaderLabels(rows);
  memoryTable_->setHorizontalHeaderLabels(columns);
  for (int i = 0; i < 64; ++i) {
    auto* item = new QTableWidgetItem("00");
    item->setTextAlignment(Qt::AlignCenter);
    memoryTable_->setItem(i / 8, i % 8, item);
  }
  layout->addWidget(memoryTable_);
  layout->addWidget(new QLabel("Adresy desítkově, obsah šestnáctkově."));
  return box;
}

void SimWindow::applySwitches() {
  uint32_t v = 0;
  for (int n = 0; n < 32; ++n)
    if (switches_[size_t(n)]->isChecked()) v |= 1u << n;
  onSelected([&](SimModule& m) { m.setInputSwitches(v); });
}

// The bench controls follow the selected module, whoever changed it (the window, a script
// through the control channel); nothing is sent back while they do.
void SimWindow::showBench(const SimModule& m) {
  if (voltageSpin_->value() != m.sourceVoltage()) {
    const QSignalBlocker block(voltageSpin_);
    voltageSpin_->setValue(m.sourceVoltage());
  }
  if (currentSpin_->value() != m.sourceCurrent()) {
    const QSignalBlocker block(currentSpin_);
    currentSpin_->setValue(m.sourceCurrent());
  }
  if (shortBox_->isChecked() != m.shortCircuit()) {
    const QSignalBlocker block(shortBox_);
    shortBox_->setChecked(m.shortCircuit());
  }
  for (int n = 0; n < 32; ++n) {
    const bool on = (m.inputSwitches() >> n) & 1u;
    if (switches_[size_t(n)]->isChecked() == on) continue;
    const QSignalBlocker block(switches_[size_t(n)]);
    switches_[size_t(n)]->setChecked(on);
  }
  if (powerBox_->isChecked() != m.powered()) {
    const QSignalBlocker block(powerBox_);
    powerBox_->setChecked(m.powered());
  }
}

void SimWindow::showNoModule() {
  lineLabel_->setText("Není vybrán žádný modul");
  rangeLabel_->clear();
  readingLabel_->clear();
  statusValueLabel_->clear();
}

void SimWindow::refresh() {
  refreshPosted_ = false;  // from here on, a change wakes the window again
  timer_->stop();
  const QScopedValueRollback<bool> inRefresh(refreshing_, true);
  const SimBus bus = server_->busSnapshot();
  line_->refresh(bus);
  faults_->refresh(bus);
  wire_->refresh(bus);
  traffic_->refresh(*server_, bus);
  // Stays up until a store succeeds again: the engineer must not trust a memory that is gone
  // at the next start.
  const QString storeError = QString::fromStdString(server_->storeError());
  storeErrorLabel_->setText(storeError.isEmpty() ? QString()
                                                 : QString("Konfigurační paměť modulu se nepodařilo uložit: %1")
                                                       .arg(storeError));
  storeErrorLabel_->setVisible(!storeError.isEmpty());

  const int selected = line_->selected();
  if (selected < 0) {
    showNoModule();
    return;
  }
  const SimModule& m = bus.module(selected);
  lineLabel_->setText(QString("Adresa %1, %2 Bd").arg(m.busAddress()).arg(m.baudRate()));
  showBench(m);

  const uint32_t outputs = m.physicalOutputs();
  if (outputs != shownOutputs_) {
    for (int n = 0; n < 32; ++n) leds_[size_t(n)]->setStyleSheet(LedStyle((outputs >> n) & 1u));
    shownOutputs_ = outputs;
  }

  rangeLabel_->setText(m.currentRange(0) ? "0-20mA" : "0-10V");
  readingLabel_->setText(Reading(m));

  const uint32_t status = m.statusRegister();
  if (status != shownStatus_) {
    statusValueLabel_->setText(QString("%1").arg(status, 8, 16, QChar('0')).toUpper() + "h");
    for (size_t i = 0; i < statusBitLabels_.size(); ++i)
      statusBitLabels_[i]->setStyleSheet(LedStyle(status & NamedBits[i].mask));
    shownStatus_ = status;
  }

  for (int i = 0; i < 64; ++i) {
    auto* item = memoryTable_->item(i / 8, i % 8);
    const QString text = Hex2(m.configByte(i));
    if (item->text() != text) {
      item->setText(text);
      if (!firstRefresh_) item->setBackground(QColor("#fff3a0"));  // changed while running
    }
  }
  firstRefresh_ = false;
}
