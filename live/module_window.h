#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

#include "base/exchange/exchange.h"

class QFrame;
class QTimer;
class StatusBar;
struct TData;

// What the live windows and the output writer share: the borrowed TData record, the module
// address copied when the window is shown, the one-panel status bar, the connection test,
// and a guard that keeps module sequences from nesting.
//
// A sequence that lets the toolkit process messages between exchanges can see its own timer
// fall due, or the operator close the window. The guard turns a nested tick into a no-op,
// and a close requested meanwhile is carried out when the running sequence returns, so the
// window is never torn down under it.
class ModuleWindow : public QDialog {
  Q_OBJECT
 public:
  void setData(TData* data) { data_ = data; }
  TData* data() const { return data_; }
  uint8_t moduleAddress() const { return moduleAddress_; }
  StatusBar* statusBar() const { return statusBar_; }
  // True while a tick or a button's exchange runs.
  bool sequenceRunning() const { return running_; }

  // Closing while a sequence runs is carried out when the sequence returns.
  void done(int result) override;

 public slots:
  void FormCreate();
  void FormShow();

 protected:
  ModuleWindow(QWidget* parent, const QString& caption, int clientWidth, int clientHeight);

  // Creates Timer1, running from now on, and returns it for the window to connect.
  QTimer* createPollTimer(int intervalMs);
  // A white panel with a lowered bevel, the frame the live values are shown in.
  QFrame* createValuePanel(const QString& name, int x, int y, int width, int height);

  // Scope of one tick or press. Converts to false when another sequence already runs; the
  // caller then returns at once.
  class Sequence {
   public:
    explicit Sequence(ModuleWindow* window);
    ~Sequence();
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;
    explicit operator bool() const { return entered_; }

   private:
    ModuleWindow* window_;
    bool entered_;
  };

  // The test every tick and press makes first: false, after showing the message, while the
  // connection is down.
  bool connectionUp();
  // Lets the toolkit process pending messages; false when the window is to close, so the
  // sequence stops instead of starting another exchange.
  bool processPendingMessages();
  // One exchange with the connected module at the window's copy of the address.
  ExchangeResult exchange(uint8_t command, uint8_t index, std::array<uint8_t, 5> data = {});
  // The driver's text for a status (its Error entry is asked every time).
  QString statusText(uint32_t status) const;
  // " " and the driver's text for the status, repainted at once.
  void showExchangeStatus(uint32_t status);

  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

  TData* data_ = nullptr;
  uint8_t moduleAddress_ = 0;

 private:
  void placeStatusBar();

  StatusBar* statusBar_;
  QTimer* timer_ = nullptr;
  bool running_ = false;
  bool closePending_ = false;
  int pendingResult_ = 0;
};
