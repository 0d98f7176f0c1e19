#include "line/commission/power_cycle_foot.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "line/commission/commission_run.h"

PowerCycleFoot::PowerCycleFoot(CommissionRun* run, QWidget* window, QVBoxLayout* layout, const QString& done,
                               const QString& cancel)
    : QObject(window), run_(run) {
  auto* row = new QHBoxLayout;
  prompt_ = new QLabel(window);
  prompt_->setObjectName(QStringLiteral("PowerCyclePrompt"));
  prompt_->setWordWrap(true);
  prompt_->setStyleSheet(QStringLiteral("font-weight: bold"));
  done_ = new QPushButton(done, window);
  done_->setObjectName(QStringLiteral("PowerCycled"));
  cancel_ = new QPushButton(cancel, window);
  cancel_->setObjectName(QStringLiteral("CancelWork"));
  row->addWidget(prompt_, 1);
  row->addWidget(done_);
  row->addWidget(cancel_);
  layout->addLayout(row);
  message_ = new QLabel(window);
  message_->setObjectName(QStringLiteral("Message"));
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(message_);

  connect(done_, &QPushButton::clicked, this, &PowerCycleFoot::confirm);
  connect(cancel_, &QPushButton::clicked, this, &PowerCycleFoot::cancel);
  connect(run_, &CommissionRun::powerCycleAsked, this, [this](const QString& prompt) {
    waiting_ = true;
    prompt_->setText(prompt + QStringLiteral(" Potom stiskněte „Napájení přepnuto“."));
    updateButtons();
    done_->setFocus();
    emit changed();
  });
}

QString PowerCycleFoot::message() const { return message_->text(); }

void PowerCycleFoot::say(const QString& text, bool failure) {
  message_->setText(text);
  message_->setStyleSheet(failure ? QStringLiteral("color: #b00000; font-weight: bold") : QString());
}

void PowerCycleFoot::clear() {
  waiting_ = false;
  prompt_->clear();
  updateButtons();
}

void PowerCycleFoot::confirm() {
  if (!waiting_) return;
  clear();
  run_->answerPowerCycle(true);
  emit changed();
}

void PowerCycleFoot::cancel() {
  clear();
  run_->cancel();
  emit changed();
}

void PowerCycleFoot::updateButtons() {
  done_->setEnabled(waiting_);
  cancel_->setEnabled(run_->busy());
}
