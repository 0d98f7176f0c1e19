#pragma once
// An observer that hands records to a reader on any thread without ever making the exchange
// wait: a bounded lock-free queue. When the reader falls behind, records are dropped and
// counted rather than held up.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/exchange/exchange_observer.h"

class ExchangeQueue final : public ExchangeObserver {
 public:
  // capacity: rounded up to a power of two.
  explicit ExchangeQueue(std::size_t capacity = 4096);
  ExchangeQueue(const ExchangeQueue&) = delete;
  ExchangeQueue& operator=(const ExchangeQueue&) = delete;

  void exchanged(const ExchangeRecord& record) noexcept override;
  // The oldest record not yet taken; false when there is none.
  bool pop(ExchangeRecord& record);
  // Records that found the queue full.
  uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  struct Slot {
    std::atomic<std::size_t> turn{0};
    ExchangeRecord record;
  };
  std::unique_ptr<Slot[]> slots_;
  std::size_t mask_ = 0;
  alignas(64) std::atomic<std::size_t> head_{0};  // next to write
  alignas(64) std::atomic<std::size_t> tail_{0};  // next to read
  std::atomic<uint64_t> dropped_{0};
};
