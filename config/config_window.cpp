#include "config/config_window.h"

#include <QPushButton>
#include <QShowEvent>
#include <chrono>
#include <utility>

#include "ui/status_bar.h"
#include "ui/window_util.h"
#include "base/commands.h"
#include "base/driver_loader.h"

uint8_t& ImageByte(ModuleConfigImage& image, std::size_t index) {
  Q_ASSERT(index < sizeof(ModuleConfigImage));
  return reinterpret_cast<uint8_t*>(&image)[index];
}

uint8_t ImageByte(const ModuleConfigImage& image, std::size_t index) {
  Q_ASSERT(index < sizeof(ModuleConfigImage));
  return reinterpret_cast<const uint8_t*>(&image)[index];
}

namespace {

QString ReadProgressText(int percent) {
  return QStringLiteral(" Probíhá čtení konfigurace z modulu (%1 %)").arg(percent);
}

QString WriteProgressText(int percent) {
  return QStringLiteral(" Probíhá zápis konfigurace do modulu (%1 %)").arg(percent);
}

QString FailureText(uint8_t iface, uint8_t status) {
  return QStringLiteral(" ") + DriverStatusText(iface, status);
}

// Let the window repaint and take clicks between two exchanges; the pause runs from the end
// of the exchange, so the progress shown meanwhile does not lengthen it.
void PauseBetweenExchanges(std::chrono::steady_clock::time_point exchanged) {
  ProcessMessagesAndWait(1, exchanged);
}

}  // namespace

ConfigWindow::ConfigWindow(QWidget* parent, const QString& title, int clientWidth,
                           int clientHeight, std::vector<ConfigByteSlot> bytes,
                           bool pauseAfterLast)
    : QDialog(parent), bytes_(std::move(bytes)), pauseAfterLast_(pauseAfterLast) {
  setWindowTitle(title);

  auto makeButton = [this](const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
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
  runSequence([this] {
    PrectiOkno(work_);
    if (status().size() <= 1) ZapisData(work_);
  });
}

void ConfigWindow::Button2Click() {
  if (data_ == nullptr || busy_) return;
  if (!checkConnection()) return;
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
    return;
  }
  QDialog::done(result);
}

void ConfigWindow::PrectiData(ModuleConfigImage& image) {
  if (!IsConnected(data_)) return;
  const uint8_t iface = data_->Interface;
  const uint32_t handle = data_->DriverHandle;
  const uint8_t module = data_->ModuleAddress;
  const int total = int(bytes_.size());

  setStatus(ReadProgressText(0));
  for (int k = 0; k < total; ++k) {
    const ConfigByteSlot& slot = bytes_[std::size_t(k)];
    const ExchangeResult read = ReadConfig(iface, handle, module, slot.address);
    const auto exchanged = std::chrono::steady_clock::now();
    if (read.Status != 0) {
      setStatus(FailureText(iface, read.Status));
      return;
    }
    ImageByte(image, slot.imageByte) = read.Data[3];
    setStatus(ReadProgressText((k + 1) * 100 / total));
    if (pauseAfterLast_ || k + 1 < total) PauseBetweenExchanges(exchanged);
  }
  setStatus(QStringLiteral(" Konfigurace přečtena."));
}

void ConfigWindow::ZapisData(ModuleConfigImage image) {
  if (!IsConnected(data_)) return;
  const uint8_t iface = data_->Interface;
  const uint32_t handle = data_->DriverHandle;
  const uint8_t module = data_->ModuleAddress;
  const int total = int(bytes_.size());

  setStatus(WriteProgressText(0));
  for (int k = 0; k < total; ++k) {
    const ConfigByteSlot& slot = bytes_[std::size_t(k)];
    const uint8_t value = ImageByte(image, slot.imageByte);
    const ExchangeResult written = WriteConfig(iface, handle, module, slot.address, value);
    if (written.Status != 0) {
      setStatus(FailureText(iface, written.Status));
      return;
    }
    PauseBetweenExchanges(std::chrono::steady_clock::now());
    const ExchangeResult readBack = ReadConfig(iface, handle, module, slot.address);
    const auto exchanged = std::chrono::steady_clock::now();
    if (readBack.Status != 0) {
      setStatus(FailureText(iface, readBack.Status));
      return;
    }
    if (readBack.Data[3] != value) {
      setStatus(QStringLiteral(" Chyba zápisu dat."));
      return;
    }
    setStatus(WriteProgressText((k + 1) * 100 / total));
    if (pauseAfterLast_ || k + 1 < total) PauseBetweenExchanges(exchanged);
  }
  setStatus(QStringLiteral(" Konfigurace zapsána."));
}
