#pragma once
// Putting one new module in service: found at its delivery place, given the template
// configuration, then its own address and rate, power-cycled by the operator, found at its new
// place and its whole image compared with the plan. The caller drives it (the companion on a
// terminal, the workbench from its window) and hears of every step through the events; a step
// that fails says where the module answers now and may be run again.

#include <QDateTime>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "base/commission/module_place.h"
#include "base/config/config_image.h"
#include "base/config/module_image.h"

enum class CommissionStep { Find, Template, AddressRate, PowerCycle, Verify };
constexpr int CommissionStepCount = 5;
// "Zápis vzorové konfigurace"
QString CommissionStepName(CommissionStep step);

struct CommissionPlan {
  ModulePlace from;  // where new modules are delivered
  ModulePlace to;    // the module's own place on the line
  // The template's configuration; none: the module keeps its own but for address and rate.
  std::optional<ConfigImage> templateImage;
  QString templateType;  // the module type the template came from (ModuleTypeName); empty: any
  QString tag;
};

// The bytes a template gives a module: all but the line settings, which the plan gives, and
// the calibration constants, which are each module's own.
std::vector<uint8_t> TemplateAddresses();
// The module's image as planned and the addresses the final comparison takes: the template's
// bytes (when there is one) and the planned address and rate.
ConfigImage PlannedImage(const CommissionPlan& plan);
std::vector<uint8_t> PlannedAddresses(const CommissionPlan& plan);

struct CommissionEvents {
  // A line of the step's report as it goes (the step's name when it begins, what it found).
  std::function<void(CommissionStep, const QString& text)> report;
  std::function<void(CommissionStep, ImagePhase, int percent)> progress;
  // Asks the operator to switch the module off and on and waits for the word; false: the
  // operator gave up, which ends the work as a cancel does.
  std::function<bool(const QString& prompt)> powerCycle;
  // Asked between exchanges; true ends the work at the next byte.
  std::function<bool()> cancelled;
  std::function<void(int ms)> sleep;  // empty: QThread::msleep
  std::function<void(std::chrono::steady_clock::time_point exchanged)> pause;  // as ImageEvents
};

struct StepReport {
  CommissionStep step = CommissionStep::Find;
  // Absent: nothing answers at the delivery place; Collided: more than one module does;
  // Refused: the plan cannot be carried out (another module already at the new place, a
  // template of another module type or with a value the settings windows never write), said
  // before anything is written.
  enum Outcome { Done, Failed, Absent, Collided, Refused, Cancelled } outcome = Done;
  QString text;  // what the step did, or why it did not, and where the module answers now
  QDateTime at;
};

class Commissioning {
 public:
  Commissioning(PlaceAccess access, CommissionPlan plan, CommissionEvents events = {});

  // Runs the steps from the first one not done to the end, or to the first that does not end
  // Done; true when the module answered at its new place with the planned image. Run again,
  // it repeats the step that failed; runFrom() goes back to an earlier one (never past it).
  bool run();
  bool runFrom(CommissionStep step);

  bool done() const { return next_ > CommissionStepCount - 1; }
  CommissionStep next() const { return CommissionStep(std::min(next_, CommissionStepCount - 1)); }
  const CommissionPlan& plan() const { return plan_; }
  const std::vector<StepReport>& reports() const { return reports_; }
  const StepReport& last() const { return reports_.back(); }  // after a run
  // Where the module answered when last seen (looked for again after every failure).
  const Whereabouts& where() const { return where_; }
  // The identification, and the image read back at the end with its time.
  const QString& ident() const { return ident_; }
  const ImageRead& verified() const { return verified_; }
  const QDateTime& verifiedAt() const { return verifiedAt_; }
  // How long the module may take to answer at its new place after the operator's word.
  void setPowerWaitMs(int ms) { powerWaitMs_ = ms; }

 private:
  StepReport::Outcome runStep(CommissionStep step, QString& text);
  StepReport::Outcome find(QString& text);
  StepReport::Outcome writeTemplate(QString& text);
  StepReport::Outcome writeAddressRate(QString& text);
  StepReport::Outcome powerCycle(QString& text);
  StepReport::Outcome verify(QString& text);
  // A failed step: looks for the module and adds where it answers to the text.
  StepReport::Outcome failed(QString& text);
  StepReport::Outcome cancelled(QString& text);
  // Every place the module can answer at while it moves: where it was seen, the delivery
  // place, its new place, and the two halves of the move.
  std::vector<ModulePlace> candidates() const;
  ImageEvents imageEvents(CommissionStep step) const;
  bool askedToStop() const { return events_.cancelled && events_.cancelled(); }
  void say(CommissionStep step, const QString& text) const;

  PlaceAccess access_;
  CommissionPlan plan_;
  CommissionEvents events_;
  int next_ = 0;
  std::vector<StepReport> reports_;
  Whereabouts where_;
  ModulePlace afterPowerUp_;  // where the module's memory sends it at its next power-up
  QString ident_;
  ImageRead verified_;
  QDateTime verifiedAt_;
  int powerWaitMs_ = 30000;
};
