#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <memory>

#include "ui/status_bar.h"
#include "base/settings/tdata.h"

// The program's frame: owns the one TData record for the whole run, opens every other window
// modally from its menu and shows the connected module in its status bar.
class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The shared record; null when its allocation failed or after the window closed.
  TData* data() const { return data_.get(); }

  // Test seam: replaces the allocation FormCreate makes (null restores the real one), so the
  // failure path can be exercised.
  using DataAllocator = TData* (*)();
  static void SetDataAllocator(DataAllocator allocator);

  // Opens a window of type W the one way every menu command does: nothing without the record;
  // otherwise owned by this window, handed the record, modal, and destroyed when it returns,
  // also when it returns by an exception.
  template <class W>
  void openModal() {
    if (!data_) return;
    std::unique_ptr<W> window(new W(this));
    window->setData(data_.get());
    window->exec();
  }

  // Panels 0..2 from the record, as after the connection dialog closes.
  void RefreshStatusBar();

  StatusBar* StatusBar1 = nullptr;
  QMenuBar* MainMenu1 = nullptr;
  QAction* Pipojen1 = nullptr;
  QMenu* NastavenMenu = nullptr;
  QAction* Nastaven1 = nullptr;
  QAction* AdresaRychlost1 = nullptr;
  QAction* NastavAIN1 = nullptr;
  QAction* NastavDIO1 = nullptr;
  QAction* Kalibracevstup1 = nullptr;
  QMenu* OkamithodnotyMenu = nullptr;
  QAction* Okamithodnoty1 = nullptr;
  QAction* OkamAIN2 = nullptr;
  QAction* OkamDIN2 = nullptr;
  QAction* OkamDOUT1 = nullptr;
  QAction* Statusregistr1 = nullptr;
  QAction* Konec2 = nullptr;

 public slots:
  void FormCreate();
  void FormClose();
  void Pipojen1Click();
  void AdresaRychlost1Click();
  void NastavAIN1Click();
  void NastavDIO1Click();
  void Kalibracevstup1Click();
  void OkamAIN2Click();
  void OkamDIN2Click();
  void OkamDOUT1Click();
  void Statusregistr1Click();
  void Konec2Click();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void createMenu();
  // Panel `panel` (0..2) as wide as its text needs, but at least minimumWidth.
  void FitPanel(int panel, int minimumWidth);

  std::unique_ptr<TData> data_;
};
