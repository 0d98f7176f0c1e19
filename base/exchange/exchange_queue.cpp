#include "base/exchange/exchange_queue.h"

// Each slot's turn says whose it is: equal to a writer's position, free for that writer;
// position + 1, holding that position's record for the reader. Writers and readers claim
// positions with a compare-and-swap, so any number of either may run at once.

ExchangeQueue::ExchangeQueue(std::size_t capacity) {
  std::size_t size = 2;
  while (size < capacity) size *= 2;
  slots_ = std::make_unique<Slot[]>(size);
  mask_ = size - 1;
  for (std::size_t i = 0; i < size; ++i) slots_[i].turn.store(i, std::memory_order_relaxed);
}

void ExchangeQueue::exchanged(const ExchangeRecord& record) noexcept {
  std::size_t pos = head_.load(std::memory_order_relaxed);
  Slot* slot = nullptr;
  while (true) {
    slot = &slots_[pos & mask_];
    const std::size_t turn = slot->turn.load(std::memory_order_acquire);
    const auto lag = static_cast<std::ptrdiff_t>(turn - pos);
    if (lag == 0) {
      if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
    } else if (lag < 0) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return;
    } else {
      pos = head_.load(std::memory_order_relaxed);
    }
  }
  slot->record = record;
  slot->turn.store(pos + 1, std::memory_order_release);
}

bool ExchangeQueue::pop(ExchangeRecord& record) {
  std::size_t pos = tail_.load(std::memory_order_relaxed);
  Slot* slot = nullptr;
  while (true) {
    slot = &slots_[pos & mask_];
    const std::size_t turn = slot->turn.load(std::memory_order_acquire);
    const auto lag = static_cast<std::ptrdiff_t>(turn - (pos + 1));
    if (lag == 0) {
      if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
    } else if (lag < 0) {
      return false;
    } else {
      pos = tail_.load(std::memory_order_relaxed);
    }
  }
  record = slot->record;
  slot->turn.store(pos + mask_ + 1, std::memory_order_release);
  return true;
}
