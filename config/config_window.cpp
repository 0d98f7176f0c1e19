#include "config/config_window.h"

#include <QPushButton>
#include <QShowEvent>
#include <utility>

#include "ui/status_bar.h"
#include "ui/return_key.h"
#include "ui/window_util.h"

namespace {

// Let the window repaint and take clicks between two exchanges.
void PauseBetweenExchanges(std::chrono::steady_clock::time_point exchanged) {
  ProcessMessagesAndWait(1, exchanged);
}

}  // namespace

ConfigWindow::ConfigWindow(QWidget* parent, const QString& title, int clientWidth,
                           int clientHeight, std::vector<ConfigByteSlot> bytes,
                           bool pauseAfterLast)
    : QDialog(parent), bytes_(std::move(bytes)), pauseAfterLast_(pauseAfterLast) {
  setWindowTitle(title);
  title_ = title;

  auto makeButton = [this](const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    return button;
  };
  Button1 = makeButton("Button1", QStringLiteral("Zapsat"));
  Button2 = makeButton("Button2", QStringLiteral("Přečíst"));
  Button3 = makeButton("Button3", QStringLiteral("Ok"));
  Button4 = makeButton("Button4", QStringLiteral("Cancel"));
  connect(Button1, &QPushButton::clicked, this, &ConfigWindow::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &ConfigWindow::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &ConfigWindow::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &ConfigWindow::Button4Click);
  KeepReturnFromButtons(this);

  StatusBar1 = new StatusBar(this);
  const int barHeight = StatusBar1->sizeHint().height();
  StatusBar1->setGeometry(0, clientHeight - barHeight, clientWidth, barHeight);

  SetFixedClientSize(this, clientWidth, clientHeight);
}

void ConfigWindow::setStatus(const QString& text) { StatusBar1->setText(text); }

QString ConfigWindow::status() const { return StatusBar1->text(); }

void ConfigWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A restore from the minimised state arrives as a spontaneous show; taking TData's image
  // again then would throw away what was read or edited, or swap the copy under a sequence.
  if (!event->spontaneous()) FormShow();
}

void ConfigWindow::FormShow() {
  if (data_ == nullptr) return;
  work_ = data_->ModuleConfig;
  ZapisOkno(work_);
  setStatus(QStringLiteral(" "));
}

bool ConfigWindow::checkConnection() {
  if (IsConnected(data_)) return true;
  setStatus(NotConnectedText);
  return false;
}

template <typename F>
void ConfigWindow::runSequence(F&& body) {
  if (busy_) return;
  busy_ = true;
  body();
  busy_ = false;
  setWindowTitle(title_);

  if (pendingOk_) {
    pendingOk_ = false;
    Button3Click();
  } else if (pendingDone_) {
    const int result = *pendingDone_;
    pendingDone_.reset();
    QDialog::done(result);
  }
}

void ConfigWindow::Button1Click() {
  if (data_ == nullptr || busy_) return;
  if (!checkConnection()) return;
  reading_ = false;
  runSequence([this] {
    PrectiOkno(work_);
    if (status().size() <= 1) ZapisData(work_);
  });
}

void ConfigWindow::Button2Click() {
  if (data_ == nullptr || busy_) return;
  if (!checkConnection()) return;
  reading_ = true;
  runSequence([this] {
    PrectiData(work_);
    // Also after a failed read: the window then shows what did arrive.
    ZapisOkno(work_);
  });
}

void ConfigWindow::Button3Click() {
  if (data_ == nullptr) return;
  if (busy_) {
    if (!pendingDone_) pendingOk_ = true;
    closeWaits();
    return;
  }
  PrectiOkno(work_);
  if (status().size() == 1) data_->ModuleConfig = work_;
  accept();
}

void ConfigWindow::Button4Click() { reject(); }

void ConfigWindow::done(int result) {
  if (busy_) {
    if (!pendingOk_ && !pendingDone_) pendingDone_ = result;
    closeWaits();
    return;
  }
  QDialog::done(result);
}

void ConfigWindow::closeWaits() {
  // The status bar belongs to the sequence's progress; the title says the close was heard.
  setWindowTitle(title_ + (reading_ ? QStringLiteral(" – zavře se po dokončení čtení")
                                    : QStringLiteral(" – zavře se po dokončení zápisu")));
}

ConfigTransfer ConfigWindow::transfer(std::function<void(int)> progress) {
  ConfigTransfer::Events events;
  events.progress = std::move(progress);
  events.pause = PauseBetweenExchanges;
  ConfigTransfer t(data_->Interface, data_->DriverHandle, data_->ModuleAddress, std::move(events));
  t.setPauseAfterLast(pauseAfterLast_);
  return t;
}

void ConfigWindow::PrectiData(ModuleConfigImage& image) {
  if (!IsConnected(data_)) return;
  std::vector<uint8_t> addresses;
  for (const ConfigByteSlot& slot : bytes_) addresses.push_back(slot.address);
  ConfigTransfer t = transfer([this](int percent) { setStatus(ReadProgressText(percent)); });
  const ConfigTransferResult result =
      t.Read(addresses, [&](std::size_t k, uint8_t value) { ImageByte(image, bytes_[k].imageByte) = value; });
  setStatus(ReadResultText(data_->Interface, result));
}

void ConfigWindow::ZapisData(ModuleConfigImage image) {
  if (!IsConnected(data_)) return;
  std::vector<ConfigByte> bytes;
  for (const ConfigByteSlot& slot : bytes_) bytes.push_back({slot.address, ImageByte(image, slot.imageByte)});
  ConfigTransfer t = transfer([this](int percent) { setStatus(WriteProgressText(percent)); });
  setStatus(WriteResultText(data_->Interface, t.Write(bytes)));
}
