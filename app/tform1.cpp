#include "app/tform1.h"

#include <QCloseEvent>
#include <algorithm>
#include <iterator>
#include <cstdio>
#include <new>

#include "base/settings/settings.h"
#include "ui/return_key.h"
#include "ui/window_util.h"
#include "calib/tform6.h"
#include "base/exchange/driver_loader.h"
#include "connect/tform2.h"
#include "config/tform12.h"
#include "config/tform13.h"
#include "config/tform14.h"
#include "live/tform11.h"
#include "live/tform15.h"
#include "live/tform3.h"
#include "live/tform9.h"

namespace {

// Status bar panels 0..3.
constexpr int PanelWidths[4] = {140, 80, 120, 50};

TData* AllocateData() { return new (std::nothrow) TData; }

TForm1::DataAllocator& Allocator() {
  static TForm1::DataAllocator allocator = &AllocateData;
  return allocator;
}

}  // namespace

void TForm1::SetDataAllocator(DataAllocator allocator) {
  Allocator() = allocator != nullptr ? allocator : &AllocateData;
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral(" QX-510  (v.1.03)  -  nastavení modulu"));

  createMenu();
  StatusBar1 = new StatusBar(this, QList<int>(std::begin(PanelWidths), std::end(PanelWidths)));
  setStatusBar(StatusBar1);
  StatusBar1->setPanelText(0, QStringLiteral(" Modul"));
  StatusBar1->setPanelText(1, QStringLiteral(" Adresa"));
  StatusBar1->setPanelText(2, QStringLiteral(" Rychlost"));
  StatusBar1->setPanelText(3, QString());

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client);

  KeepReturnFromButtons(this);
  SetFixedClientSize(this, 600, 400);
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::createMenu() {
  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  // Without a native menu bar the menu stays inside the window on every desktop.
  MainMenu1->setNativeMenuBar(false);

  auto item = [this](QMenu* menu, const char* name, const QString& caption, void (TForm1::*handler)()) {
    QAction* action = menu != nullptr ? menu->addAction(caption) : MainMenu1->addAction(caption);
    action->setObjectName(QLatin1String(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
  };
  auto submenu = [this](QMenu*& menu, QAction*& action, const char* name, const QString& caption) {
    menu = MainMenu1->addMenu(caption);
    menu->setObjectName(QLatin1String(name) + QStringLiteral("Menu"));
    action = menu->menuAction();
    action->setObjectName(QLatin1String(name));
  };

  Pipojen1 = item(nullptr, "Pipojen1", QStringLiteral("&Připojení"), &TForm1::Pipojen1Click);

  submenu(NastavenMenu, Nastaven1, "Nastaven1", QStringLiteral("&Nastavení"));
  AdresaRychlost1 = item(NastavenMenu, "AdresaRychlost1", QStringLiteral("Adresa, rychlost"),
                         &TForm1::AdresaRychlost1Click);
  NastavAIN1 = item(NastavenMenu, "NastavAIN1", QStringLiteral("Analogové vstupy"), &TForm1::NastavAIN1Click);
  NastavDIO1 = item(NastavenMenu, "NastavDIO1", QStringLiteral("Digitální vstupy/výstupy"),
                    &TForm1::NastavDIO1Click);
  Kalibracevstup1 = item(NastavenMenu, "Kalibracevstup1", QStringLiteral("Kalibrace vstupů"),
                         &TForm1::Kalibracevstup1Click);

  submenu(OkamithodnotyMenu, Okamithodnoty1, "Okamithodnoty1", QStringLiteral("&Okamžité hodnoty"));
  OkamAIN2 = item(OkamithodnotyMenu, "OkamAIN2", QStringLiteral("Analogové vstupy"), &TForm1::OkamAIN2Click);
  OkamDIN2 = item(OkamithodnotyMenu, "OkamDIN2", QStringLiteral("Digitální vstupy"), &TForm1::OkamDIN2Click);
  OkamDOUT1 = item(OkamithodnotyMenu, "OkamDOUT1", QStringLiteral("Digitální výstupy"), &TForm1::OkamDOUT1Click);
  Statusregistr1 = item(OkamithodnotyMenu, "Statusregistr1", QStringLiteral("Status registr"),
                        &TForm1::Statusregistr1Click);

  Konec2 = item(nullptr, "Konec2", QStringLiteral("&Konec"), &TForm1::Konec2Click);
}

void TForm1::FormCreate() {
  data_.reset(Allocator()());
  if (!data_) {
    // The first three panels keep their start texts for the whole run; they give up their
    // spare room so that the message is not cut off, however wide the desktop's font.
    for (int i = 0; i < 3; ++i) FitPanel(i, 0);
    StatusBar1->setPanelText(3, QStringLiteral(" Nelze vytvořit datové struktury programu"));
    return;
  }
  InitData(data_.get());
  LoadConnectionSettings(data_.get());
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TForm1::FormClose() {
  if (!data_) return;
  QString error;
  if (!SaveConnectionSettings(data_.get(), ConnectionSettingsPath(), &error)) {
    // No message box while the program goes down; the line on standard error says what was lost.
    const QString line = QStringLiteral("qx510: nastavení připojení nebylo uloženo do %1: %2\n")
                             .arg(ConnectionSettingsPath(), error);
    std::fputs(line.toLocal8Bit().constData(), stderr);
  }
  if (data_->Connected && data_->DriverHandle != 0) {
    uint32_t handle = data_->DriverHandle;
    DriverDone(data_->Interface, &handle);
  }
  data_.reset();
}

void TForm1::FitPanel(int panel, int minimumWidth) {
  auto* label = StatusBar1->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(panel));
  if (label == nullptr) return;
  // A label's size hint never goes below its current minimum: free it before asking.
  label->setMinimumWidth(0);
  label->setMaximumWidth(QWIDGETSIZE_MAX);
  label->setFixedWidth(std::max(minimumWidth, label->sizeHint().width()));
}

void TForm1::RefreshStatusBar() {
  if (!data_) return;
  const QString texts[3] = {
      QStringLiteral(" Modul  ") + TForm2::IdentForDisplay(data_->ModuleIdent),
      QStringLiteral(" Adresa  %1").arg(int{data_->ModuleAddress}),
      QStringLiteral(" Rychlost  %1Bd").arg(data_->BaudRate),
  };
  for (int i = 0; i < 3; ++i) {
    StatusBar1->setPanelText(i, texts[i]);
    // The panel widths were made for a narrower font than most desktops use; a panel grows
    // as far as its text needs, so no identification or rate is cut off.
    FitPanel(i, PanelWidths[i]);
  }
}

void TForm1::Pipojen1Click() {
  if (!data_) return;
  openModal<TForm2>();
  RefreshStatusBar();
}

void TForm1::AdresaRychlost1Click() { openModal<TForm12>(); }

void TForm1::NastavAIN1Click() { openModal<TForm13>(); }

void TForm1::NastavDIO1Click() { openModal<TForm14>(); }

void TForm1::Kalibracevstup1Click() { openModal<TForm6>(); }

void TForm1::OkamAIN2Click() { openModal<TForm3>(); }

void TForm1::OkamDIN2Click() { openModal<TForm11>(); }

void TForm1::OkamDOUT1Click() { openModal<TForm9>(); }

void TForm1::Statusregistr1Click() { openModal<TForm15>(); }

void TForm1::Konec2Click() { close(); }
