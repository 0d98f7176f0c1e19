#pragma once
// The observer's state as the exchange path reads it: inline, so that an exchange nobody
// watches pays one atomic load. Not for the observers themselves.

#include <atomic>
#include <cstdint>

#include "base/exchange/exchange_observer.h"

namespace exchange_hook {
extern std::atomic<ExchangeObserver*> observer;
extern std::atomic<uint32_t> lineRate;
}  // namespace exchange_hook
