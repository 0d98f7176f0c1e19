#include "sim/app/traffic_pane.h"

#include <QComboBox>
#include <QBuffer>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>

#include "base/files/checked_file.h"
#include "base/text/czech_plural.h"
#include "sim/app/traffic_model.h"
#include "sim/control/traffic.h"

namespace {
constexpr uint8_t KnownCommands[] = {0, 1, 100, 101, 102, 103, 200};
enum CounterColumn { CModule, CAddress, CSeen, CAnswered, CDropped, CounterColumns };
}  // namespace

TrafficPane::TrafficPane(QWidget* parent) : QGroupBox(QStringLiteral("Provoz na vedení"), parent) {
  model_ = new SimTrafficModel(this);
  view_ = new QTableView;
  view_->setObjectName("TrafficView");
  view_->setModel(model_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setWordWrap(false);
  view_->setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 8));
  // Fixed row heights and column widths: rows that arrive are never measured.
  view_->verticalHeader()->hide();
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  view_->horizontalHeader()->setStretchLastSection(true);
  const QFontMetrics fm = view_->fontMetrics();
  const char* const widest[] = {"00:00:00.000", "Modul", "Adresa", "115200", "103 zápis konfigurace", "Index",
                                "00 00 00 00 00", "bez odpovědi", "00 00 00 00 00"};
  for (int c = 0; c < int(std::size(widest)); ++c)
    view_->setColumnWidth(c, fm.horizontalAdvance(QString::fromUtf8(widest[c])) + 14);

  module_ = new QComboBox;
  module_->setObjectName("TrafficModule");
  module_->addItem(QStringLiteral("všechny moduly"), -1);
  for (int i = 0; i < 32; ++i) module_->addItem(QStringLiteral("modul %1").arg(i), i);
  command_ = new QComboBox;
  command_->setObjectName("TrafficCommand");
  command_->addItem(QStringLiteral("všechny příkazy"), -1);
  for (uint8_t c : KnownCommands) command_->addItem(QStringLiteral("%1 %2").arg(c).arg(SimCommandName(c)), c);
  status_ = new QComboBox;
  status_->setObjectName("TrafficStatus");
  status_->addItem(QStringLiteral("každý výsledek"), SimTrafficFilter::AnyStatus);
  status_->addItem(QStringLiteral("v pořádku"), SimTrafficFilter::Ok);
  status_->addItem(QStringLiteral("odmítnuto modulem"), SimTrafficFilter::Refused);
  status_->addItem(QStringLiteral("bez odpovědi"), SimTrafficFilter::Silent);
  status_->addItem(QStringLiteral("s poruchou"), SimTrafficFilter::Faulted);
  for (QComboBox* box : {module_, command_, status_})
    connect(box, &QComboBox::currentIndexChanged, this, &TrafficPane::applyFilter);

  pause_ = new QPushButton(QStringLiteral("Pozastavit"));
  pause_->setObjectName("TrafficPause");
  pause_->setCheckable(true);
  auto* clear = new QPushButton(QStringLiteral("Vymazat"));
  clear->setObjectName("TrafficClear");
  auto* save = new QPushButton(QStringLiteral("Uložit CSV…"));
  save->setObjectName("TrafficExport");
  connect(clear, &QPushButton::clicked, this, [this] {
    model_->clear();
    exportError_->hide();
    showSummary();
  });
  connect(save, &QPushButton::clicked, this, &TrafficPane::exportChosen);

  counters_ = new QTableWidget(0, CounterColumns);
  counters_->setObjectName("TrafficCounters");
  counters_->setHorizontalHeaderLabels({QStringLiteral("Modul"), QStringLiteral("Adresa"), QStringLiteral("Požadavky"),
                                        QStringLiteral("Odpovědi"), QStringLiteral("Bez odpovědi")});
  counters_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  counters_->setSelectionMode(QAbstractItemView::NoSelection);
  counters_->verticalHeader()->hide();
  counters_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  int countersWidth = 2 * counters_->frameWidth() + counters_->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < CounterColumns; ++c) countersWidth += counters_->horizontalHeader()->sectionSizeHint(c);
  counters_->setMinimumWidth(countersWidth);

  // Rewritten at every refresh under traffic: a fixed height and no wrapping, so that it never
  // lays out the pane again.
  summary_ = new QLabel;
  summary_->setObjectName("TrafficSummary");
  summary_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  exportError_ = new QLabel;
  exportError_->setObjectName("TrafficExportError");
  exportError_->setStyleSheet(QStringLiteral("color: #b00000;"));
  exportError_->setWordWrap(true);
  exportError_->hide();

  auto* filters = new QHBoxLayout;
  filters->addWidget(new QLabel(QStringLiteral("Zobrazit")));
  filters->addWidget(module_);
  filters->addWidget(command_);
  filters->addWidget(status_);
  filters->addStretch(1);
  filters->addWidget(pause_);
  filters->addWidget(clear);
  filters->addWidget(save);
  auto* split = new QSplitter(Qt::Horizontal);
  split->addWidget(view_);
  split->addWidget(counters_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  split->setChildrenCollapsible(false);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(split, 1);
  layout->addWidget(summary_);
  layout->addWidget(exportError_);
  showSummary();
}

void TrafficPane::applyFilter() {
  SimTrafficFilter f;
  f.module = module_->currentData().toInt();
  f.command = command_->currentData().toInt();
  f.status = SimTrafficFilter::Status(status_->currentData().toInt());
  model_->setFilter(f);
  view_->scrollToBottom();
  showSummary();
}

void TrafficPane::refresh(const SimServer& server, const SimBus& bus) {
  if (!pause_->isChecked()) {
    auto batch = server.logSince(model_->lastSerial());
    if (!batch.empty()) {
      QScrollBar* bar = view_->verticalScrollBar();
      const bool following = bar->value() == bar->maximum();
      model_->append(std::move(batch));
      if (following) view_->scrollToBottom();
      showSummary();
    }
  }
  if (counters_->rowCount() != bus.size()) counters_->setRowCount(bus.size());
  for (int i = 0; i < bus.size(); ++i) {
    const SimCounters& c = bus.entry(i).counters;
    const QString texts[CounterColumns] = {QString::number(i), QString::number(bus.module(i).busAddress()),
                                           QString::number(c.seen), QString::number(c.answered),
                                           QString::number(c.dropped)};
    for (int col = 0; col < CounterColumns; ++col) {
      QTableWidgetItem* item = counters_->item(i, col);
      if (!item) {
        counters_->setItem(i, col, item = new QTableWidgetItem);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      }
      if (item->text() != texts[col]) item->setText(texts[col]);
    }
  }
}

void TrafficPane::showSummary() {
  QString text = QStringLiteral("Zobrazeno %1 z %2")
                     .arg(model_->rowCount())
                     .arg(CzechCount(qint64(model_->received()), "přijaté výměny", "přijatých výměn", "přijatých výměn"));
  if (model_->skipped() > 0) text += QStringLiteral(", %1 nestihlo okno převzít").arg(model_->skipped());
  summary_->setText(text + '.');
}

bool TrafficPane::exportCsv(const QString& path, QString* error) const {
  // Whole or not at all: an earlier export at the path stays until this one is on the disk.
  QByteArray csv;
  QBuffer buffer(&csv);
  buffer.open(QIODevice::WriteOnly);
  model_->writeCsv(buffer);
  return WriteFileChecked(path, csv, error);
}

void TrafficPane::exportChosen() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Uložit provoz jako CSV"),
                                                    QStringLiteral("provoz.csv"), QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;
  // A failed export stays said until the operator's next export or clearing.
  QString error;
  const bool ok = exportCsv(path, &error);
  exportError_->setText(QStringLiteral("Provoz se nepodařilo uložit do %1: %2").arg(path, error));
  exportError_->setVisible(!ok);
}
