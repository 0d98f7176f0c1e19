#include "line/connect/scan_panel.h"

#include <QCheckBox>
#include <QColor>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "base/exchange/address_conflict.h"
#include "base/text/baud.h"
#include "base/text/number_text.h"
#include "base/wire/wire_budget.h"
#include "line/common/elided_label.h"
#include "line/common/number_sort.h"

ScanPanel::ScanPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ScanPanel"));
  auto* layout = new QVBoxLayout(this);

  auto* plan = new QGroupBox(QStringLiteral("Co prohledat"), this);
  auto* grid = new QGridLayout(plan);
  auto spin = [plan](const char* name, int lo, int hi, int value) {
    auto* s = new QSpinBox(plan);
    s->setObjectName(QLatin1String(name));
    s->setRange(lo, hi);
    s->setValue(value);
    return s;
  };
  first_ = spin("FirstAddress", 0, 255, 0);
  last_ = spin("LastAddress", 0, 255, 255);
  // 0 leaves each rate its own: what the wire needs plus the adapter's and the host's share.
  timeout_ = spin("ScanTimeout", 0, 5000, 0);
  timeout_->setSpecialValueText(QStringLiteral("podle rychlosti"));
  timeout_->setToolTip(QStringLiteral("Podle rychlosti: na sériovém zařízení ticho na vedení a doba zpracování v modulu "
                                      "(při 9600 Bd %1 ms, při 600 Bd %2 ms) + časovač latence převodníku + rezerva, "
                                      "kterou hledání změří na prvních nalezených modulech; přes simulátor celá výměna "
                                      "na vedení + rezerva")
                           .arg(LeastResponseTimeoutMs(TimeoutBasis::FromRequestEnd, 9600))
                           .arg(LeastResponseTimeoutMs(TimeoutBasis::FromRequestEnd, 600)));
  auto* firstLabel = new QLabel(QStringLiteral("&Adresy od"), plan);
  firstLabel->setBuddy(first_);
  grid->addWidget(firstLabel, 0, 0);
  grid->addWidget(first_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("do"), plan), 0, 2);
  grid->addWidget(last_, 0, 3);
  auto* timeoutLabel = new QLabel(QStringLiteral("Ti&meout pokusu [ms]"), plan);
  timeoutLabel->setBuddy(timeout_);
  grid->addWidget(timeoutLabel, 0, 4);
  grid->addWidget(timeout_, 0, 5);
  grid->addWidget(new QLabel(QStringLiteral("Rychlosti"), plan), 1, 0);
  auto* rateRow = new QHBoxLayout;
  const QStringList items = BaudRateItems();
  for (int code = 0; code < BaudCodeCount; ++code) {
    auto* box = new QCheckBox(items[code], plan);
    box->setObjectName(QStringLiteral("Rate%1").arg(code));
    box->setChecked(true);
    rates_.append(box);
    rateRow->addWidget(box);
  }
  rateRow->addStretch(1);
  grid->addLayout(rateRow, 1, 1, 1, 6);
  grid->setColumnStretch(6, 1);
  layout->addWidget(plan);

  auto* run = new QHBoxLayout;
  start_ = new QPushButton(QStringLiteral("&Hledat moduly"), this);
  start_->setObjectName(QStringLiteral("ScanButton"));
  stop_ = new QPushButton(QStringLiteral("&Zastavit"), this);
  stop_->setObjectName(QStringLiteral("StopScanButton"));
  adopt_ = new QPushButton(QStringLiteral("&Převzít nalezené do linky"), this);
  adopt_->setObjectName(QStringLiteral("AdoptButton"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("ScanProgress"));
  bar_->setRange(0, 1);
  bar_->setValue(0);
  left_ = new QLabel(this);
  left_->setObjectName(QStringLiteral("TimeLeft"));
  left_->setMinimumWidth(150);
  run->addWidget(start_);
  run->addWidget(stop_);
  run->addWidget(bar_, 1);
  run->addWidget(left_);
  run->addWidget(adopt_);
  layout->addLayout(run);

  result_ = new QLabel(this);
  result_->setObjectName(QStringLiteral("ScanResult"));
  KeepWrappedLabelNarrow(result_);
  layout->addWidget(result_);

  table_ = new QTableWidget(0, 6, this);
  table_->setObjectName(QStringLiteral("FoundTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Adresa"), QStringLiteral("Rychlost"), QStringLiteral("Identifikace"),
                                     QStringLiteral("Odezva [ms]"), QStringLiteral("Vedení [ms]"), QStringLiteral("Poznámka")});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->setColumnWidth(2, 170);
  table_->setColumnWidth(3, 110);
  table_->setColumnWidth(4, 110);
  // Address order, as the overview: a header that was never clicked would sort descending.
  table_->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
  table_->setSortingEnabled(true);
  layout->addWidget(table_, 1);

  connect(start_, &QPushButton::clicked, this, [this] { emit scanRequested(this->plan()); });
  connect(stop_, &QPushButton::clicked, this, &ScanPanel::stopRequested);
  connect(adopt_, &QPushButton::clicked, this, [this] { emit adoptRequested(found_); });
  updateButtons();
}

ScanPlan ScanPanel::plan() const {
  ScanPlan p;
  p.firstAddress = std::min(first_->value(), last_->value());
  p.lastAddress = std::max(first_->value(), last_->value());
  p.timeoutMs = timeout_->value();
  for (int code = 0; code < rates_.size(); ++code)
    if (rates_[code]->isChecked()) p.baudCodes.append(code);
  return p;
}

void ScanPanel::setConnected(bool connected) {
  connected_ = connected;
  updateButtons();
}

void ScanPanel::updateButtons() {
  start_->setEnabled(connected_ && !running_);
  stop_->setEnabled(running_);
  adopt_->setEnabled(!running_ && !found_.isEmpty() && adopt_->property("offered").toBool());
}

void ScanPanel::started() {
  running_ = true;
  found_.clear();
  conflicts_.clear();
  table_->setRowCount(0);
  result_->clear();
  left_->clear();
  adopt_->setProperty("offered", false);
  bar_->setRange(0, 1);
  bar_->setValue(0);
  updateButtons();
}

void ScanPanel::progress(int done, int total, qint64 elapsedMs) {
  bar_->setRange(0, std::max(1, total));
  bar_->setValue(done);
  if (done > 0 && done < total)
    left_->setText(QStringLiteral("zbývá asi %1").arg(DurationText(TimeLeftMs(done, total, elapsedMs) / 1000)));
  else if (done >= total)
    left_->setText(QStringLiteral("hotovo za %1").arg(DurationText((elapsedMs + 999) / 1000)));
}

void ScanPanel::moduleFound(const LineModule& m) {
  found_.append(m);
  const int32_t rate = BaudCodeToRate(m.baudCode);
  // The wire time beside the round trip: what is above it is the module's and the host's.
  addRow({QString::number(m.address), QStringLiteral("%1 Bd").arg(rate), m.ident, QLocale().toString(m.answerMs, 'f', 2),
          QLocale().toString(ExchangeWireTimeMs(rate), 'f', 2), m.late ? QStringLiteral("pozdní odpověď") : QString()},
         m.late ? QColor(0xB0, 0x60, 0x00) : QColor());
}

void ScanPanel::conflictFound(const LineModule& place) {
  const int32_t rate = BaudCodeToRate(place.baudCode);
  conflicts_ << QStringLiteral("%1 (%2 Bd)").arg(AddressConflictText(place.address)).arg(rate);
  addRow({QString::number(place.address), QStringLiteral("%1 Bd").arg(rate), QString(), QString(), QString(),
          AddressConflictText(place.address)},
         QColor(0xB0, 0, 0));
}

void ScanPanel::addRow(const QStringList& cells, const QColor& colour) {
  // A sorted table would move the row while its cells go in.
  table_->setSortingEnabled(false);
  const int row = table_->rowCount();
  table_->insertRow(row);
  for (int c = 0; c < cells.size(); ++c) {
    auto* item = new NumberSortItem(cells[c]);
    if (colour.isValid()) item->setForeground(colour);
    table_->setItem(row, c, item);
  }
  table_->setSortingEnabled(true);
}

void ScanPanel::finished(bool stopped, uint32_t status, const QString& error) {
  running_ = false;
  QString text = QStringLiteral("Nalezeno modulů: %1.").arg(found_.size());
  if (!conflicts_.isEmpty())
    text += QStringLiteral(" Odpovědi kolidují, do linky nepřevzato: %1.").arg(conflicts_.join(QStringLiteral("; ")));
  if (status != 0)
    text += QStringLiteral(" Hledání selhalo: ") + error;
  else if (stopped)
    text += QStringLiteral(" Hledání zastaveno; linka zůstává beze změny.");
  else
    text += QStringLiteral(" Linka nahrazena nalezenými moduly a uložena.");
  result_->setText(text);
  result_->setStyleSheet(status != 0 ? QStringLiteral("color: #b00000; font-weight: bold") : QString());
  adopt_->setProperty("offered", stopped || status != 0);
  if (stopped) left_->setText(QStringLiteral("zastaveno"));
  updateButtons();
}
