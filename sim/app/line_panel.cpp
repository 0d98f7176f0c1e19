#include "sim/app/line_panel.h"

#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "sim/app/fault_panel.h"
#include "sim/app/wire_panel.h"
#include "sim/sim_server.h"

namespace {
enum Column { Number, Address, Rate, Ident, Power, Turnaround, Faults, Columns };

// "s modulem 1", "s moduly 1 a 3", "s moduly 0, 1 a 3": the modules a module's answers meet.
QString WithModules(const std::vector<int>& modules) {
  QString list;
  for (size_t k = 0; k < modules.size(); ++k)
    list += (k == 0 ? QString() : k + 1 == modules.size() ? QStringLiteral(" a ") : QStringLiteral(", ")) +
            QString::number(modules[k]);
  return (modules.size() == 1 ? QStringLiteral("s modulem ") : QStringLiteral("s moduly ")) + list;
}
}  // namespace

LinePanel::LinePanel(SimServer* server, QWidget* parent) : QGroupBox(QStringLiteral("Vedení"), parent), server_(server) {
  table_ = new QTableWidget(0, Columns);
  table_->setObjectName("ModuleTable");
  table_->setHorizontalHeaderLabels({QStringLiteral("Modul"), QStringLiteral("Adresa"), QStringLiteral("Rychlost"),
                                     QStringLiteral("Identifikace"), QStringLiteral("Napájení"), QStringLiteral("Zpracování"),
                                     QStringLiteral("Poruchy")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setMinimumHeight(110);
  connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) {
    if (row >= 0 && size_t(row) < rowIds_.size()) select(row, rowIds_[size_t(row)]);
  });

  address_ = new QSpinBox;
  address_->setObjectName("NewAddress");
  address_->setRange(0, 255);
  rate_ = new QComboBox;
  rate_->setObjectName("NewRate");
  for (uint8_t code = 0; code <= 8; ++code) rate_->addItem(QStringLiteral("%1 Bd").arg(SimModule::BaudCodeRate(code)));
  rate_->setCurrentIndex(4);
  auto* add = new QPushButton(QStringLiteral("Přidat modul"));
  add->setObjectName("AddModuleButton");
  auto* remove = remove_ = new QPushButton(QStringLiteral("Odebrat vybraný"));
  remove->setObjectName("RemoveModuleButton");
  auto* cycle = new QPushButton(QStringLiteral("Vypnout a zapnout vedení"));
  cycle->setObjectName("CycleLineButton");
  message_ = new QLabel;
  message_->setObjectName("LineMessage");
  message_->setStyleSheet(QStringLiteral("color: #b00000;"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(table_, 0, 0, 1, 7);
  grid->addWidget(new QLabel(QStringLiteral("Adresa")), 1, 0);
  grid->addWidget(address_, 1, 1);
  grid->addWidget(rate_, 1, 2);
  grid->addWidget(add, 1, 3);
  grid->addWidget(remove, 1, 4);
  grid->setColumnStretch(5, 1);
  grid->addWidget(cycle, 1, 6);
  grid->addWidget(message_, 2, 0, 1, 7);

  connect(add, &QPushButton::clicked, this, &LinePanel::addModule);
  connect(remove, &QPushButton::clicked, this, &LinePanel::removeModule);
  connect(cycle, &QPushButton::clicked, this, [this] {
    message_->clear();
    server_->withBus([](SimBus& bus) { bus.powerCycleAll(); });
    server_->storeNow();
  });
}

void LinePanel::addModule() {
  const auto address = uint8_t(address_->value());
  const auto code = uint8_t(rate_->currentIndex());
  // A failure stays shown until the operator's next action on the line.
  message_->setText(server_->withBus([&](SimBus& bus) {
    if (!bus.add(address, code)) return QStringLiteral("Na vedení je nejvýše %1 modulů.").arg(SimBus::MaxModules);
    const std::vector<int> alike = bus.alike(bus.size() - 1);
    if (alike.empty()) return QString();
    // Allowed, as two new modules at their delivery address are; said, since it is seldom meant.
    return QStringLiteral("Modul %1: kolize %2 (stejná adresa i rychlost), odpovědi na vedení kolidují.")
        .arg(bus.size() - 1)
        .arg(WithModules(alike));
  }));
}

void LinePanel::removeModule() {
  const uint64_t id = selectedId_;
  const bool removed = server_->withBus([&](SimBus& bus) {
    const int index = bus.indexOf(id);
    return index >= 0 && bus.remove(index);
  });
  message_->setText(removed ? QString() : QStringLiteral("Poslední modul vedení nelze odebrat."));
  // Nothing is selected afterwards: the operator picks the next module, none is guessed.
}

void LinePanel::select(int index, uint64_t id) {
  if (index == selected_ && id == selectedId_) return;
  selected_ = index;
  selectedId_ = id;
  remove_->setEnabled(index >= 0);
  emit selectionChanged(index);
}

void LinePanel::refresh(const SimBus& bus) {
  // The first time, the first module; afterwards the one the operator picked, wherever it is
  // now. Told once the table shows the line.
  const bool first = rowIds_.empty();
  const int index = first ? 0 : selectedId_ ? bus.indexOf(selectedId_) : -1;
  const uint64_t id = first ? bus.entry(0).id : index >= 0 ? selectedId_ : 0;
  rowIds_.clear();
  for (int i = 0; i < bus.size(); ++i) rowIds_.push_back(bus.entry(i).id);
  if (table_->rowCount() != bus.size()) table_->setRowCount(bus.size());
  for (int i = 0; i < bus.size(); ++i) {
    const SimModule& m = bus.module(i);
    const std::vector<int> alike = bus.alike(i);
    const QString texts[Columns] = {
        QString::number(i),
        alike.empty() ? QString::number(m.busAddress())
                      : QStringLiteral("%1 – kolize %2").arg(m.busAddress()).arg(WithModules(alike)),
        QStringLiteral("%1 Bd").arg(m.baudRate()),
        QStringLiteral("%1 v.%2").arg(QString::fromLatin1(SimModule::Name).trimmed(), SimModule::FirmwareVersion),
        m.powered() ? QStringLiteral("zapnuto") : QStringLiteral("vypnuto"),
        TurnaroundText(bus.entry(i).turnaround),
        FaultListText(bus.faults(i)),
    };
    for (int c = 0; c < Columns; ++c) {
      QTableWidgetItem* item = table_->item(i, c);
      if (!item) table_->setItem(i, c, item = new QTableWidgetItem);
      if (item->text() != texts[c]) item->setText(texts[c]);
    }
    QTableWidgetItem* address = table_->item(i, Address);
    address->setForeground(alike.empty() ? QBrush() : QBrush(QColor(0xB0, 0, 0)));
    address->setToolTip(alike.empty() ? QString()
                                      : QStringLiteral("Kolize %1: moduly na stejné adrese i rychlosti odpovídají "
                                                       "zároveň a odpověď dorazí poškozená.")
                                            .arg(WithModules(alike)));
  }
  if (table_->currentRow() != index) {
    const QSignalBlocker block(table_);
    if (index >= 0) {
      table_->selectRow(index);
    } else {
      table_->setCurrentCell(-1, -1);
      table_->clearSelection();
    }
  }
  select(index, id);
}
