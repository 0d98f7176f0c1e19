#include "base/exchange/exchange.h"

#include <QByteArray>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/exchange/driver_loader.h"
#include "base/exchange/exchange_observer_hook.h"
#include "drivers/driver_abi.h"

namespace {

// The exchange proper; returns the driver's whole result, 0 = success.
uint32_t Send(uint8_t iface, uint32_t handle, uint8_t address, uint8_t command, uint8_t index,
              uint8_t& d0, uint8_t& d1, uint8_t& d2, uint8_t& d3, uint8_t& d4, uint32_t* response) {
  const ModuleRequest request{address, command, index, d0, d1, d2, d3, d4};
  uint32_t aux = 0;
  uint32_t sendStatus = 0;
  const uint32_t returned =
      DriverSend(iface, handle, reinterpret_cast<const uint32_t*>(&request), response, &aux, &sendStatus);
  const uint32_t result = returned != 0 ? returned : sendStatus;

  if (result == 0) {
    d0 = uint8_t(aux & 0xFFu);
    d1 = uint8_t(response[0] & 0xFFu);
    d2 = uint8_t(response[1] & 0xFFu);
    d3 = uint8_t(response[2] & 0xFFu);
    d4 = uint8_t(response[3] & 0xFFu);
  } else {
    d0 = d1 = d2 = d3 = d4 = 0;
  }
  return result;
}

int64_t Nanoseconds(std::chrono::nanoseconds t) { return int64_t(t.count()); }

// UTF-8 text cut to fit, never inside a character.
template <std::size_t N>
void CopyText(const QByteArray& utf8, char (&target)[N]) {
  std::size_t n = std::min<std::size_t>(std::size_t(utf8.size()), N - 1);
  while (n > 0 && n < std::size_t(utf8.size()) && (uint8_t(utf8[qsizetype(n)]) & 0xC0u) == 0x80u) --n;
  std::memcpy(target, utf8.constData(), n);
  target[n] = 0;
}

// The bytes a failed exchange received, where the driver hands them back (see driver_abi.h).
void KeepReceived(const uint32_t* response, ExchangeRecord& record) {
  static_assert(QX510_DRIVER_RAW_MAX == std::tuple_size_v<decltype(record.received)>);
  const uint32_t word = response[QX510_DRIVER_RAW_WORD];
  if ((word & QX510_DRIVER_RAW_TAG_MASK) != QX510_DRIVER_RAW_TAG) return;
  const uint32_t n = std::min<uint32_t>(word & 0xFFu, QX510_DRIVER_RAW_MAX);
  for (uint32_t i = 0; i < n; ++i) record.received[i] = uint8_t(response[QX510_DRIVER_RAW_WORD + 1 + i]);
  record.receivedSize = uint8_t(n);
}

[[gnu::noinline]] uint32_t ObservedExchange(ExchangeObserver* observer, uint8_t iface, uint32_t handle,
                                            uint8_t address, uint8_t command, uint8_t index, uint8_t& d0,
                                            uint8_t& d1, uint8_t& d2, uint8_t& d3, uint8_t& d4,
                                            uint32_t* response) {
  ExchangeRecord record;
  record.iface = iface;
  record.address = address;
  record.command = command;
  record.index = index;
  record.out = {d0, d1, d2, d3, d4};
  record.rate = exchange_hook::lineRate.load(std::memory_order_relaxed);
  record.startNs = Nanoseconds(std::chrono::system_clock::now().time_since_epoch());
  const auto start = std::chrono::steady_clock::now();
  record.status = Send(iface, handle, address, command, index, d0, d1, d2, d3, d4, response);
  record.durationNs = Nanoseconds(std::chrono::steady_clock::now() - start);
  record.in = {d0, d1, d2, d3, d4};
  if (record.status != 0) KeepReceived(response, record);
  // Here the driver that answered is still the one loaded. Most exchanges repeat the last
  // status, whose text is kept until another library is loaded.
  thread_local struct {
    uint64_t loads = ~uint64_t{0};
    uint8_t iface = 0;
    uint32_t status = 0;
    char text[sizeof record.statusText] = {};
  } last;
  const uint64_t loads = DriverLoadCount();
  if (last.loads != loads || last.iface != iface || last.status != record.status) {
    CopyText(DriverStatusText(iface, record.status).toUtf8(), last.text);
    last.loads = loads;
    last.iface = iface;
    last.status = record.status;
  }
  std::memcpy(record.statusText, last.text, sizeof last.text);
  observer->exchanged(record);
  return record.status;
}

uint32_t Exchange(uint8_t iface, uint32_t handle, uint8_t address, uint8_t command, uint8_t index,
                  uint8_t& d0, uint8_t& d1, uint8_t& d2, uint8_t& d3, uint8_t& d4, uint32_t* response) {
  if (ExchangeObserver* observer = exchange_hook::observer.load(std::memory_order_acquire)) [[unlikely]]
    return ObservedExchange(observer, iface, handle, address, command, index, d0, d1, d2, d3, d4, response);
  return Send(iface, handle, address, command, index, d0, d1, d2, d3, d4, response);
}

}  // namespace

void ModuleExchange(uint8_t iface, uint32_t handle, uint8_t address, uint8_t command, uint8_t index,
                    uint8_t& d0, uint8_t& d1, uint8_t& d2, uint8_t& d3, uint8_t& d4,
                    uint8_t& status, uint32_t* response) {
  if (handle == 0) return;
  const uint32_t result = Exchange(iface, handle, address, command, index, d0, d1, d2, d3, d4, response);
  status = StatusByte(result);
}

double DecodeMeasuredValue(uint8_t low, uint8_t mid, uint8_t high, uint8_t places) {
  double value = double((uint32_t(high & 0x7Fu) * 256u + mid) * 256u + low);
  if (high > 0x7F) value = -value;
  for (int i = 0; i < (places & 0x7F); ++i) value = value / 10.0;
  return value;
}

ExchangeResult ModuleTransact(uint8_t iface, uint32_t handle, uint8_t address, uint8_t command,
                              uint8_t index, std::array<uint8_t, 5> data) {
  ExchangeResult result;
  result.Data = data;
  if (handle == 0) return result;
  std::array<uint32_t, 100> response{};
  result.Status = Exchange(iface, handle, address, command, index, result.Data[0], result.Data[1],
                           result.Data[2], result.Data[3], result.Data[4], response.data());
  return result;
}
