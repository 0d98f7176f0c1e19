#include "base/exchange/line_scan.h"

#include <QElapsedTimer>

#include <algorithm>

#include "base/text/baud.h"
#include "base/exchange/address_conflict.h"
#include "base/exchange/exchange_observer.h"
#include "base/exchange/identify.h"

ScanEnd ScanLine(uint8_t iface, uint32_t handle, const std::vector<uint8_t>& addresses,
                 const std::vector<int>& baudCodes, ScanBudget& budget, int responseTimeoutMs, const ScanHooks& hooks) {
  ScanEnd end;
  constexpr int IdentifyExchanges = 3;
  AddressConflicts tries;  // every try's outcome, by address and rate
  int setTimeout = -1;
  auto useRate = [&](int code, int timeoutMs) {
    if (timeoutMs == setTimeout) return true;
    if (const uint32_t s = hooks.setRate(code, timeoutMs); s != 0) {
      end.status = s;
      end.failedBaudCode = code;
      return false;
    }
    setTimeout = timeoutMs;
    return true;
  };
  auto identify = [&](int code, uint8_t address, int timeoutMs, bool late) {
    QString ident;
    QElapsedTimer took;
    took.start();
    const uint8_t status = IdentifyModule(iface, handle, address, ident);
    tries.add(address, code, ClassifyExchangeStatus(status));
    if (status != 0) return status;
    const int32_t rate = BaudCodeToRate(code);
    ScanFind f{address, code, ident, took.nsecsElapsed(), late, false, timeoutMs};
    const int64_t beyondNs = f.tookNs / IdentifyExchanges - wire::ExchangeTime(rate).count();
    const int64_t slackNs = (int64_t(timeoutMs) - LeastResponseTimeoutMs(budget.basis(), rate)) * 1'000'000;
    f.nearLimit = beyondNs * 2 > slackNs;
    budget.learn(rate, f.tookNs, IdentifyExchanges);
    hooks.found(f);
    return status;
  };

  auto add = [](std::vector<uint8_t>& list, int address) {
    if (address >= 0 && std::find(list.begin(), list.end(), uint8_t(address)) == list.end())
      list.push_back(uint8_t(address));
  };
  int64_t doneMs = 0;
  // What the tries not made yet would take: the rest of this rate's addresses, then every
  // address at each rate after it.
  auto leftMs = [&](std::size_t rateIndex, std::size_t addressesLeft) {
    int64_t ms = int64_t(addressesLeft) * budget.tryTimeoutMs(BaudCodeToRate(baudCodes[rateIndex]));
    for (std::size_t i = rateIndex + 1; i < baudCodes.size(); ++i)
      ms += int64_t(addresses.size()) * budget.tryTimeoutMs(BaudCodeToRate(baudCodes[i]));
    return ms;
  };
  for (std::size_t rateIndex = 0; rateIndex < baudCodes.size(); ++rateIndex) {
    const int code = baudCodes[rateIndex];
    if ((end.stopped = end.stopped || hooks.stop())) break;
    const int32_t rate = BaudCodeToRate(code);
    setTimeout = -1;
    // Asked again with the response timeout: a module slower than its try.
    std::vector<uint8_t> again;
    struct Silent {
      uint8_t address;
      qint64 startedNs;
    };
    std::vector<Silent> silent;
    QElapsedTimer clock;
    clock.start();
    int previousSilent = -1;  // the address of the try before, when it failed
    std::size_t addressesLeft = addresses.size();
    for (uint8_t address : addresses) {
      if ((end.stopped = hooks.stop())) break;
      const int timeout = budget.tryTimeoutMs(rate);
      if (!useRate(code, timeout)) return end;
      const qint64 startedNs = clock.nsecsElapsed();
      const uint8_t status = identify(code, address, timeout, false);
      if (const ExchangeOutcome o = ClassifyExchangeStatus(status);
          o == ExchangeOutcome::Late || o == ExchangeOutcome::Damaged) {
        add(again, previousSilent);
        add(again, address);
        // An adapter that holds answers back brings them tries later than their own: every
        // silent try of the time it may hold them is asked again at once, so that a module
        // found among them teaches the budget before the rest of the rate is tried.
        if (budget.assumeSlowAdapter()) {
          const qint64 heldNs = 2 * qint64(budget.tryTimeoutMs(rate)) * 1'000'000;
          std::vector<uint8_t> soon;
          for (const Silent& s : silent)
            if (startedNs - s.startedNs <= heldNs && std::find(again.begin(), again.end(), s.address) == again.end())
              add(soon, s.address);
          for (uint8_t a : soon) {
            const int t = budget.tryTimeoutMs(rate);
            if (!useRate(code, t)) return end;
            identify(code, a, t, true);
          }
        }
      }
      if (status != 0) silent.push_back({address, startedNs});
      previousSilent = status != 0 ? int(address) : -1;
      doneMs += timeout;
      if (hooks.tried) hooks.tried(doneMs, doneMs + leftMs(rateIndex, --addressesLeft));
    }
    if (end.stopped) break;
    if (!again.empty() && !useRate(code, responseTimeoutMs)) return end;
    for (uint8_t address : again) {
      // Damage that keeps coming is asked about until it decides.
      while (ClassifyExchangeStatus(identify(code, address, responseTimeoutMs, true)) == ExchangeOutcome::Damaged &&
             tries.damagedRun(address, code) < ConflictTries && !(end.stopped = hooks.stop())) {
      }
      if (end.stopped) break;
    }
    for (uint8_t address : again)
      if (hooks.conflict && tries.probablyTwoModules(address, code)) hooks.conflict(address, code);
    if (end.stopped) break;
  }
  return end;
}
