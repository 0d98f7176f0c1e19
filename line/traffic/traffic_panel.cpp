#include "line/traffic/traffic_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include "base/files/checked_file.h"
#include "base/exchange/commands.h"
#include "base/exchange/exchange_trace.h"
#include "line/common/save_path.h"

TrafficPanel::TrafficPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TrafficPanel"));
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  auto* addressLabel = new QLabel(QStringLiteral("&Modul"), this);
  bar->addWidget(addressLabel);
  address_ = new QComboBox(this);
  address_->setObjectName(QStringLiteral("TrafficAddress"));
  address_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  addressLabel->setBuddy(address_);
  setModules({});
  bar->addWidget(address_);
  auto* commandLabel = new QLabel(QStringLiteral("Příka&z"), this);
  bar->addWidget(commandLabel);
  command_ = new QComboBox(this);
  commandLabel->setBuddy(command_);
  command_->setObjectName(QStringLiteral("TrafficCommand"));
  command_->addItem(QStringLiteral("všechny"), -1);
  for (uint8_t c : {Cmd::ReadChannel, Cmd::WriteOutputs, Cmd::ReadStatus, Cmd::ClearStatus, Cmd::ReadConfigByte,
                    Cmd::WriteConfigByte, Cmd::Identify})
    command_->addItem(QStringLiteral("%1 %2").arg(c).arg(QString::fromUtf8(ExchangeCommandName(c))), c);
  bar->addWidget(command_);
  failures_ = new QCheckBox(QStringLiteral("jen &chyby"), this);
  failures_->setObjectName(QStringLiteral("TrafficFailures"));
  bar->addWidget(failures_);
  pause_ = new QCheckBox(QStringLiteral("pozast&avit"), this);
  pause_->setObjectName(QStringLiteral("TrafficPause"));
  bar->addWidget(pause_);
  auto* clear = new QPushButton(QStringLiteral("&Vymazat"), this);
  clear->setObjectName(QStringLiteral("TrafficClear"));
  auto* exportButton = new QPushButton(QStringLiteral("&Exportovat…"), this);
  exportButton->setObjectName(QStringLiteral("TrafficExport"));
  bar->addWidget(clear);
  bar->addWidget(exportButton);
  bar->addStretch(1);
  count_ = new QLabel(this);
  count_->setObjectName(QStringLiteral("TrafficCount"));
  bar->addWidget(count_);
  layout->addLayout(bar);
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("TrafficMessage"));
  message_->hide();
  layout->addWidget(message_);

  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("TrafficTable"));
  table_->setModel(&model_);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(TrafficModel::Time, 100);
  table_->setColumnWidth(TrafficModel::Address, 60);
  table_->setColumnWidth(TrafficModel::Command, 210);
  table_->setColumnWidth(TrafficModel::Sent, 130);
  table_->setColumnWidth(TrafficModel::Answered, 130);
  layout->addWidget(table_, 1);

  connect(address_, &QComboBox::currentIndexChanged, this, &TrafficPanel::applyFilter);
  connect(command_, &QComboBox::currentIndexChanged, this, &TrafficPanel::applyFilter);
  connect(failures_, &QCheckBox::toggled, this, &TrafficPanel::applyFilter);
  connect(pause_, &QCheckBox::toggled, this, [this](bool on) {
    model_.setPaused(on);
    updateCount();
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    model_.clear();
    updateCount();
  });
  connect(exportButton, &QPushButton::clicked, this, [this] {
    const QString path = AskSavePath(this, QStringLiteral("Export provozu"), QDir(DocumentsFolder()).filePath(QStringLiteral("provoz.txt")),
                                     QStringLiteral("Text (*.txt)"), QStringLiteral("txt"));
    if (!path.isEmpty()) exportAndSay(path);
  });
  updateCount();
}

void TrafficPanel::setModules(const QVector<LineModule>& modules) {
  const int shown = address_->currentIndex() >= 0 ? address_->currentData().toInt() : -1;
  QList<int> addresses;
  for (const LineModule& m : modules)
    if (!addresses.contains(m.address)) addresses.append(m.address);
  std::sort(addresses.begin(), addresses.end());
  const QSignalBlocker quiet(address_);
  address_->clear();
  address_->addItem(QStringLiteral("všechny"), -1);
  // The filter is by address: modules at one address with different rates share it.
  for (int a : addresses) address_->addItem(QStringLiteral("adresa %1").arg(a), a);
  const int index = address_->findData(shown);
  address_->setCurrentIndex(std::max(index, 0));
  if (index < 0 && shown != -1) applyFilter();
}

void TrafficPanel::applyFilter() {
  TrafficFilter f;
  f.address = address_->currentData().toInt();
  f.command = command_->currentData().toInt();
  f.failuresOnly = failures_->isChecked();
  model_.setFilter(f);
  updateCount();
}

void TrafficPanel::drain(ExchangeQueue& queue, const std::function<void(const ExchangeRecord&)>& each) {
  model_.takeFrom(queue, each);
  dropped_ = queue.dropped();
  QScrollBar* scroll = table_->verticalScrollBar();
  const bool atEnd = scroll->value() == scroll->maximum();
  model_.publish();
  if (atEnd && !model_.paused()) table_->scrollToBottom();
  updateCount();
}

void TrafficPanel::updateCount() {
  QString text = QStringLiteral("zobrazeno %1 z %2").arg(model_.rowCount()).arg(model_.kept());
  if (dropped_ > 0) text += QStringLiteral(", nezachyceno %1").arg(dropped_);
  if (model_.paused()) text += QStringLiteral(" (pozastaveno)");
  count_->setText(text);
}

bool TrafficPanel::exportAndSay(const QString& path) {
  QString error;
  const bool ok = exportTo(path, error);
  message_->setText(ok ? QStringLiteral("Exportováno do %1").arg(path) : QStringLiteral("Export do %1 selhal: %2").arg(path, error));
  message_->setStyleSheet(ok ? QString() : QStringLiteral("color: #b00000; font-weight: bold"));
  message_->show();
  return ok;
}

bool TrafficPanel::exportTo(const QString& path, QString& error) const {
  QByteArray text;
  model_.forEachShown([&](const ExchangeRecord& r) { text += ExchangeTraceLine(r, false) + '\n'; });
  return WriteFileChecked(path, text, &error);
}
