// The seven entries of one stand-in library. Built five times, once per prefix; the build
// defines QX510_DRIVER_PREFIX and QX510_STANDIN_KIND (0 serial port .. 4 LAN converter).
#include "drivers/driver_abi.h"
#include "drivers/standin/standin_core.h"

namespace {
constexpr standin::Kind kKind = standin::Kind(QX510_STANDIN_KIND);
constexpr uint32_t kVersion = 0x0100;  // 1.00
}  // namespace

extern "C" {

QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(Version)(uint32_t* version) {
  if (!version) return standin::BadParams;
  *version = kVersion;
  return standin::Ok;
}

#if QX510_STANDIN_KIND == 0 || QX510_STANDIN_KIND == 1
// Serial port: word 0 is the port number n of COMn. ISA card: the I/O base address. Every
// port and card leads to the same simulator; the value names the line the driver holds.
QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(Init)(uint32_t* handle, uint32_t word0) {
#if QX510_STANDIN_KIND == 0
  if (word0 < 1 || word0 > 255) return standin::BadParams;
#else
  if (word0 < 0x100 || word0 > 0x3FF) return standin::BadParams;
#endif
  return standin::OpenLocal(kKind, word0, handle);
}
#elif QX510_STANDIN_KIND == 4
QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(Init)(uint32_t* handle, const uintptr_t* block) {
  return standin::OpenLan(handle, block);
}
#else
QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(Init)(uint32_t* handle) { return standin::OpenLocal(kKind, 0, handle); }
#endif

// a: rate in Bd, b: response timeout in ms, c: the line protocol variant (kept, not used).
QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(SetConfig)(uint32_t handle, uint32_t a, uint32_t b, uint32_t c) {
  return standin::SetConfig(kKind, handle, a, b, c);
}

QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(GetConfig)(uint32_t handle, uint32_t* a, uint32_t* b, uint32_t* c) {
  return standin::GetConfig(kKind, handle, a, b, c);
}

QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(Send)(uint32_t handle, const uint32_t* request8, uint32_t* response100,
                                                      uint32_t* aux, uint32_t* status) {
  return standin::Send(kKind, handle, request8, response100, aux, status);
}

QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(Done)(uint32_t* handle) { return standin::Close(kKind, handle); }

QX510_DRIVER_EXPORT uint32_t QX510_DRIVER_ENTRY(Error)(uint32_t code, uint32_t* buffer100) {
  return standin::ErrorText(code, buffer100);
}

}  // extern "C"
