#include "line/settings/module_settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "base/exchange/commands.h"
#include "base/text/baud.h"
#include "line/settings/settings_change.h"
#include "ui/question.h"
#include "ui/return_key.h"
#include "line/settings/settings_foot.h"
#include "ui/status_bar.h"

namespace {

// The three digital fields in the order their boxes stand, as the digital window shows them.
struct Field {
  const char* title;
  const char* channel;
  const char* name;
  uint8_t base;
};
constexpr Field Fields[] = {{" Negace DIN ", "DIN", "DinNegation", CfgAddr::DinNegation},
                            {"Negace DOUT ", "DOUT", "DoutNegation", CfgAddr::DoutNegation},
                            {" Počáteční stav DOUT ", "DOUT", "DoutInitial", CfgAddr::DoutInitialState}};

}  // namespace

ModuleSettingsWindow::ModuleSettingsWindow(LineWorker* worker, const LineModule& module, QWidget* parent)
    : QWidget(parent, Qt::Window), module_(module), run_(new SettingsRun(worker, this)) {
  setObjectName(QStringLiteral("ModuleSettingsWindow"));
  ask_ = [this](const QString& text) { return AskYesNo(this, windowTitle(), text); };
  auto* layout = new QVBoxLayout(this);

  auto* top = new QHBoxLayout;
  auto* line = new QGroupBox(QStringLiteral("Adresa, rychlost"), this);
  auto* lg = new QGridLayout(line);
  auto* addressLabel = new QLabel(QStringLiteral("&Adresa modulu  (0-255)"), line);
  address_ = new QLineEdit(line);
  address_->setObjectName(QStringLiteral("AddressEdit"));
  address_->setMaximumWidth(80);
  addressLabel->setBuddy(address_);
  auto* rateLabel = new QLabel(QStringLiteral("&Komunikační rychlost"), line);
  rate_ = new QComboBox(line);
  rate_->setObjectName(QStringLiteral("RateCombo"));
  rate_->addItems(BaudRateItems());
  rateLabel->setBuddy(rate_);
  lg->addWidget(addressLabel, 0, 0);
  lg->addWidget(address_, 0, 1);
  lg->addWidget(rateLabel, 1, 0);
  lg->addWidget(rate_, 1, 1);
  top->addWidget(line);
  auto* analog = new QGroupBox(QStringLiteral("Analogové vstupy"), this);
  auto* ag = new QGridLayout(analog);
  auto* rangeLabel = new QLabel(QStringLiteral("&Rozsah AIN 0"), analog);
  range_ = new QComboBox(analog);
  range_->setObjectName(QStringLiteral("RangeCombo"));
  range_->addItems(SettingChoiceValues(SettingChoice::AinRange));
  rangeLabel->setBuddy(range_);
  ag->addWidget(rangeLabel, 0, 0);
  ag->addWidget(range_, 0, 1);
  ag->setRowStretch(1, 1);
  top->addWidget(analog);
  top->addStretch(1);
  layout->addLayout(top);

  auto* digital = new QHBoxLayout;
  for (int g = 0; g < 3; ++g) {
    auto* box = new QGroupBox(QString::fromUtf8(Fields[g].title), this);
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(1);
    for (int n = 0; n < 32; ++n) {
      auto* check = new QCheckBox(QStringLiteral("%1%2").arg(QLatin1String(Fields[g].channel)).arg(n), box);
      check->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(Fields[g].name)).arg(n));
      // Two columns of sixteen, each split in blocks of eight by a row left empty.
      const int inColumn = n % 16;
      grid->addWidget(check, inColumn + inColumn / 8, n / 16);
      bits_[size_t(g * 32 + n)] = check;
    }
    grid->setRowMinimumHeight(8, 6);
    digital->addWidget(box);
  }
  layout->addLayout(digital);

  auto* buttons = new QHBoxLayout;
  read_ = new QPushButton(QStringLiteral("&Přečíst"), this);
  read_->setObjectName(QStringLiteral("ReadButton"));
  write_ = new QPushButton(QStringLiteral("&Zapsat"), this);
  write_->setObjectName(QStringLiteral("WriteButton"));
  undo_ = new QPushButton(QStringLiteral("&Vrátit změnu…"), this);
  undo_->setObjectName(QStringLiteral("UndoButton"));
  auto* close = new QPushButton(QStringLiteral("Zavří&t"), this);
  close->setObjectName(QStringLiteral("CloseButton"));
  buttons->addWidget(read_);
  buttons->addWidget(write_);
  buttons->addWidget(undo_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  foot_.emplace(this, layout);

  connect(read_, &QPushButton::clicked, this, &ModuleSettingsWindow::readModule);
  connect(write_, &QPushButton::clicked, this, &ModuleSettingsWindow::writeModule);
  connect(undo_, &QPushButton::clicked, this, &ModuleSettingsWindow::undoChange);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
  connect(run_, &SettingsRun::status, this, [this](const LineModule&, const QString& text) { foot_->status->setText(text); });
  connect(run_, &SettingsRun::readDone, this, &ModuleSettingsWindow::readDone);
  connect(run_, &SettingsRun::written, this, &ModuleSettingsWindow::written);
  connect(run_, &SettingsRun::undone, this, &ModuleSettingsWindow::undone);
  connect(run_, &SettingsRun::found, this, &ModuleSettingsWindow::found);
  probe_.setSingleShot(true);
  probe_.setInterval(1000);
  connect(&probe_, &QTimer::timeout, this, [this] {
    LineModule place;
    if (waiting_ && movesTo(place)) run_->find(place);
  });
  KeepReturnFromButtons(this);
  updateTitle();
  updateButtons();
  readModule();
}

QString ModuleSettingsWindow::status() const { return foot_->status->text(); }
QString ModuleSettingsWindow::message() const { return foot_->message->text(); }

void ModuleSettingsWindow::updateTitle() {
  setWindowTitle(QStringLiteral("Nastavení modulu %1%2").arg(ModulePlace(module_), module_.ident.isEmpty() ? QString() : QStringLiteral(" – ") + module_.ident));
}

void ModuleSettingsWindow::updateButtons() {
  const bool idle = !run_->busy() && !waiting_;
  read_->setEnabled(idle);
  write_->setEnabled(idle && known_);
  undo_->setEnabled(idle && !run_->backupPath().isEmpty());
}

void ModuleSettingsWindow::showImage(const ConfigImage& image) {
  address_->setText(QString::number(image.at(CfgAddr::BusAddress)));
  // A code no rate belongs to leaves no rate chosen, as in the address window.
  const int code = image.at(CfgAddr::BaudCode);
  rate_->setCurrentIndex(code < BaudCodeCount ? code : -1);
  range_->setCurrentIndex(image.at(CfgAddr::AinRange) & 1);
  for (int g = 0; g < 3; ++g)
    for (int n = 0; n < 32; ++n) bits_[size_t(g * 32 + n)]->setChecked(DigitalBit(image, Fields[g].base, n));
}

bool ModuleSettingsWindow::takeImage(ConfigImage& image) {
  uint8_t address = 0;
  if (!ParseByteInRange(address_->text(), 0, 255, address)) {
    foot_->status->setText(AddressRangeText);
    return false;
  }
  if (rate_->currentIndex() < 0 || rate_->currentIndex() >= BaudCodeCount) {
    foot_->status->setText(BaudRangeText);
    return false;
  }
  image.bytes[CfgAddr::BusAddress] = address;
  image.bytes[CfgAddr::BaudCode] = uint8_t(rate_->currentIndex());
  // The analog window writes the whole byte as its range alone.
  image.bytes[CfgAddr::AinRange] = uint8_t(range_->currentIndex());
  for (int g = 0; g < 3; ++g)
    for (int n = 0; n < 32; ++n) SetDigitalBit(image, Fields[g].base, n, bits_[size_t(g * 32 + n)]->isChecked());
  foot_->status->setText(QStringLiteral(" "));
  return true;
}

void ModuleSettingsWindow::readModule() {
  if (run_->busy() || waiting_) return;
  run_->read({module_});
  updateButtons();
}

void ModuleSettingsWindow::readDone(const QVector<ModuleSettings>& settings) {
  if (settings.size() == 1) {
    const ModuleSettings& s = settings.first();
    // What was read before a failure is shown, the rest as the window had it.
    for (uint8_t address : SettingsAddresses())
      if (s.read.known[address]) image_.bytes[address] = s.read.image.at(address);
    known_ = known_ || s.ok();
    showImage(image_);
    foot_->status->setText(s.text);
    LineModule place;
    if (s.ok() && movesTo(place))
      foot_->setMessage(QStringLiteral("Modul má v paměti adresu a rychlost %1; začnou platit po jeho příštím zapnutí.").arg(ModulePlace(place)));
  }
  updateButtons();
}

void ModuleSettingsWindow::writeModule() {
  if (run_->busy() || waiting_ || !known_) return;
  ConfigImage wanted = image_;
  if (!takeImage(wanted)) return;
  const std::vector<ConfigByte> changes = ChangedSettings(image_, wanted);
  if (changes.empty()) {
    foot_->status->setText(QStringLiteral(" Beze změny, nebylo co zapsat."));
    return;
  }
  if (TouchesLineSettings(changes) &&
      !ask_(QStringLiteral("Nová adresa nebo rychlost začne platit po vypnutí a zapnutí modulu. Do té doby modul "
                           "odpovídá na %1. Zapsat?").arg(ModulePlace(module_))))
    return;
  if (run_->backupPath().isEmpty()) foot_->setMessage(QStringLiteral("Před prvním zápisem se pořizuje záloha modulu…"));
  run_->write({SettingsWish{module_, image_, wanted}});
  updateButtons();
}

void ModuleSettingsWindow::written(const QVector<ChangeReport>& reports, const QString& failure) {
  if (!failure.isEmpty()) {
    foot_->status->setText(QStringLiteral(" "));
    foot_->setMessage(failure, true);
    return updateButtons();
  }
  const QString backup = QStringLiteral("Záloha před první změnou: %1").arg(run_->backupPath());
  bool moves = false;  // the write took a new address or rate
  if (reports.size() == 1) {
    const ChangeReport& r = reports.first();
    // The bytes that went through, each verified by its read-back, are what the module holds.
    const std::vector<ConfigByte> done(r.writes.begin(), r.writes.begin() + long(std::min(r.writes.size(), r.result.done)));
    for (const ConfigByte& b : done) image_.bytes[b.address] = b.value;
    moves = TouchesLineSettings(done);
    foot_->status->setText(r.text);
    foot_->setMessage(backup, !r.ok());
  }
  LineModule place;
  if (moves && movesTo(place)) {
    waiting_ = true;
    tries_ = 0;
    foot_->setMessage(QStringLiteral("Modul odpovídá na nové adrese a rychlosti %1 až po vypnutí a zapnutí. Vypněte a "
                                     "zapněte modul; okno ho pak na nové adrese najde samo (zavřením okna se hledání "
                                     "ukončí). %2")
                          .arg(ModulePlace(place), backup));
    probe_.start();
  }
  updateButtons();
}

bool ModuleSettingsWindow::movesTo(LineModule& place) const {
  place = module_;
  place.address = image_.at(CfgAddr::BusAddress);
  place.baudCode = std::min<int>(image_.at(CfgAddr::BaudCode), BaudCodeCount - 1);
  return known_ && !(place == module_);
}

void ModuleSettingsWindow::found(const LineModule& at, bool answered, const QString& ident, const QString& error) {
  if (!waiting_) return updateButtons();
  if (!answered) {
    ++tries_;
    foot_->status->setText(QStringLiteral(" Modul na %1 zatím neodpovídá (%2. pokus): %3").arg(ModulePlace(at)).arg(tries_).arg(error));
    probe_.start();
    return updateButtons();
  }
  waiting_ = false;
  const LineModule from = module_;
  module_ = at;
  module_.ident = ident.isEmpty() ? from.ident : ident;
  run_->moved(from, module_);
  updateTitle();
  foot_->status->setText(QStringLiteral(" Modul odpovídá na %1.").arg(ModulePlace(module_)));
  foot_->setMessage(QStringLiteral("Modul nalezen na nové adrese a rychlosti %1; linka ho sleduje a soubor linky je uložen.").arg(ModulePlace(module_)));
  updateButtons();
  emit moduleMoved(from, module_);
}

void ModuleSettingsWindow::undoChange() {
  if (run_->busy() || waiting_ || run_->backupPath().isEmpty()) return;
  if (!ask_(UndoQuestion(run_->backup(), run_->backupPath()))) return;
  run_->undo();
  updateButtons();
}

void ModuleSettingsWindow::undone(const QVector<RestoreReport>& reports, bool stopped) {
  bool failure = false;
  foot_->setMessage(UndoneText(reports, stopped, failure), failure);
  // What the module holds now, as the restore left it.
  run_->read({module_});
  updateButtons();
}
