#include "sim/line/sim_fault.h"

namespace {
template <class T>
struct Named {
  T value;
  const char* name;
};
constexpr Named<SimFault::Kind> KindNames[] = {{SimFault::Silent, "silent"},       {SimFault::Delay, "delay"},
                                               {SimFault::Malformed, "malformed"}, {SimFault::Refuse, "refuse"},
                                               {SimFault::PowerLoss, "powerloss"}, {SimFault::Collision, "collision"}};
constexpr Named<SimFault::Form> FormNames[] = {{SimFault::WrongLength, "length"},
                                               {SimFault::WrongSequence, "sequence"},
                                               {SimFault::WrongAddress, "address"},
                                               {SimFault::FlippedBits, "bits"},
                                               {SimFault::WrongValue, "value"}};

template <class T, size_t N>
const char* NameOf(const Named<T> (&table)[N], T value) {
  for (const auto& e : table)
    if (e.value == value) return e.name;
  return "?";
}

template <class T, size_t N>
std::optional<T> ValueOf(const Named<T> (&table)[N], const std::string& name) {
  for (const auto& e : table)
    if (name == e.name) return e.value;
  return std::nullopt;
}
}  // namespace

const char* SimFault::KindName(Kind kind) { return NameOf(KindNames, kind); }
std::optional<SimFault::Kind> SimFault::KindFromName(const std::string& name) { return ValueOf(KindNames, name); }
const char* SimFault::FormName(Form form) { return NameOf(FormNames, form); }
std::optional<SimFault::Form> SimFault::FormFromName(const std::string& name) { return ValueOf(FormNames, name); }

std::string SimFault::describe() const {
  std::string text = KindName(kind);
  switch (kind) {
    case Delay: text += std::string(" ") + std::to_string(delayMs) + " ms"; break;
    case Malformed: text += std::string(" ") + FormName(form); break;
    case Refuse: text += std::string(" ") + std::to_string(status); break;
    case PowerLoss:
      text += std::string(" při ") + std::to_string(afterWrites) + ". zápisu" + (keepWrite ? " (proveden)" : " (ztracen)");
      break;
    default: break;
  }
  if (command >= 0) text += std::string(", příkaz ") + std::to_string(command);
  if (count > 0) text += std::string(", zbývá ") + std::to_string(count);
  return text;
}
