#include "base/exchange.h"

#include "base/driver_loader.h"

namespace {

// The exchange proper; returns the driver's whole result, 0 = success.
uint32_t Exchange(uint8_t iface, uint32_t handle, uint8_t address, uint8_t command, uint8_t index,
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
