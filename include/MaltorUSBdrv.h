/*
 * MaltorUSBdrv: host-side driver library for Maltor USB vehicle data loggers,
 * CAN gateways and data processors.
 *
 * Every function is a plain C export. Calls run synchronously on the caller's
 * thread (the two firmware updates run on a worker thread of their own). The
 * library keeps one device table; every exchange talks to the device in slot 0.
 * Exchanges share one transfer buffer, so an application issues them one at a
 * time, from one thread at a time.
 *
 * Result codes are unsigned 8-bit values; see MALTOR_* below. Where a function
 * returns a device status byte, it shares this space with the library's codes.
 * Callers own every buffer, record and path they pass; the library never keeps
 * or frees them. Outputs are written only when the result is MALTOR_OK unless a
 * function says otherwise.
 */
#ifndef MALTOR_USBDRV_H
#define MALTOR_USBDRV_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define MALTOR_CALL __stdcall
#define MALTOR_API
#elif defined(MALTOR_BUILDING_LIBRARY)
#define MALTOR_CALL
#define MALTOR_API __attribute__((visibility("default")))
#else
#define MALTOR_CALL
#define MALTOR_API
#endif

/* ---- Result codes ------------------------------------------------------ */

/** Done. */
#define MALTOR_OK 0
/** Refused: a firmware update is running (update starts, gateway configuration). */
#define MALTOR_ERR_UPDATE_RUNNING 1
/** A pipe transfer of a file-transfer exchange failed (reflash, configuration). */
#define MALTOR_ERR_TRANSFER 1
/** A path pointer is null or a path is empty. */
#define MALTOR_ERR_PATH 2
/** The firmware file or the progress log failed to open. */
#define MALTOR_ERR_FILE_OPEN 3
/** No status callback is registered. */
#define MALTOR_ERR_NO_CALLBACK 5
/** The exchange failed: nothing written, nothing read, a sequence or echo
 *  check failed, or a multi-frame transfer stopped part-way. */
#define MALTOR_ERR_EXCHANGE 6
/** No device open in slot 0; nothing was sent. */
#define MALTOR_ERR_NO_DEVICE 7
/** Log file sum mismatch. */
#define MALTOR_ERR_LOG_SUM 9
/** Log file failed to open. */
#define MALTOR_ERR_LOG_OPEN 10
/** A required pointer argument is null or a length is out of range; refused
 *  before anything was sent. */
#define MALTOR_ERR_ARGUMENT 11

/* ---- Records ----------------------------------------------------------- */

#pragma pack(push, 1)
/** Filled by GetConnected: 19 bytes, byte-packed. */
typedef struct MaltorConnection {
  uint8_t device_kind;    /* 1, 2, 3 or 5 */
  uint64_t file_handle;   /* the raw handle of the open device */
  uint64_t reserved_word; /* always 0 */
  uint16_t reserved_half; /* always 0 */
} MaltorConnection;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(MaltorConnection) == 19, "connection record is 19 bytes");
static_assert(offsetof(MaltorConnection, file_handle) == 1, "file handle at byte 1");
static_assert(offsetof(MaltorConnection, reserved_word) == 9, "reserved word at byte 9");
static_assert(offsetof(MaltorConnection, reserved_half) == 17, "reserved half at byte 17");
#else
_Static_assert(sizeof(MaltorConnection) == 19, "connection record is 19 bytes");
#endif

/* ---- Connection -------------------------------------------------------- */

/**
 * Makes sure slot 0 holds a ready device (running discovery if it holds none)
 * and copies its kind, file handle and reserved fields into *record.
 * Returns MALTOR_OK, or MALTOR_ERR_NO_DEVICE with *record untouched.
 * A null record returns MALTOR_ERR_ARGUMENT after the readiness check.
 */
MALTOR_API uint8_t MALTOR_CALL GetConnected(MaltorConnection* record);

/**
 * Runs discovery when slot 0 holds no open device, then queries the device's
 * speed and its interface. Returns the endpoint count of interface 0,
 * alternate setting 0 (non-zero means ready), or 0 after emptying the device
 * table when no device is ready.
 */
MALTOR_API uint8_t MALTOR_CALL DeviceIsReady(void);

/** Closes slot 0's device, unless a firmware update is running. */
MALTOR_API void MALTOR_CALL CloseDevice(void);

/** As CloseDevice, but does nothing when slot 0 is already closed. */
MALTOR_API void MALTOR_CALL CloseDevice2(void);

/** Stores a receive callback pointer. The library never calls it. */
MALTOR_API void MALTOR_CALL DllRcvCallBack(void* callback);

/** Stores a caller critical-section pointer. The library never uses it. */
MALTOR_API void MALTOR_CALL SetCallbackCriticalSection(void* critical_section);

/* ---- Identity, versions, clock and hardware settings ------------------- */

/**
 * Reads the firmware version word and three version bytes (command 0x02).
 * Returns MALTOR_OK, MALTOR_ERR_EXCHANGE, MALTOR_ERR_NO_DEVICE, or
 * MALTOR_ERR_ARGUMENT (nothing sent) when an output pointer is null.
 */
MALTOR_API uint8_t MALTOR_CALL SCGetFirmwareVersion(uint16_t* version_word, uint8_t* version_1,
                                                    uint8_t* version_2, uint8_t* version_3);

/**
 * Reads the 128-byte serial-number block (command 0x15). The reply must carry
 * the request's sequence byte, else MALTOR_ERR_EXCHANGE and *block untouched.
 * A null block returns MALTOR_ERR_ARGUMENT before anything is sent.
 */
MALTOR_API uint8_t MALTOR_CALL SCGetSerialNumber(uint8_t* block);

/**
 * Writes n bytes of hardware settings after two selector bytes (command 0x21).
 * The reply must echo the command code, else MALTOR_ERR_EXCHANGE. A null data
 * pointer with n > 0 returns MALTOR_ERR_ARGUMENT before anything is sent.
 */
MALTOR_API uint8_t MALTOR_CALL SCSetHWSettings(uint8_t selector_1, uint8_t selector_2, uint8_t n,
                                               const uint8_t* data);

/* ---- Storage catalogue and formatting ---------------------------------- */

/* ---- Log download and log files ------------------------------------------ */

/* ---- Live data and streaming --------------------------------------------- */

/* ---- CAN bus control and frames ------------------------------------------ */

/* ---- Firmware update ------------------------------------------------------ */

/* ---- Configuration transfer ----------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* MALTOR_USBDRV_H */
