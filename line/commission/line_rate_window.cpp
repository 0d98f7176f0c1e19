#include "line/commission/line_rate_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "base/text/baud.h"
#include "base/text/czech_plural.h"
#include "line/commission/commission_run.h"
#include "line/commission/power_cycle_foot.h"
#include "ui/question.h"
#include "ui/return_key.h"

namespace {
const QString Title = QStringLiteral("Změna rychlosti linky");
}

LineRateWindow::LineRateWindow(LineWorker* worker, QWidget* parent)
    : QWidget(parent, Qt::Window), run_(new CommissionRun(worker, this)) {
  setWindowTitle(Title);
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* rateLabel = new QLabel(QStringLiteral("&Nová rychlost linky"), this);
  rate_ = new QComboBox(this);
  rate_->setObjectName(QStringLiteral("NewRate"));
  rate_->addItems(BaudRateItems());
  rateLabel->setBuddy(rate_);
  change_ = new QPushButton(QStringLiteral("&Změnit rychlost všech modulů…"), this);
  change_->setObjectName(QStringLiteral("ChangeRate"));
  top->addWidget(rateLabel);
  top->addWidget(rate_);
  top->addWidget(change_);
  top->addStretch(1);
  layout->addLayout(top);

  table_ = new QTableWidget(0, ColumnCount, this);
  table_->setObjectName(QStringLiteral("RateTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Modul"), QStringLiteral("Rychlost předtím"), QStringLiteral("Zápis"),
                                     QStringLiteral("Odpovídá teď")});
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setSectionResizeMode(NowColumn, QHeaderView::Stretch);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  layout->addWidget(table_, 1);

  foot_ = new PowerCycleFoot(run_, this, layout, QStringLiteral("Napájení &přepnuto"), QStringLiteral("Zr&ušit"));
  auto* close = new QPushButton(QStringLiteral("Zavří&t"), this);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(close);
  layout->addLayout(bottom);

  connect(change_, &QPushButton::clicked, this, &LineRateWindow::changeRate);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(foot_, &PowerCycleFoot::changed, this, &LineRateWindow::updateButtons);
  connect(run_, &CommissionRun::rateProgress, this, [this](int phase, int index, int count) {
    say(QStringLiteral("%1 modulu %2 z %3…").arg(phase == 0 ? QStringLiteral("Zápis rychlosti do") : QStringLiteral("Hledání"))
            .arg(index + 1)
            .arg(count));
  });
  connect(run_, &CommissionRun::rateChanged, this, &LineRateWindow::changed);
  KeepReturnFromButtons(this);
  resize(860, 480);
  updateButtons();
}

void LineRateWindow::setModules(const QVector<LineModule>& modules) {
  // The line as this window left it (lineFollowed) keeps the final table on the screen.
  const auto keys = [](const QVector<LineModule>& list) {
    QList<int> k;
    for (const LineModule& m : list) k.append(ModuleKey(m));
    std::sort(k.begin(), k.end());
    return k;
  };
  if (run_->busy() || (keys(modules) == keys(modules_) && table_->rowCount() > 0)) return;
  modules_ = modules;
  std::vector<LineRateRow> rows;
  for (const LineModule& m : modules) rows.push_back({m, LineRateRow::NotTried, {}, {}});
  fillTable(rows, -1);
  if (!modules.isEmpty()) rate_->setCurrentIndex(modules.front().baudCode);
  updateButtons();
}

void LineRateWindow::setRate(int baudCode) { rate_->setCurrentIndex(baudCode); }

void LineRateWindow::changeRate() {
  if (run_->busy() || modules_.isEmpty()) return;
  const int code = rate_->currentIndex();
  const QString question = QStringLiteral("Zapsat rychlost %1 Bd do %2 %3 linky? Každý ji začne používat po vypnutí a "
                                          "zapnutí napájení linky, o které program požádá.")
                               .arg(BaudCodeToRate(code))
                               .arg(modules_.size())
                               .arg(CzechPlural(modules_.size(), "modulu", "modulů", "modulů"));
  if (!(ask_ ? ask_(question) : AskYesNo(this, Title, question))) return;
  say(QStringLiteral("Rychlost se zapisuje…"));
  run_->changeRate(LineFile(QDateTime::currentDateTime(), modules_), code, powerWaitMs_);
  updateButtons();
}

void LineRateWindow::confirmPowerCycle() { foot_->confirm(); }

void LineRateWindow::cancelWork() { foot_->cancel(); }

void LineRateWindow::changed(const LineRateResult& result) {
  foot_->clear();
  fillTable(result.rows, result.baudCode);
  switch (result.outcome) {
    case LineRateResult::Refused: say(result.refusal, true); break;
    case LineRateResult::Cancelled: say(LineRateCancelText(result), true); break;
    case LineRateResult::Done:
      say(QStringLiteral("Všechny moduly linky odpovídají na %1 Bd; soubor linky uložen.").arg(BaudCodeToRate(result.baudCode)));
      break;
    case LineRateResult::Incomplete:
      say(QStringLiteral("Některé moduly na %1 Bd neodpovídají; tabulka říká, kde odpovídají. Soubor linky uložen.")
              .arg(BaudCodeToRate(result.baudCode)),
          true);
      break;
  }
  if (result.outcome == LineRateResult::Done || result.outcome == LineRateResult::Incomplete) {
    modules_ = result.line.modules;
    emit lineFollowed(modules_);
  }
  updateButtons();
}

void LineRateWindow::fillTable(const std::vector<LineRateRow>& rows, int baudCode) {
  table_->setRowCount(int(rows.size()));
  const QString writes[] = {QStringLiteral("zapsáno"), QStringLiteral("odmítnuto"), QStringLiteral("selhalo"), QString()};
  for (size_t r = 0; r < rows.size(); ++r) {
    const LineRateRow& row = rows[r];
    QString now;
    if (baudCode >= 0)
      now = row.after.found ? PlaceText(row.after.place) : QStringLiteral("nenalezen: %1").arg(WhereaboutsText(row.after));
    const QString write = row.writeText.isEmpty() ? writes[row.write] : writes[row.write] + QStringLiteral(": ") + row.writeText;
    const QString cells[] = {QStringLiteral("%1%2").arg(row.before.address).arg(row.before.tag.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(row.before.tag)),
                             QStringLiteral("%1 Bd").arg(BaudCodeToRate(row.before.baudCode)), write, now};
    for (int c = 0; c < ColumnCount; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setToolTip(cells[c]);
      table_->setItem(int(r), c, item);
    }
  }
}

void LineRateWindow::closeEvent(QCloseEvent* event) {
  if (run_->busy()) run_->cancel();
  event->accept();
}

bool LineRateWindow::waitingForPowerCycle() const { return foot_->waiting(); }

QString LineRateWindow::message() const { return foot_->message(); }

void LineRateWindow::say(const QString& text, bool failure) { foot_->say(text, failure); }

void LineRateWindow::updateButtons() {
  const bool busy = run_->busy();
  change_->setEnabled(!busy && !modules_.isEmpty());
  rate_->setEnabled(!busy);
  foot_->updateButtons();
}
