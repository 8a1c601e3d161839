// SPDX-License-Identifier: GPL-3.0-or-later
// Public interface of the HID access library (module "HID_Lib").
//
// The module lists the machine's HID devices in a table of 32 slots, opens one of them, exchanges
// reports with it, reads its input reports on a thread of its own and hands each one to a
// registered input handler, and calls a registered device-change handler on the thread that
// loaded it whenever a device is added or removed (on Windows: a HID interface).
//
// Every record below crosses the module boundary byte for byte: packed, little-endian integers,
// strings as one length byte followed by up to 255 8-bit characters in a 256-byte field.
// Nothing is ever logged; failures are reported only through the 0 / false results described.
#ifndef QX_HID_LIB_H
#define QX_HID_LIB_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define HID_LIB_CALL __stdcall
#else
#define HID_LIB_CALL
#endif

#if defined(HID_LIB_BUILD) && defined(_WIN32)
#define HID_LIB_API __declspec(dllexport)
#elif defined(HID_LIB_BUILD)
#define HID_LIB_API __attribute__((visibility("default")))
#else
#define HID_LIB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* One report: the report ID (0 for a device without numbered reports), then up to 64 data
   bytes. Always 65 bytes. */
typedef struct THIDreport {
    uint8_t reportId;
    uint8_t data[64];
} THIDreport;

/* Summary of one value capability of a report descriptor. */
typedef struct THIDvalueCap {
    uint16_t usage; /* for a usage range, its first usage */
    uint8_t reportId;
    uint8_t bitSize;     /* low byte */
    uint8_t reportCount; /* low byte */
} THIDvalueCap;

/* Length-prefixed 8-bit string in a fixed 256-byte field. */
typedef struct THIDstring {
    uint8_t length;
    char text[255];
} THIDstring;

/* One slot of the device table. */
typedef struct THIDdeviceInfo {
    THIDstring path;             /* device node path plus one NUL, counted in the length */
    uint16_t outputReportLength; /* bytes, report ID included; 0 when the type has none */
    uint16_t inputReportLength;
    uint16_t featureReportLength;
    THIDvalueCap outputCaps[10];
    THIDvalueCap inputCaps[10];
    THIDvalueCap featureCaps[10];
    int32_t handle; /* -1 when the slot is not open */
    uint16_t vendorId;
    uint16_t productId;
    uint16_t releaseNumber;
    THIDstring manufacturer; /* empty when the device gives none */
    THIDstring product;      /* empty when the device gives none */
    THIDstring serial;       /* "---" when the device gives none */
    uint8_t readWrite;       /* 1: opened for reading and writing during the scan */
} THIDdeviceInfo;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(THIDreport) == 65, "THIDreport layout");
static_assert(sizeof(THIDvalueCap) == 5, "THIDvalueCap layout");
static_assert(offsetof(THIDvalueCap, reportId) == 2, "THIDvalueCap layout");
static_assert(offsetof(THIDvalueCap, bitSize) == 3, "THIDvalueCap layout");
static_assert(offsetof(THIDvalueCap, reportCount) == 4, "THIDvalueCap layout");
static_assert(sizeof(THIDstring) == 256, "THIDstring layout");
static_assert(offsetof(THIDdeviceInfo, path) == 0, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, outputReportLength) == 256, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, inputReportLength) == 258, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, featureReportLength) == 260, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, outputCaps) == 262, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, inputCaps) == 312, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, featureCaps) == 362, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, handle) == 412, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, vendorId) == 416, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, productId) == 418, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, releaseNumber) == 420, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, manufacturer) == 422, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, product) == 678, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, serial) == 934, "THIDdeviceInfo layout");
static_assert(offsetof(THIDdeviceInfo, readWrite) == 1190, "THIDdeviceInfo layout");
static_assert(sizeof(THIDdeviceInfo) == 1191, "THIDdeviceInfo layout");
#endif

/* Called on the library's reader thread for every input report with an element count above 0.
   It receives its own copy of the report and must return before the next report is read. */
typedef void(HID_LIB_CALL* THIDinputHandler)(THIDreport report, uint8_t count);
/* Called on the thread that loaded the library, from its event loop, for every device change.
   On Windows: on the thread that first registers a device-change handler (in a program, the one
   that loaded the library), while it dispatches window messages, once for every arrival or
   removal of a HID interface and for no other device; the library notices them on a thread of
   its own, so a thread that never dispatches holds up nothing but its own handler. */
typedef void(HID_LIB_CALL* THIDdeviceChangeHandler)(void);

/* Rebuilds the device table; returns the number of devices listed (0 to 32). Closes the open
   device and any handle the old table still held. */
HID_LIB_API uint8_t HID_LIB_CALL HIDscanForDevices(void);
/* Copies slot `index` into *info when index < 31; otherwise leaves *info untouched. */
HID_LIB_API void HID_LIB_CALL HIDGetDeviceInfo(uint8_t index, THIDdeviceInfo* info);
/* Opens slot `index` and makes it the open device; false, with nothing open (the device open
   before is closed), when it cannot be opened or `index` is not below the last scan's count.
   Opening the open slot again keeps its handle and returns true, unless the device has hung up:
   then its node is opened afresh. */
HID_LIB_API bool HID_LIB_CALL HIDopenDevice(uint8_t index);
/* Closes the open device; true when one was open. A report still waiting on it in another
   thread fails at once. */
HID_LIB_API bool HID_LIB_CALL HIDcloseDevice(void);
/* Writes one output report through the interrupt channel, waiting at most 200 ms: the report's
   first output-report-length bytes, or, when the device declares a longer output report, the
   65 bytes followed by zeros up to its length. Returns the element count, 0 on failure or for a
   query-only device. */
HID_LIB_API uint8_t HID_LIB_CALL HIDwriteDevice(THIDreport report);
/* Takes one input report if one is already waiting, without blocking. 0 when none. */
HID_LIB_API uint8_t HID_LIB_CALL HIDreadDevice(THIDreport* report);
/* Low byte of the open device's report lengths; 0 when none is open or it has hung up. (After a
   hang-up every size, count, read, write and report call answers 0; HIDcloseDevice still closes
   the dead handle and returns true.) */
HID_LIB_API uint8_t HID_LIB_CALL HIDOutputReportSize(void);
HID_LIB_API uint8_t HID_LIB_CALL HIDInputReportSize(void);
HID_LIB_API uint8_t HID_LIB_CALL HIDFeatureReportSize(void);
/* Element count of the report with that ID; 0 when none is open, it has hung up, or the type has
   no reports. */
HID_LIB_API uint8_t HID_LIB_CALL HIDOutputReportCount(uint8_t reportId);
HID_LIB_API uint8_t HID_LIB_CALL HIDInputReportCount(uint8_t reportId);
HID_LIB_API uint8_t HID_LIB_CALL HIDFeatureReportCount(uint8_t reportId);
/* Report functions: `report` points at a 65-byte buffer (the size of a THIDreport), report ID
   first, and no more than those 65 bytes are ever read or written, whatever report length the
   device declares. A report of the type's length is transferred: a shorter one is the buffer's
   first bytes; a longer one is sent as the 65 bytes followed by zeros, and of a longer one
   received only the first 65 bytes are stored. An output report waits at most 1 s for the device
   to take it, of which no more than 200 ms behind an earlier report that was given up on and
   that the device still holds. On Windows it goes out through the handle's own writes, like
   HIDwriteDevice, and one not taken in time is cancelled (one that completed as it was cancelled
   counts as sent). Each returns the element count for that report ID on success, else 0. */
HID_LIB_API uint8_t HID_LIB_CALL HIDSetOutputReport(uint8_t* report);
HID_LIB_API uint8_t HID_LIB_CALL HIDGetInputReport(uint8_t* report);
HID_LIB_API uint8_t HID_LIB_CALL HIDSetFeatureReport(uint8_t* report);
HID_LIB_API uint8_t HID_LIB_CALL HIDGetFeatureReport(uint8_t* report);
/* Register (or clear, with NULL) the two handlers. HIDsetEventHandler returns once a call of the
   previous input handler under way on the reader thread has ended (at once when called from inside
   that handler), so what the old handler used may be freed afterwards. */
HID_LIB_API void HID_LIB_CALL HIDsetEventHandler(THIDinputHandler handler);
HID_LIB_API void HID_LIB_CALL USBsetEventHandler(THIDdeviceChangeHandler handler);

#ifdef __cplusplus
}
#endif

#endif
