/* The entry points of an interface driver library, as the tool's loader resolves them.
 * Every library exports seven entries named <prefix>_<role>, <prefix> being the library's
 * file name without ".DLL". Shared by the loader (comm/) and every library in drivers/. */
#ifndef QX510_DRIVER_ABI_H
#define QX510_DRIVER_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QX510_DRIVER_RESPONSE_WORDS 100u
#define QX510_DRIVER_REQUEST_WORDS 8u
#define QX510_DRIVER_PARAM_WORDS 16u

/* A failed Send may hand back what it received that was no usable answer (frames that failed
 * their checks, bytes between them), so that line noise can be looked at: response word
 * QX510_DRIVER_RAW_WORD holds QX510_DRIVER_RAW_TAG | n, the next n words one byte each,
 * n <= QX510_DRIVER_RAW_MAX. Words 0..3 carry the answer's data after a success only, so
 * these words are free then. A driver that tells nothing leaves the tag out; the tag keeps a
 * caller's uncleared buffer from being read as bytes. */
#define QX510_DRIVER_RAW_WORD 4u
#define QX510_DRIVER_RAW_TAG 0x52415700u
#define QX510_DRIVER_RAW_TAG_MASK 0xFFFFFF00u
#define QX510_DRIVER_RAW_MAX 32u

typedef uint32_t (*DriverVersionFn)(uint32_t* version);
/* Serial port and ISA card: word 0 of the parameter block by value. */
typedef uint32_t (*DriverInitWordFn)(uint32_t* handle, uint32_t word0);
/* PCI card and USB converter: no parameters. */
typedef uint32_t (*DriverInitPlainFn)(uint32_t* handle);
/* LAN converter: the 16 pointer-sized words; word 0 is the address of the IP text. */
typedef uint32_t (*DriverInitBlockFn)(uint32_t* handle, const uintptr_t* block);
typedef uint32_t (*DriverSetConfigFn)(uint32_t handle, uint32_t a, uint32_t b, uint32_t c);
typedef uint32_t (*DriverGetConfigFn)(uint32_t handle, uint32_t* a, uint32_t* b, uint32_t* c);
typedef uint32_t (*DriverSendFn)(uint32_t handle, const uint32_t* request8, uint32_t* response100,
                                 uint32_t* aux, uint32_t* status);
typedef uint32_t (*DriverDoneFn)(uint32_t* handle);
typedef uint32_t (*DriverErrorFn)(uint32_t code, uint32_t* buffer100);

#ifdef __cplusplus
}
#endif

/* For the libraries: QX510_DRIVER_ENTRY(Send) names <prefix>_Send, with QX510_DRIVER_PREFIX
 * defined by the build (see drivers/CMakeLists.txt). */
#define QX510_DRIVER_CAT2(a, b) a##_##b
#define QX510_DRIVER_CAT(a, b) QX510_DRIVER_CAT2(a, b)
#define QX510_DRIVER_ENTRY(role) QX510_DRIVER_CAT(QX510_DRIVER_PREFIX, role)
#define QX510_DRIVER_EXPORT __attribute__((visibility("default")))

#endif
