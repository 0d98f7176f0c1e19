#pragma once

#include <QDialog>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/config/config_transfer.h"
#include "base/settings/tdata.h"

class QPushButton;
class StatusBar;

// What the three configuration windows share: the borrowed TData, a working copy of its
// ModuleConfig, the buttons "Zapsat", "Přečíst", "Ok", "Cancel", the one-panel status bar and
// the transfer of the window's list of bytes (ConfigTransfer), shown in the status bar.
//
// The sequences let the toolkit handle messages between exchanges, so the operator can press
// buttons or close the window while one runs. A second sequence is not started then, and a
// close (Ok, Cancel, Escape or the title bar) waits until the running sequence has ended:
// otherwise the window would be hidden, or with "Ok" hand over a half-read copy, mid-transfer.
class ConfigWindow : public QDialog {
  Q_OBJECT
 public:
  void setData(TData* data) { data_ = data; }
  TData* data() const { return data_; }
  const ModuleConfigImage& workingCopy() const { return work_; }
  bool sequenceRunning() const { return busy_; }

  // Record to window, and window to record with the window's input checks; the verdict of
  // PrectiOkno is the status text: exactly " " when the input was valid.
  virtual void ZapisOkno(const ModuleConfigImage& image) = 0;
  virtual void PrectiOkno(ModuleConfigImage& image) = 0;

  // Module to record, storing each byte as it arrives; record (a copy) to module, each byte
  // read back. Both stop at the first failure and do nothing without a connection.
  void PrectiData(ModuleConfigImage& image);
  void ZapisData(ModuleConfigImage image);

  void done(int result) override;

 public slots:
  void FormShow();
  void Button1Click();  // "Zapsat"
  void Button2Click();  // "Přečíst"
  void Button3Click();  // "Ok"
  void Button4Click();  // "Cancel"

 protected:
  // bytes: in transfer order. pauseAfterLast: whether the pause that follows each byte also
  // follows the last one (the address window pauses only between its bytes).
  ConfigWindow(QWidget* parent, const QString& title, int clientWidth, int clientHeight,
               std::vector<ConfigByteSlot> bytes, bool pauseAfterLast);

  void setStatus(const QString& text);
  QString status() const;

  void showEvent(QShowEvent* event) override;

  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QPushButton* Button4;
  StatusBar* StatusBar1;

 private:
  // Runs one button's sequence with re-entry blocked, then the close asked for meanwhile.
  template <typename F>
  void runSequence(F&& body);
  bool checkConnection();
  ConfigTransfer transfer(std::function<void(int)> progress);

  TData* data_ = nullptr;
  ModuleConfigImage work_{};
  std::vector<ConfigByteSlot> bytes_;
  bool pauseAfterLast_;
  // A close asked for while a sequence runs: the title says it waits.
  void closeWaits();

  QString title_;
  bool busy_ = false;
  bool reading_ = false;  // the sequence running reads (else it writes)
  bool pendingOk_ = false;
  std::optional<int> pendingDone_;
};
