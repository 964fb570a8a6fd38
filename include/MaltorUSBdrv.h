/*
 * MaltorUSBdrv: host-side driver library for Maltor USB vehicle data loggers,
 * CAN gateways and data processors.
 *
 * Every function is a plain C export. Calls run synchronously on the caller's
 * thread (the two firmware updates run on a worker thread of their own). The
 * library keeps one device table; every exchange talks to the device in slot 0.
 *
 * Threads: every function may be called from any thread. Exchanges with the
 * device (a frame and its reply, or a multi-frame transfer) take turns inside
 * the library: two threads calling at once get correct results, one after
 * the other, never a mixed frame. The connection functions (GetConnected,
 * DeviceIsReady, CloseDevice, CloseDevice2) take the same turns, so they are
 * safe while another thread, the update thread included, exchanges or
 * reconnects. The stream reads of GetLogData and GetLiveData are not
 * exchanges: other threads' calls go on while they wait. Where threads are
 * meant to meet:
 *   - StopLogData from a second thread ends a running GetLogData (below).
 *   - A firmware update is alive from its successful start until its thread
 *     has ended, tail included (after StopFirmwareUpdate that can still take
 *     seconds). While it is alive every other function that would send
 *     something to the device returns MALTOR_ERR_UPDATE_RUNNING (1) at once,
 *     sends nothing, and sets the error detail (MaltorGetLastError) to kind
 *     MALTOR_DETAIL_BUSY; SCReflash returns 0. GetConnected, DeviceIsReady,
 *     CloseDevice, CloseDevice2, StopFirmwareUpdate, ReflashStatusCallBack,
 *     the library services and the live-data read keep their results. The
 *     status callback runs on the update thread and may call any function.
 *     MaltorWaitForUpdate tells when the update has ended.
 * The setters (DllRcvCallBack, SetCallbackCriticalSection,
 * ReflashStatusCallBack) store one pointer and may be called at any time.
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

/* Checks a record's layout at compile time in every C and C++ dialect: the
   language's own assertion where it has one, else an array type whose size
   is negative when the check fails. */
#if (defined(__cplusplus) && __cplusplus >= 201103L) || \
    (defined(_MSVC_LANG) && _MSVC_LANG >= 201103L)
#define MALTOR_STATIC_ASSERT(check, text) static_assert(check, text)
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define MALTOR_STATIC_ASSERT(check, text) _Static_assert(check, text)
#else
#define MALTOR_STATIC_ASSERT_JOIN2(a, b) a##b
#define MALTOR_STATIC_ASSERT_JOIN(a, b) MALTOR_STATIC_ASSERT_JOIN2(a, b)
#define MALTOR_STATIC_ASSERT(check, text) \
  typedef char MALTOR_STATIC_ASSERT_JOIN(maltor_layout_check_, __LINE__)[(check) ? 1 : -1]
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

/* ---- Library version --------------------------------------------------- */

/* The version of this header; MaltorGetVersion gives the loaded library's. */
#define MALTOR_USBDRV_VERSION_MAJOR 0
#define MALTOR_USBDRV_VERSION_MINOR 2
#define MALTOR_USBDRV_VERSION_PATCH 0
#define MALTOR_USBDRV_VERSION                                                 \
  ((MALTOR_USBDRV_VERSION_MAJOR << 16) | (MALTOR_USBDRV_VERSION_MINOR << 8) | \
   MALTOR_USBDRV_VERSION_PATCH)

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

MALTOR_STATIC_ASSERT(sizeof(MaltorConnection) == 19, "connection record is 19 bytes");
MALTOR_STATIC_ASSERT(offsetof(MaltorConnection, file_handle) == 1, "file handle at byte 1");
MALTOR_STATIC_ASSERT(offsetof(MaltorConnection, reserved_word) == 9, "reserved word at byte 9");
MALTOR_STATIC_ASSERT(offsetof(MaltorConnection, reserved_half) == 17, "reserved half at byte 17");

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

/*
 * The functions below return MALTOR_OK, MALTOR_ERR_EXCHANGE (nothing written,
 * nothing read, or a failed sequence or echo check; outputs untouched) or
 * MALTOR_ERR_NO_DEVICE (nothing sent) unless they say otherwise. A null
 * output pointer returns MALTOR_ERR_ARGUMENT before anything is sent. Values
 * are passed through as the device gives them; multi-byte values are
 * little-endian on the wire. A reply shorter than asked is decoded anyway:
 * positions it did not reach hold bytes of an earlier reply.
 */

/**
 * Reads the firmware version text into `text` (14 bytes). Kind-1 devices are
 * asked with a log-section frame (command 220) and give a 5-character text:
 * the terminator is at text[5] and text[6..12] keep the bytes copied behind
 * it. Other kinds are asked with the 4-byte frame 04 DC 00 00 and give a
 * 13-character text terminated at text[13]. Moves no sequence number.
 */
MALTOR_API uint8_t MALTOR_CALL GetFirmwareVersion(char* text);

/**
 * Writes an n-byte serial-number block (command 0x16; n from 0 to 255). The
 * reply must carry the request's sequence byte. A null `data` with n > 0
 * returns MALTOR_ERR_ARGUMENT before anything is sent.
 */
MALTOR_API uint8_t MALTOR_CALL SCSetSerialNumber(uint8_t n, const uint8_t* data);

/** Reads the microcontroller type byte (command 0x2E). */
MALTOR_API uint8_t MALTOR_CALL GetMicroType(uint8_t* type);

/**
 * Reads the info byte and the info value (command 0x27). The info value is
 * one reply byte widened without sign: bits 8 to 31 are 0. The reply must
 * carry the request's sequence byte.
 */
MALTOR_API uint8_t MALTOR_CALL GetMaltorInfo(uint8_t* info_byte, uint32_t* info_value);
/** Second name of GetMaltorInfo. */
MALTOR_API uint8_t MALTOR_CALL SCGetMaltorInfo(uint8_t* info_byte, uint32_t* info_value);

/** Reads the 17-byte memory-card information record (command 0x1B). */
MALTOR_API uint8_t MALTOR_CALL SCGetMMCInfo(uint8_t* record);

/**
 * Reads the 16-byte configuration tag and the size in bytes of the device's
 * configuration (command 0x0A).
 */
MALTOR_API uint8_t MALTOR_CALL SCUSBGetConfigInfo(uint8_t* tag, uint32_t* size);

/**
 * Reads the 26-byte configuration info record with the 5-byte frame
 * 04 00 14 00 14. Moves no sequence number.
 */
MALTOR_API uint8_t MALTOR_CALL GetConfigurationInfo(uint8_t* record);

/**
 * Reads 64-byte EEPROM page `page` into `image` (command 0x23). The reply must
 * carry the request's sequence byte. The image is copied whatever the
 * reply's length; when the device answers with an 8-byte status reply, the
 * result is its status byte (reply byte 5, 0 meaning done) and image[3..63]
 * hold bytes of an earlier reply. Otherwise MALTOR_OK.
 */
MALTOR_API uint8_t MALTOR_CALL GetEEPROMPageFormat(uint8_t page, uint8_t* image);

/**
 * Reads the version text of the firmware image file at `path` into `text`
 * (14 bytes) without touching the device: text[0..4] are file bytes 16,368
 * to 16,372, text[5] is '_', text[6..11] are file bytes 524,280 to 524,285
 * and text[13] is 0; text[12] is not written. Returns 1 when the text was
 * read, 0 when the file cannot be opened, is shorter than 16,369 bytes
 * (text[0..9] are then 0), or `path` or `text` is null. An image that ends
 * before byte 524,281 gives 1 with text[6..11] at 0 and text[13] not written.
 */
MALTOR_API uint8_t MALTOR_CALL GetFileNameFirmwareVersion(const char* path, char* text);

/** Reads the device clock value (command 0x11). */
MALTOR_API uint8_t MALTOR_CALL SCGetDateTime(uint32_t* clock_value);

/**
 * Returns the device clock value, or 0 when it cannot be read (no device,
 * failed exchange); 0 is never a plausible device time.
 */
MALTOR_API uint32_t MALTOR_CALL GetDateTime(void);

/** Sets the device clock value (command 0x12). */
MALTOR_API uint8_t MALTOR_CALL SCSetDateTime(uint32_t clock_value);
/** Second name of SCSetDateTime. */
MALTOR_API uint8_t MALTOR_CALL SetDateTime(uint32_t clock_value);

/**
 * Reads the 128-byte hardware settings block (command 0x22), waiting at most
 * 1,000 ms for the reply. The reply must carry the request's sequence byte.
 */
MALTOR_API uint8_t MALTOR_CALL SCGetHWSettings(uint8_t* block);

/** Reads one 16-bit setting by its number (command 0x2D). */
MALTOR_API uint8_t MALTOR_CALL GetSingleHWSetting(uint16_t number, uint16_t* value);

/** Sets one 16-bit setting by its number (command 0x2C). */
MALTOR_API uint8_t MALTOR_CALL SetSingleHWSetting(uint16_t number, uint16_t value);

/**
 * Asks the device to store its hardware settings (command 0x24), sending the
 * two selector bytes as they are. The reply must echo the command code.
 * Returns the device's status byte (0 meaning done; other values share the
 * result space with the MALTOR_* codes), MALTOR_ERR_EXCHANGE or
 * MALTOR_ERR_NO_DEVICE.
 */
MALTOR_API uint8_t MALTOR_CALL StoreEEPROMHWSettings(uint8_t selector_1, uint8_t selector_2);

/* ---- Storage catalogue and formatting ---------------------------------- */

/*
 * The card's log catalogue, current sector and formatting, and the
 * log-section (Mirel) queries. Results and null outputs as in the section
 * above. The Mirel queries also return the device's status byte when it is
 * not 0, with the outputs untouched; its values share the result space with
 * the MALTOR_* codes. The Mirel queries move no sequence number.
 */

/** Reads the number of logs on the whole card (command 0x0F). */
MALTOR_API uint8_t MALTOR_CALL SCSDLogCount(uint16_t* count);

/**
 * Returns the number of logs on the whole card, or 0 when it cannot be read
 * (no device, failed exchange), so that a walk over the catalogue reads
 * nothing.
 */
MALTOR_API uint16_t MALTOR_CALL GetLogCount(void);

/**
 * Reads log info record `index` of the whole card (command 0x10) into seven
 * words, a 16-byte block, a 255-byte block and a trailing byte. The words
 * come in the record's order except that the record's fifth word goes to
 * word_7 and its sixth and seventh words go to word_5 and word_6.
 */
MALTOR_API uint8_t MALTOR_CALL SCSDLogInfo(uint16_t index, uint32_t* word_1, uint32_t* word_2,
                                           uint32_t* word_3, uint32_t* word_4, uint32_t* word_5,
                                           uint32_t* word_6, uint32_t* word_7, uint8_t* block_16,
                                           uint8_t* block_255, uint8_t* trailing);
/** Second name of SCSDLogInfo. */
MALTOR_API uint8_t MALTOR_CALL GetSDLogInfo(uint16_t index, uint32_t* word_1, uint32_t* word_2,
                                            uint32_t* word_3, uint32_t* word_4, uint32_t* word_5,
                                            uint32_t* word_6, uint32_t* word_7, uint8_t* block_16,
                                            uint8_t* block_255, uint8_t* trailing);

/** Reads the number of logs in one partition (command 0x25). */
MALTOR_API uint8_t MALTOR_CALL SCPartitionLogCount(uint8_t partition, uint16_t* count);

/** Returns the number of logs in one partition, or 0 when it cannot be read. */
MALTOR_API uint16_t MALTOR_CALL GetPartitionLogCount(uint8_t partition);

/**
 * Reads log info record `index` of one partition (command 0x26); the outputs
 * as for SCSDLogInfo.
 */
MALTOR_API uint8_t MALTOR_CALL SCPartitionLogInfo(uint8_t partition, uint16_t index,
                                                  uint32_t* word_1, uint32_t* word_2,
                                                  uint32_t* word_3, uint32_t* word_4,
                                                  uint32_t* word_5, uint32_t* word_6,
                                                  uint32_t* word_7, uint8_t* block_16,
                                                  uint8_t* block_255, uint8_t* trailing);
/** Second name of SCPartitionLogInfo. */
MALTOR_API uint8_t MALTOR_CALL GetPartitionLogInfo(uint8_t partition, uint16_t index,
                                                   uint32_t* word_1, uint32_t* word_2,
                                                   uint32_t* word_3, uint32_t* word_4,
                                                   uint32_t* word_5, uint32_t* word_6,
                                                   uint32_t* word_7, uint8_t* block_16,
                                                   uint8_t* block_255, uint8_t* trailing);

/** Reads the card's current sector number (command 0x17). */
MALTOR_API uint8_t MALTOR_CALL SCSDCurrentSector(uint32_t* sector);

/** Formats the whole card (command 0x0E) and reads the device's format reply. */
MALTOR_API uint8_t MALTOR_CALL SCSDFormat(uint16_t parameter, uint16_t* format_reply);
/** Second name of SCSDFormat. */
MALTOR_API uint8_t MALTOR_CALL FormatSDCard(uint16_t parameter, uint16_t* format_reply);

/**
 * Lays out and formats the card's partitions (command 0x28), sending the n
 * partition bytes (n from 0 to 255) as they are, and reads the device's format
 * reply. A null `partitions` with n > 0 returns MALTOR_ERR_ARGUMENT before
 * anything is sent; with n = 0 it is not read.
 */
MALTOR_API uint8_t MALTOR_CALL SCPartitionFormat(uint16_t parameter, uint8_t n,
                                                 const uint8_t* partitions, uint16_t* format_reply);
/** Second name of SCPartitionFormat. */
MALTOR_API uint8_t MALTOR_CALL FormatSDCardPartitions(uint16_t parameter, uint8_t n,
                                                      const uint8_t* partitions,
                                                      uint16_t* format_reply);

/** Reads the two log counts of a log-section device (Mirel command 1). */
MALTOR_API uint8_t MALTOR_CALL MirelGetLogCount(uint16_t* first_count, uint16_t* second_count);

/** Reads the two words of the first log section (Mirel command 2). */
MALTOR_API uint8_t MALTOR_CALL MirelGetFirstLogSection(uint32_t* word_1, uint32_t* word_2);

/** Reads the four words of the active log section (Mirel command 3). */
MALTOR_API uint8_t MALTOR_CALL MirelGetActiveLogSection(uint32_t* word_1, uint32_t* word_2,
                                                        uint32_t* word_3, uint32_t* word_4);

/** Reads the 32-byte record of descriptor `index` (Mirel command 4). */
MALTOR_API uint8_t MALTOR_CALL MirelGetDescriptorInfo(uint32_t index, uint8_t* record);

/* ---- Log download and log files ------------------------------------------ */

/**
 * Downloads sectors start_sector to end_sector (both included, 512 bytes
 * each) into the file at `path` (command 0x13). The file is deleted, then
 * opened for binary append, and the stream's bytes are written to it as they
 * arrive. Blocks until the range is complete, StopLogData is called from
 * another thread, or the stream stalls. The byte count is computed modulo
 * 2^32: an end sector one below the start gives 0 (the request is still sent
 * and the file is left empty).
 * Every stream read is bounded by 1,000 ms; a read that delivers nothing
 * counts as empty. Returns:
 *   MALTOR_OK: done, stopped by StopLogData (the file keeps what arrived),
 *     or the file could not be opened (the stream is read and dropped);
 *   MALTOR_ERR_EXCHANGE: the request exchange failed (file untouched), or ten
 *     reads in a row delivered nothing (the file keeps what arrived);
 *   MALTOR_ERR_NO_DEVICE: nothing sent;
 *   MALTOR_ERR_ARGUMENT: `path` is null; nothing sent.
 * Frame bytes 13 and 14 of the request are sent as zeros.
 */
MALTOR_API uint8_t MALTOR_CALL SCSDRequestSendData(const char* path, uint32_t start_sector,
                                                   uint32_t end_sector);
/** Second name of SCSDRequestSendData. */
MALTOR_API uint8_t MALTOR_CALL GetLogData(const char* path, uint32_t start_sector,
                                          uint32_t end_sector);

/**
 * Tells the device to stop sending sectors (command 0x14), marks the running
 * download as stopped and aborts the stream IN pipe, which releases a read
 * that GetLogData has in progress. Made to be called from a second thread
 * while GetLogData runs; also safe when no download runs. A stop called while
 * GetLogData's request is being exchanged waits for that exchange and then
 * ends the download; only a stop whose own exchange comes before the request
 * has nothing to stop. Returns MALTOR_OK,
 * MALTOR_ERR_EXCHANGE (the stop exchange failed: the download goes on) or
 * MALTOR_ERR_NO_DEVICE (nothing sent, nothing changed).
 */
MALTOR_API uint8_t MALTOR_CALL SCSDStopSendData(void);
/** Second name of SCSDStopSendData. */
MALTOR_API uint8_t MALTOR_CALL StopLogData(void);

/**
 * Copies `length` bytes of one log file of a log-section device into the file
 * at `path`: asks for it (Mirel command 15, `section` and `length` sent most
 * significant byte first), reads its bytes on the command IN pipe in blocks of
 * 16,384 bytes and a remainder (each read waits at most 5,000 ms), then asks
 * for the device's 16-bit sum (Mirel command 5) and compares it with the sum
 * of the bytes received. Once the device accepts the request the file is
 * created or emptied and written in text mode on every OS: each line feed
 * (0x0A) is written as 0x0D 0x0A, every other byte as it came; the sum is
 * taken over the bytes as received. Blocks until done; it cannot be stopped.
 * Returns:
 *   MALTOR_OK: the whole file arrived and the sums agree;
 *   MALTOR_ERR_PATH: `path` is null; nothing sent, even with no device open;
 *   MALTOR_ERR_EXCHANGE: a write or read of either Mirel exchange moved
 *     nothing, a data read brought nothing, or every data read brought bytes
 *     but fewer than `length` in all (the transfer stopped part-way; the sum
 *     is not checked); the file keeps what arrived;
 *   MALTOR_ERR_NO_DEVICE: no device open at the start or before the check;
 *   MALTOR_ERR_LOG_SUM: the whole file arrived but the device's sum differs;
 *     the file is kept;
 *   MALTOR_ERR_LOG_OPEN: the file cannot be opened after the device accepted
 *     the request; the file's bytes are not read;
 *   the device's status byte when either reply's status is not 0 (a refused
 *     request touches no file); it shares the result space with the MALTOR_*
 *     codes.
 */
MALTOR_API uint8_t MALTOR_CALL MirelGetFirstLogFile(uint32_t section, uint32_t length,
                                                    const char* path);

/* ---- Live data and streaming --------------------------------------------- */

/** Bytes of one live-data record. */
#define MALTOR_LIVE_RECORD_SIZE 512

/*
 * Live data. SCUSBStartLiveData and SCUSBStopLiveData send an 8-bit parameter
 * that the device interprets; the device's reply content is not examined.
 * SCUSBGetLiveData never blocks: it keeps one read of the stream IN pipe
 * pending from one call to the next. The live-data calls share that read and
 * must not run at the same time.
 */

/**
 * Starts live data (command 0x19); the next SCUSBGetLiveData starts a fresh
 * read. Returns MALTOR_OK, MALTOR_ERR_EXCHANGE or MALTOR_ERR_NO_DEVICE.
 */
MALTOR_API uint8_t MALTOR_CALL SCUSBStartLiveData(uint8_t parameter);
/** Second name of SCUSBStartLiveData. */
MALTOR_API uint8_t MALTOR_CALL InitLiveData(uint8_t parameter);

/**
 * Stops live data (command 0x1A), then reads and drops what the device still
 * sends for one to two seconds. A read still pending at the end is aborted,
 * and the next SCUSBGetLiveData then returns MALTOR_ERR_EXCHANGE once (unless
 * SCUSBStartLiveData comes first). Returns MALTOR_OK after the drain,
 * MALTOR_ERR_EXCHANGE at once (no drain) when the stop exchange fails, or
 * MALTOR_ERR_NO_DEVICE.
 */
MALTOR_API uint8_t MALTOR_CALL SCUSBStopLiveData(uint8_t parameter);
/** Second name of SCUSBStopLiveData. */
MALTOR_API uint8_t MALTOR_CALL StopLiveData(uint8_t parameter);

/**
 * Hands over one 512-byte live-data record. `unused` is never read (pass 0).
 * `record` is zero-filled first on every call. Returns MALTOR_OK with the
 * record; MALTOR_ERR_EXCHANGE when none is ready now (the read stays pending
 * for the next call; a read that completed short of 512 bytes is given up
 * after two to three seconds and its bytes are never handed over);
 * MALTOR_ERR_NO_DEVICE; MALTOR_ERR_ARGUMENT for a null record (nothing done).
 */
MALTOR_API uint8_t MALTOR_CALL SCUSBGetLiveData(uint8_t unused, uint8_t* record);
/** Second names of SCUSBGetLiveData. */
MALTOR_API uint8_t MALTOR_CALL GetLiveData(uint8_t unused, uint8_t* record);
MALTOR_API uint8_t MALTOR_CALL SCUSBReceiveStreamData(uint8_t unused, uint8_t* record);

/** Starts process data (command 0x2F). MALTOR_OK, MALTOR_ERR_EXCHANGE or
 *  MALTOR_ERR_NO_DEVICE. */
MALTOR_API uint8_t MALTOR_CALL SCUSBStartProcessData(void);

/** Stops process data (command 0x30). Results as SCUSBStartProcessData. */
MALTOR_API uint8_t MALTOR_CALL SCUSBStopProcessData(void);

/**
 * Writes `length` bytes of `data`, as they are, on the stream OUT pipe with a
 * blocking write. `unused` is never read (pass 0). Returns MALTOR_OK when the
 * write reports success (the count written is not checked),
 * MALTOR_ERR_EXCHANGE when it fails, MALTOR_ERR_NO_DEVICE, or
 * MALTOR_ERR_ARGUMENT for null data with a length above 0 (nothing sent).
 */
MALTOR_API uint8_t MALTOR_CALL SCUSBSendStreamData(uint8_t unused, const uint8_t* data,
                                                   uint32_t length);

/* ---- CAN bus control and frames ------------------------------------------ */

#pragma pack(push, 1)
/** Bus set-up record for InitBus: 16 bytes, byte-packed, sent as they lie in
 *  memory (words least significant byte first). The device gives the fields
 *  their meaning; the library passes them through unchanged. */
typedef struct MaltorBusSetup {
  uint8_t setup_byte_1;
  uint8_t setup_byte_2;
  uint8_t setup_byte_3;
  uint8_t setup_byte_4;
  uint32_t setup_word_1;
  uint32_t setup_word_2;
  uint32_t setup_word_3;
} MaltorBusSetup;

/** Most data bytes one CAN frame carries. */
#define MALTOR_CAN_MAX_DATA 64

/** CAN message record for CANTx and CANRx: 79 bytes, byte-packed (the 32-bit
 *  fields sit at odd offsets). */
typedef struct MaltorCanMessage {
  uint8_t bus;              /* the bus to send on or receive from */
  uint8_t attribute;        /* passed to the device on send, filled on receive */
  uint8_t length;           /* valid data bytes, 0 to MALTOR_CAN_MAX_DATA */
  uint32_t identifier;      /* the frame identifier */
  uint32_t returned_word;   /* returned by the device with every frame */
  uint32_t receive_timeout; /* CANRx only: how long to poll, in milliseconds */
  uint8_t data[MALTOR_CAN_MAX_DATA];
} MaltorCanMessage;
#pragma pack(pop)

MALTOR_STATIC_ASSERT(sizeof(MaltorBusSetup) == 16, "bus set-up record is 16 bytes");
MALTOR_STATIC_ASSERT(offsetof(MaltorBusSetup, setup_byte_4) == 3, "set-up byte 4 at byte 3");
MALTOR_STATIC_ASSERT(offsetof(MaltorBusSetup, setup_word_1) == 4, "set-up word 1 at byte 4");
MALTOR_STATIC_ASSERT(offsetof(MaltorBusSetup, setup_word_2) == 8, "set-up word 2 at byte 8");
MALTOR_STATIC_ASSERT(offsetof(MaltorBusSetup, setup_word_3) == 12, "set-up word 3 at byte 12");
MALTOR_STATIC_ASSERT(sizeof(MaltorCanMessage) == 79, "CAN message record is 79 bytes");
MALTOR_STATIC_ASSERT(offsetof(MaltorCanMessage, bus) == 0, "bus at byte 0");
MALTOR_STATIC_ASSERT(offsetof(MaltorCanMessage, attribute) == 1, "attribute at byte 1");
MALTOR_STATIC_ASSERT(offsetof(MaltorCanMessage, length) == 2, "length at byte 2");
MALTOR_STATIC_ASSERT(offsetof(MaltorCanMessage, identifier) == 3, "identifier at byte 3");
MALTOR_STATIC_ASSERT(offsetof(MaltorCanMessage, returned_word) == 7, "returned word at byte 7");
MALTOR_STATIC_ASSERT(offsetof(MaltorCanMessage, receive_timeout) == 11,
                     "receive timeout at byte 11");
MALTOR_STATIC_ASSERT(offsetof(MaltorCanMessage, data) == 15, "data at byte 15");

/*
 * Bus control. Each call is one exchange (commands 0x1D, 0x20, 0x31 to 0x3C);
 * the library packs the arguments as they are, keeps no CAN state and enforces
 * no order of calls. Bus numbers and parameter words go least significant byte
 * first. Results: MALTOR_OK, MALTOR_ERR_EXCHANGE (nothing written or nothing
 * read), MALTOR_ERR_NO_DEVICE (nothing sent). A null output pointer returns
 * MALTOR_ERR_ARGUMENT before anything is sent. Outputs are written only on
 * MALTOR_OK: *reply_word receives reply bytes 5 to 8 as the device sent them.
 */

/** Sends the bus set-up record (command 0x1D). MALTOR_OK when any reply comes
 *  within 1,000 ms, whatever it says, even if the write failed. */
MALTOR_API uint8_t MALTOR_CALL InitBus(MaltorBusSetup setup);

/** Ends the bus set-up (command 0x20). MALTOR_OK when any reply comes within
 *  5,000 ms, even if the write failed. */
MALTOR_API uint8_t MALTOR_CALL DeInitBus(void);

/** Switches the device's CAN interface on (command 0x31). */
MALTOR_API uint8_t MALTOR_CALL CANInterfaceEnable(uint32_t* reply_word);

/** Switches the device's CAN interface off (command 0x32). */
MALTOR_API uint8_t MALTOR_CALL CANInterfaceDisable(uint32_t* reply_word);

/** Reads how many buses the device has (command 0x33); writes one byte. */
MALTOR_API uint8_t MALTOR_CALL CANBusCount(uint8_t* bus_count);

/** Opens a bus (command 0x34). */
MALTOR_API uint8_t MALTOR_CALL CANBusOpen(uint32_t* reply_word, uint16_t bus, uint8_t option);

/** Closes a bus (command 0x35). */
MALTOR_API uint8_t MALTOR_CALL CANBusClose(uint32_t* reply_word, uint16_t bus);

/** Switches a bus on (command 0x36). */
MALTOR_API uint8_t MALTOR_CALL CANBusOn(uint32_t* reply_word, uint16_t bus);

/** Switches a bus off (command 0x37). */
MALTOR_API uint8_t MALTOR_CALL CANBusOff(uint32_t* reply_word, uint16_t bus);

/** Loads a bus's parameter set (command 0x38). */
MALTOR_API uint8_t MALTOR_CALL CANParameterSet(uint32_t* reply_word, uint16_t bus,
                                               uint32_t parameter_word, uint8_t parameter_1,
                                               uint8_t parameter_2, uint8_t parameter_3,
                                               uint8_t parameter_4);

/** Loads a bus's data-phase parameter set (command 0x3A), laid out as for
 *  CANParameterSet. */
MALTOR_API uint8_t MALTOR_CALL CANDataParameterSet(uint32_t* reply_word, uint16_t bus,
                                                   uint32_t parameter_word, uint8_t parameter_1,
                                                   uint8_t parameter_2, uint8_t parameter_3,
                                                   uint8_t parameter_4);

/** Reads a bus's identifier word (command 0x3C). */
MALTOR_API uint8_t MALTOR_CALL CANBlockUIDGet(uint32_t* reply_word, uint16_t bus, uint8_t option);

/**
 * Hands one frame to the device for sending (command 0x1E, 1,000 ms). The
 * frame always goes out with identifier 2016 and returned word 2000, and both
 * values are written into *message before it is sent; on MALTOR_OK the
 * returned word then holds the device's answer. The receive timeout is not
 * sent. Returns MALTOR_OK, MALTOR_ERR_EXCHANGE (no reply; a failed write shows
 * only as a missing reply) or MALTOR_ERR_NO_DEVICE (*message untouched).
 * A null message or a length above MALTOR_CAN_MAX_DATA returns
 * MALTOR_ERR_ARGUMENT before anything is sent, *message untouched.
 */
MALTOR_API uint8_t MALTOR_CALL CANTx(MaltorCanMessage* message);

/**
 * Polls the device for one frame received on message->bus (command 0x1F),
 * without pause between polls, until a frame comes or more than
 * message->receive_timeout milliseconds have passed (at least one poll is
 * made). Once a device is found open, *message is cleared before the first
 * poll and is rewritten in full, its receive timeout included, so a caller
 * that polls again sets the timeout anew. Returns:
 *   MALTOR_OK with *frame_count = 1 and *message filled: a frame came (the
 *     receive timeout field then holds the same bytes as data bytes 0 to 3);
 *   MALTOR_OK with *frame_count untouched and *message all zero: the device
 *     answered with a count other than 0 or 1;
 *   MALTOR_ERR_EXCHANGE: the timeout ran out (*message all zero);
 *   MALTOR_ERR_NO_DEVICE: nothing sent, nothing written.
 * A null frame_count or message returns MALTOR_ERR_ARGUMENT before anything
 * is sent.
 */
MALTOR_API uint8_t MALTOR_CALL CANRx(uint16_t* frame_count, MaltorCanMessage* message);

/* ---- Firmware update ------------------------------------------------------ */

/*
 * UpdateFirmware (gateway) and UpdateLoggerFirmware (logger) send a firmware
 * image on an update thread of their own and return at once. At most one
 * update runs. Progress reaches the application through the status callback,
 * called on the update thread after every block the device acknowledged, and
 * through the progress log, a text file the updates append to. The status
 * callback is never called when an update fails or is stopped; the log then
 * says "Firmware update is not finished successfuly.".
 *
 * After a finished update the update thread still closes and reopens the
 * device (the logger update pauses 5 s and 2 s around that); after any logger
 * update it ends with the device closed. The update is alive until then: a
 * new start, and every other function that would send something to the
 * device, returns MALTOR_ERR_UPDATE_RUNNING (see the opening comment);
 * MaltorWaitForUpdate waits for the end.
 *
 * Unloading the library stops a running update and waits for its thread. On
 * Windows that wait runs under the loader lock, which a thread needs to end:
 * call StopFirmwareUpdate and let the update end before FreeLibrary.
 */

/** The status callback: receives the progress value, 0 to 100, widened
 *  without sign (a callback declared with a uint8_t parameter works alike). */
typedef void(MALTOR_CALL* MaltorStatusCallback)(uint32_t progress);

/**
 * Stores the status callback; null included. May be called at any time: the
 * update thread calls whatever is stored when it next reports, and skips the
 * report while null is stored.
 */
MALTOR_API void MALTOR_CALL ReflashStatusCallBack(MaltorStatusCallback callback);

/**
 * Starts the gateway firmware update of `firmware_path`, appending to the
 * progress log `log_path`. Checks, in this order: MALTOR_ERR_NO_CALLBACK (5)
 * without a status callback; MALTOR_ERR_PATH (2) for a null or empty path;
 * MALTOR_ERR_UPDATE_RUNNING (1) while an update is alive (also when called
 * from the status callback, and while a stopped update's thread still runs;
 * never waits); MALTOR_ERR_FILE_OPEN (3) when either file fails to
 * open (the log file may have been created; neither stays open) or the update
 * thread cannot be created. Returns MALTOR_OK once the update thread runs.
 * An empty image, or one of 65,536 areas of 16,384 bytes or more, is not
 * sent: the log shows the preparation failure line and nothing reaches the
 * device.
 */
MALTOR_API uint8_t MALTOR_CALL UpdateFirmware(const char* firmware_path, const char* log_path);

/**
 * Starts the logger firmware update; results as UpdateFirmware. An image
 * whose length does not fit 32 bits is not sent: the log shows the start
 * failure line and nothing reaches the device.
 */
MALTOR_API uint8_t MALTOR_CALL UpdateLoggerFirmware(const char* firmware_path,
                                                    const char* log_path);

/**
 * Asks the running update to stop: it ends before its next block, writes its
 * trailer and runs its tail. Returns MALTOR_ERR_NO_CALLBACK (5) when no status
 * callback is stored, else MALTOR_OK, also when nothing runs. May be called
 * from any thread, the status callback included; it never waits. The update
 * stays alive until its thread has ended: MaltorWaitForUpdate waits for that.
 */
MALTOR_API uint8_t MALTOR_CALL StopFirmwareUpdate(void);

/*
 * The data-processor reflash sends a 524,288-byte firmware image,
 * synchronously on the caller's thread, in one start frame (command 0x07),
 * data frames (0x08) and an end frame (0x09) carrying the image's 16-bit sum.
 * A file shorter than 524,288 bytes is sent followed by zeros up to that
 * length. Data frames carry 490 bytes on a high-speed link and 42 on a
 * full-speed one (the last frame up to one byte more). The replies' content
 * is not looked at. Neither call checks for an open device: without a
 * device the first write fails. While a firmware update is alive both are
 * refused with nothing sent (SCReflashFile 1, SCReflash 0). A write or read
 * that gets no answer fails after 10 s. After a failure the device is left
 * mid-transfer; nothing is sent to abort it. An image file that is missing,
 * empty, unreadable or longer than 524,288 bytes is not sent: nothing
 * reaches the device and the call reports its failure result.
 */

/**
 * Reflashes the data processor with the image file at `path`, at the chunk
 * size of the link found by DeviceIsReady. Frames take the library-wide
 * sequence numbers. Returns MALTOR_OK when every frame was written and every
 * reply read, MALTOR_ERR_TRANSFER (1) when a transfer failed or the image
 * was refused, MALTOR_ERR_ARGUMENT (11) for a null path (nothing sent).
 */
MALTOR_API uint8_t MALTOR_CALL SCReflashFile(const char* path);
/** Second name of SCReflashFile. */
MALTOR_API uint8_t MALTOR_CALL ReflashLogger(const char* path);

/**
 * Reflashes the data processor with the image at the fixed path
 * "C:\Current Projects\Streamcore\SC\firmware2.bin" on Windows; on other
 * systems "firmware2.bin" in the folder of the host executable. Always uses
 * 490-byte data frames, and sequence numbers of its own (0 at load, never
 * reset) rather than the library-wide ones. Returns 1 on success, 0 on any
 * failure: the opposite sense to SCReflashFile.
 */
MALTOR_API int32_t MALTOR_CALL SCReflash(void);

/* ---- Configuration transfer ----------------------------------------------- */

/**
 * Sends a configuration image of `length` bytes to the gateway, synchronously,
 * and appends an account of it to logs/Configuration.log beside the host
 * executable (when that folder exists; it is not created). `reserved` is not
 * read. Returns MALTOR_OK, MALTOR_ERR_UPDATE_RUNNING (1) while a firmware
 * update runs (nothing sent or logged), MALTOR_ERR_EXCHANGE (6) when the
 * announce or a block failed or was refused (also with no device open), or
 * MALTOR_ERR_ARGUMENT (11), before anything is sent or logged, for a null
 * `data` with a length above 0 or a length of 1,073,348,608 bytes or more
 * (more blocks of 16,378 bytes than a 16-bit count holds).
 */
MALTOR_API uint8_t MALTOR_CALL SendTaloqConfiguration(void* reserved, uint32_t length,
                                                      const uint8_t* data);

/**
 * Sends the data processor's configuration file at `path`, synchronously,
 * as the reflash sends an image (commands 0x0B, 0x0C and 0x0D) but only the
 * file's own bytes: a start frame with the file's length and its bytes 6 to
 * 21, data frames at the link's chunk size and an end frame with the file's
 * 16-bit sum. Frames take the library-wide sequence numbers; no check for an
 * open device (the first write fails). Returns MALTOR_OK when every frame was
 * written and every reply read, else MALTOR_ERR_TRANSFER (1); also 1, with
 * nothing sent, for a file that is missing, empty, unreadable or longer than
 * 524,288 bytes. Once the end frame was written, *status receives the
 * device's status word (bytes 5-6 of its reply), even when that reply then
 * fails: the word then comes from the reply before it. Otherwise *status is
 * untouched. A null path or status returns MALTOR_ERR_ARGUMENT (11) before
 * anything is sent.
 */
MALTOR_API uint8_t MALTOR_CALL SCReconfigureFile(const char* path, uint16_t* status);
/** Second name of SCReconfigureFile. */
MALTOR_API uint8_t MALTOR_CALL SendConfiguration(const char* path, uint16_t* status);

/**
 * Reads the data processor's configuration back into the file at `path`:
 * asks for its size (command 0x0A), then for its bytes in order, 200 at a
 * time (command 0x1C). The file is deleted and written anew only once the
 * device reported a size above 0; a download that fails part-way keeps what
 * came so far. Returns MALTOR_ERR_NO_DEVICE (7) when no device is open, and
 * otherwise MALTOR_ERR_EXCHANGE (6), after a complete download too: judge the
 * outcome by the file. A null path returns MALTOR_ERR_ARGUMENT (11) before
 * anything is sent. When the file cannot be created, nothing is asked for.
 */
MALTOR_API uint8_t MALTOR_CALL SCConfigFileData(const char* path);

/* ---- Library services (Maltor* names) ----------------------------------- */

/* What went wrong in the last call, beyond its result code. */
#define MALTOR_DETAIL_NONE 0 /* the call succeeded, or nothing more is known */
#define MALTOR_DETAIL_FILE \
  1 /* a file the call was given could not be opened, read, written or closed */
#define MALTOR_DETAIL_DEVICE \
  2                         /* no reply, a short or wrong reply, a refusal, or the device is gone */
#define MALTOR_DETAIL_USB 3 /* the operating system's USB stack failed */
#define MALTOR_DETAIL_ARGUMENT 4 /* an argument was refused before anything was sent */
#define MALTOR_DETAIL_BUSY 5     /* the device was held by another operation or the update thread */
#define MALTOR_DETAIL_LIMIT 6    /* a size the device reported is beyond what the library accepts */

/** Filled by MaltorGetLastError. Natural alignment, not packed. */
typedef struct MaltorErrorDetail {
  uint8_t result;          /* what the call returned */
  uint8_t kind;            /* MALTOR_DETAIL_* */
  int32_t os_error;        /* errno on POSIX, GetLastError() on Windows; 0 when none */
  uint64_t bytes_done;     /* bytes that reached their destination (file or device) */
  uint64_t bytes_expected; /* bytes the call meant to move; 0 when not a transfer */
  char text[256];          /* one English sentence, NUL-terminated */
} MaltorErrorDetail;

/** Returns the loaded library's version: (major << 16) | (minor << 8) | patch. */
MALTOR_API uint32_t MALTOR_CALL MaltorGetVersion(void);

/**
 * Returns a static English sentence for a result code: never null. Codes the
 * library does not define are device status bytes and read "device status N".
 */
MALTOR_API const char* MALTOR_CALL MaltorResultText(uint8_t code);

/**
 * Copies the calling thread's error detail into *detail (when not null) and
 * returns its kind. Every device operation clears the detail on entry and
 * sets it when something went wrong, so after any call it describes that
 * call; the Maltor* functions leave it alone. The update thread keeps its own.
 */
MALTOR_API uint8_t MALTOR_CALL MaltorGetLastError(MaltorErrorDetail* detail);

/**
 * Waits until no firmware update is alive (its thread has finished its
 * tail). Returns 0 once none is (at once when none was started), 1 when one
 * still is after `timeout_ms` milliseconds; 0 means do not wait. Any thread
 * may wait; called on the update thread (from the status callback) it
 * returns 1 at once while the update is alive.
 */
MALTOR_API uint8_t MALTOR_CALL MaltorWaitForUpdate(uint32_t timeout_ms);

/** One present device, as MaltorListDevices reports it. Natural alignment. */
typedef struct MaltorDeviceInfo {
  uint8_t kind;   /* 1, 2, 3 or 5 */
  uint8_t in_use; /* 0 free, 1 open in this process, 2 held by another program */
  uint16_t vendor_id;
  uint16_t product_id;
  char serial[64];   /* as the device reports it; "" when it has none */
  char location[32]; /* where it is plugged: bus and ports ("1-1.4") */
  char path[400];    /* the device path discovery would open */
} MaltorDeviceInfo;

/**
 * Fills out[0 .. capacity-1] with the present devices of the four kinds in
 * discovery order, without claiming any. Returns how many are present, which
 * may exceed `capacity`; `out` may be null to count them.
 */
MALTOR_API uint32_t MALTOR_CALL MaltorListDevices(MaltorDeviceInfo* out, uint32_t capacity);

/**
 * From now on discovery considers only the device whose serial, location or
 * path equals `id`; null or "" considers every device again. Closes slot 0
 * when it holds another device. Returns 0, 7 when no present device matches
 * (the selection is kept, so the device is found once plugged in), or 1 with
 * nothing changed while a firmware update is alive.
 */
MALTOR_API uint8_t MALTOR_CALL MaltorSelectDevice(const char* id);

/**
 * Starts recording every USB transfer the library makes into a pcapng file
 * at `path` (a trace already running is closed first). Returns 0, or
 * MALTOR_ERR_FILE_OPEN with the error detail set.
 */
MALTOR_API uint8_t MALTOR_CALL MaltorTraceStart(const char* path);

/** Flushes and closes the running trace, if any. */
MALTOR_API void MALTOR_CALL MaltorTraceStop(void);

#ifdef __cplusplus
}
#endif

#endif /* MALTOR_USBDRV_H */
