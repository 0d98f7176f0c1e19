#include "live/module_window.h"

#include <QCoreApplication>
#include <QFrame>
#include <QShowEvent>
#include <QTimer>

#include "ui/status_bar.h"
#include "base/settings/tdata.h"
#include "ui/return_key.h"
#include "ui/window_util.h"
#include "base/exchange/driver_loader.h"

ModuleWindow::ModuleWindow(QWidget* parent, const QString& caption, int clientWidth,
                           int clientHeight)
    : QDialog(parent), statusBar_(new StatusBar(this)) {
  setWindowTitle(caption);
  SetFixedClientSize(this, clientWidth, clientHeight);
  placeStatusBar();
  statusBar_->setText(QString());
  KeepReturnFromButtons(this);
}

QTimer* ModuleWindow::createPollTimer(int intervalMs) {
  timer_ = new QTimer(this);
  timer_->setObjectName(QStringLiteral("Timer1"));
  timer_->setInterval(intervalMs);
  timer_->start();
  return timer_;
}

QFrame* ModuleWindow::createValuePanel(const QString& name, int x, int y, int width, int height) {
  auto* panel = new QFrame(this);
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setAutoFillBackground(true);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, Qt::white);
  panel->setPalette(palette);
  panel->setGeometry(x, y, width, height);
  return panel;
}

void ModuleWindow::FormCreate() { moduleAddress_ = 0; }

void ModuleWindow::FormShow() {
  if (data_ != nullptr) moduleAddress_ = data_->ModuleAddress;
}

void ModuleWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // restored from the task bar: not a new showing
  // A window shown again after a close polls again.
  if (timer_ != nullptr && !timer_->isActive()) timer_->start();
  FormShow();
}

void ModuleWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  placeStatusBar();
}

void ModuleWindow::placeStatusBar() {
  const int h = statusBar_->sizeHint().height();
  statusBar_->setGeometry(0, height() - h, width(), h);
}

void ModuleWindow::done(int result) {
  if (running_) {
    closePending_ = true;
    pendingResult_ = result;
    return;
  }
  closePending_ = false;
  if (timer_ != nullptr) timer_->stop();
  QDialog::done(result);
}

ModuleWindow::Sequence::Sequence(ModuleWindow* window) : window_(window), entered_(!window->running_) {
  if (entered_) window_->running_ = true;
}

ModuleWindow::Sequence::~Sequence() {
  if (!entered_) return;
  window_->running_ = false;
  if (window_->closePending_) window_->done(window_->pendingResult_);
}

bool ModuleWindow::connectionUp() {
  if (IsConnected(data_)) return true;
  statusBar_->setText(NotConnectedText);
  return false;
}

bool ModuleWindow::processPendingMessages() {
  QCoreApplication::processEvents();
  return !closePending_;
}

ExchangeResult ModuleWindow::exchange(uint8_t command, uint8_t index, std::array<uint8_t, 5> data) {
  return ModuleTransact(data_->Interface, data_->DriverHandle, moduleAddress_, command, index, data);
}

QString ModuleWindow::statusText(uint32_t status) const {
  return DriverStatusText(data_->Interface, status);
}

void ModuleWindow::showExchangeStatus(uint32_t status) {
  statusBar_->setText(QLatin1Char(' ') + statusText(status));
}
