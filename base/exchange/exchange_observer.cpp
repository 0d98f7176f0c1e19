#include "base/exchange/exchange_observer.h"

#include "base/exchange/commands.h"
#include "base/exchange/exchange_observer_hook.h"

std::atomic<ExchangeObserver*> exchange_hook::observer{nullptr};
std::atomic<uint32_t> exchange_hook::lineRate{0};

ExchangeObserver* SetExchangeObserver(ExchangeObserver* observer) {
  return exchange_hook::observer.exchange(observer, std::memory_order_acq_rel);
}

void SetExchangeLineRate(uint32_t rate) { exchange_hook::lineRate.store(rate, std::memory_order_relaxed); }

ExchangeOutcome ClassifyExchangeStatus(uint32_t status) {
  // The codes of the drivers shipped with the tool; one table, so a new driver status is
  // counted where it belongs by adding a row.
  struct Row {
    uint32_t first, last;
    ExchangeOutcome outcome;
  };
  static constexpr Row Rows[] = {
      {0, 0, ExchangeOutcome::Good},
      {2, 2, ExchangeOutcome::Timeout},
      {9, 9, ExchangeOutcome::Damaged},
      {15, 15, ExchangeOutcome::Late},
      {20, 23, ExchangeOutcome::Refused},  // unknown command, index, address; copies differ
  };
  for (const Row& row : Rows)
    if (status >= row.first && status <= row.last) return row.outcome;
  return ExchangeOutcome::Other;
}

const char* ExchangeCommandName(uint8_t command) {
  switch (command) {
    case Cmd::ReadChannel: return "čtení kanálu";
    case Cmd::WriteOutputs: return "zápis výstupů";
    case Cmd::ReadStatus: return "čtení stavu";
    case Cmd::ClearStatus: return "nulování stavu";
    case Cmd::ReadConfigByte: return "čtení konfigurace";
    case Cmd::WriteConfigByte: return "zápis konfigurace";
    case Cmd::Identify: return "identifikace";
    default: return "?";
  }
}
