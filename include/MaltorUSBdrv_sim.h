/*
 * MaltorUSBdrv_sim: control of the virtual device built into MaltorUSBdrv_sim.
 *
 * MaltorUSBdrv_sim exports every function of MaltorUSBdrv.h and, in addition,
 * the functions below. Applications load it instead of MaltorUSBdrv to test
 * themselves without hardware: they plug virtual devices, give them content,
 * inject faults, read the wire trace and drive the virtual clock.
 *
 * Virtual clock: every clock the library reads and every wait it makes run on
 * a virtual millisecond clock. In automatic mode (the default) a wait that
 * nothing can end jumps the clock to its deadline at once, sleeps advance it,
 * and each reading of the clock advances it by 1 ms so that busy loops move
 * on; a library wait of 5,000 ms therefore costs no real time. In manual mode
 * waits block until MaltorSim_ClockAdvance moves the clock to their deadline
 * (or their transfer completes), for tests that act in the middle of a wait;
 * switching back to automatic mode releases them as automatic mode would.
 *
 * All functions are safe to call from any thread.
 */
#ifndef MALTOR_USBDRV_SIM_H
#define MALTOR_USBDRV_SIM_H

#include "MaltorUSBdrv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Devices ----------------------------------------------------------- */

/** Link speeds as the device reports them. */
#define MALTOR_SIM_FULL_SPEED 1
#define MALTOR_SIM_HIGH_SPEED 3

/** Kind 0 plugs a foreign USB device that discovery must skip. */
#define MALTOR_SIM_FOREIGN 0

/**
 * Plugs a new virtual device of kind 1, 2, 3 or 5 (or MALTOR_SIM_FOREIGN) at
 * the given speed. `position` is its place in the bus enumeration order
 * (0 first; -1 or a value past the end appends). Returns a device id > 0
 * (ids are never reused), or -1 when the kind or speed is unknown, the bus is
 * full (16 devices) or 64 devices were plugged since the last reset.
 */
MALTOR_API int32_t MALTOR_CALL MaltorSim_Plug(uint8_t kind, uint8_t speed, int32_t position);

/** Unplugs a device: its pending transfers fail and its handles go stale.
 *  Its content is kept for MaltorSim_Replug. Returns 0, or -1 for an unknown id. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_Unplug(int32_t device);

/** Plugs an unplugged device back in, with the same path and content, at the
 *  end of the enumeration order. It comes back restarted: replies it had not
 *  sent, a log file, sector stream or live data it was sending and the packets
 *  queued with MaltorSim_SendLiveData are gone. Returns 0, or -1. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_Replug(int32_t device);

/** Unplugs and forgets every device, clears faults, trace and debug texts,
 *  and sets the virtual clock back to automatic mode. The clock's value is
 *  kept. */
MALTOR_API void MALTOR_CALL MaltorSim_Reset(void);

/** Device options for MaltorSim_SetOption. */
#define MALTOR_SIM_OPT_ENDPOINT_COUNT 1 /* endpoints of alternate setting 0 (default 4) */
#define MALTOR_SIM_OPT_HAS_INTERFACE 2  /* 0: the device exposes no interface path */
#define MALTOR_SIM_OPT_OPEN_FAILS 3     /* 1: opening the device path fails */
#define MALTOR_SIM_OPT_SPEED 4          /* MALTOR_SIM_FULL_SPEED or MALTOR_SIM_HIGH_SPEED */
#define MALTOR_SIM_OPT_STREAM_RATE 5    /* sector bytes per virtual ms (default 0: unpaced) */
#define MALTOR_SIM_OPT_LIVE_PERIOD 6    /* ms between live records (default 10; 0: none) */
#define MALTOR_SIM_OPT_HELD_ELSEWHERE \
  7 /* 1: another program holds it: opening fails, listings say so */

/** Sets a device option. Returns 0, or -1 for an unknown device or option. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_SetOption(int32_t device, uint32_t option, uint32_t value);

/**
 * Sets the serial number (up to 63 characters, "" for none) and the location
 * (up to 31) the device reports; null keeps either. A device is plugged with
 * serial "SIMnnnnn" and location "1-n", n its id. Its instance id ends in the
 * serial, or in a generated name when it has none; its path does not change.
 * Returns 0, or -1 for an unknown device or a text too long.
 */
MALTOR_API int32_t MALTOR_CALL MaltorSim_SetIdentity(int32_t device, const char* serial,
                                                     const char* location);

/* ---- Faults ------------------------------------------------------------ */

/** Faults for MaltorSim_InjectFault. Each applies to the nth matching frame
 *  (1 the next one) and then clears itself. */
#define MALTOR_SIM_FAULT_NO_REPLY 1       /* the frame gets no reply */
#define MALTOR_SIM_FAULT_SHORT_REPLY 2    /* the reply is cut to `param` bytes (at least 1) */
#define MALTOR_SIM_FAULT_WRONG_SEQUENCE 3 /* reply byte 0 is off by one */
#define MALTOR_SIM_FAULT_WRONG_ECHO 4     /* reply byte 3 is off by one */
#define MALTOR_SIM_FAULT_STATUS 5         /* the reply's status byte is `param` */
#define MALTOR_SIM_FAULT_WRITE_FAILS 6    /* the write of the frame fails */
#define MALTOR_SIM_FAULT_STREAM_STALL 7   /* the stream IN pipe stops after `param` bytes */
#define MALTOR_SIM_FAULT_UNPLUG_ON_READ 8 /* the device vanishes while the reply is awaited */
#define MALTOR_SIM_FAULT_BAD_CHECKSUM 9   /* the reply's last byte is off by one */

/** Any frame matches. */
#define MALTOR_SIM_ANY_COMMAND (-1)

/**
 * Arms a fault on a device for the nth frame (n >= 1) written on the command
 * OUT pipe whose command code is `command` (MALTOR_SIM_ANY_COMMAND for any;
 * the code is byte 3 of a standard frame). MALTOR_SIM_FAULT_STREAM_STALL
 * ignores `command` and `nth`. Returns 0, or -1 for an unknown device or fault.
 */
MALTOR_API int32_t MALTOR_CALL MaltorSim_InjectFault(int32_t device, uint32_t fault,
                                                     int32_t command, uint32_t nth, uint32_t param);

/** Clears every armed fault of a device. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_ClearFaults(int32_t device);

/* ---- Content ----------------------------------------------------------- */

/** Content items for MaltorSim_SetContent and MaltorSim_GetContent. */
#define MALTOR_SIM_SERIAL_NUMBER 1    /* 128 bytes */
#define MALTOR_SIM_HW_SETTINGS 2      /* 128 bytes */
#define MALTOR_SIM_CLOCK 3            /* u32, the device's clock value */
#define MALTOR_SIM_FIRMWARE_TEXT 4    /* up to 13 characters */
#define MALTOR_SIM_CONFIGURATION 5    /* up to 65,536 bytes */
#define MALTOR_SIM_STREAM_DATA 6      /* read only: the last bytes written on the stream OUT pipe */
#define MALTOR_SIM_FIRMWARE_VERSION 7 /* 5 bytes: the version word (LSB first), three bytes */
#define MALTOR_SIM_LOG_FILE_LIMIT 8   /* u32, the most bytes of a log file sent (see below) */
#define MALTOR_SIM_LOG_SUM_OFFSET 9   /* u16, added to the sum the log file check reports */

/** Sets a content item. Returns 0, or -1 for an unknown device, item or size. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_SetContent(int32_t device, uint32_t item, const void* data,
                                                    uint32_t length);

/** Copies a content item into `out` (at most `capacity` bytes). Returns the
 *  item's full length, or -1 for an unknown device or item. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_GetContent(int32_t device, uint32_t item, void* out,
                                                    uint32_t capacity);

/* ---- CAN ----------------------------------------------------------------- */

/*
 * A virtual device has CAN buses 0 and 1. Every frame sent with CANTx comes
 * back on the same bus's receive queue (loopback); each queue holds 16 frames,
 * and further frames are lost. Every frame the device sends or receives gets
 * a running count as its returned word.
 */

/**
 * Queues a frame on a bus's receive queue, as if it had come in from the bus.
 * Returns 0, or -1 for an unknown device or bus, a length above 64, a null
 * `data` with a length above 0, or a full queue.
 */
MALTOR_API int32_t MALTOR_CALL MaltorSim_CanDeliver(int32_t device, uint8_t bus, uint32_t id,
                                                    const uint8_t* data, uint8_t length);

/** How the device answers CANRx polls. */
#define MALTOR_SIM_CAN_RX_QUEUE 0  /* default: count 1 and the next queued frame, or count 0 */
#define MALTOR_SIM_CAN_RX_SILENT 1 /* no answer at all */
#define MALTOR_SIM_CAN_RX_COUNT 2  /* count `count` and no frame */

/** Sets how the device answers CANRx polls. Returns 0, or -1 for an unknown
 *  device or mode. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_CanRxMode(int32_t device, uint32_t mode, uint16_t count);

/* ---- Stream IN pipe ----------------------------------------------------- */

/*
 * After command 0x13 the device sends the requested sectors on pipe 0x83
 * (byte k of the card is ((k % 512) ^ (s * 7) ^ (s >> 8)) & 0xFF, s = k / 512),
 * paced by MALTOR_SIM_OPT_STREAM_RATE. After command 0x19 it sends a 512-byte
 * live record every MALTOR_SIM_OPT_LIVE_PERIOD virtual ms until command 0x1A
 * (byte i is (r + i) & 0xFF, r counting the records read since the device was
 * plugged); records nobody read are dropped at 0x1A. Packets queued below go
 * out before either.
 */

/* ---- Log files of log-section devices ---------------------------------- */

/*
 * After Mirel command 15 (section s and length n, most significant byte
 * first) the device answers, then sends n bytes of the log file of section s
 * on the command IN pipe, as one transfer that reads of any size take in
 * turn. Byte k of that file is 0x0A when k % 64 is 63, else (k + s) & 0xFF.
 * With MALTOR_SIM_LOG_FILE_LIMIT set below n (default 0xFFFFFFFF) the device
 * holds only that many bytes: it sends them and ends the transfer early. The
 * next frame written ends a transfer still running. Mirel command 5 answers
 * with the 16-bit sum of the bytes sent, plus MALTOR_SIM_LOG_SUM_OFFSET
 * (default 0). A section of 64 or more is refused with status 2 and nothing
 * is sent. A reply fault armed for command 0 (byte 3 of every Mirel frame)
 * that drops the reply or sets a nonzero status also keeps the file back.
 */

/**
 * Queues one packet of 1 to 512 bytes on the stream IN pipe; the next read of
 * the pipe takes it whole (a read asking for less takes its first bytes and
 * the rest is lost). Up to 64 wait. Returns 0, or -1 for an unknown device, a
 * null `bytes`, a bad length or a full queue.
 */
MALTOR_API int32_t MALTOR_CALL MaltorSim_SendLiveData(int32_t device, const uint8_t* bytes,
                                                      uint32_t length);

/* ---- Firmware updates and gateway configuration ------------------------ */

/*
 * Every device takes logger images (logger frames), gateway images and
 * gateway configurations (gateway frames), whatever its kind; kind-1 devices
 * expect the four-byte lead-in on gateway firmware frames. Frames with a wrong
 * length, sum, lead-in or order are refused (reply status 2) and counted as
 * errors. After a whole firmware image (the logger finish frame, or the
 * gateway completion frame after every announced byte) the device restarts:
 * it vanishes 10 virtual ms later and comes back after its restart time.
 */

/** Images for MaltorSim_ImageInfo and MaltorSim_ImageGet. */
#define MALTOR_SIM_IMAGE_FIRMWARE 1         /* the latest logger or gateway firmware image */
#define MALTOR_SIM_IMAGE_CONFIGURATION 2    /* the latest gateway configuration */
#define MALTOR_SIM_IMAGE_REFLASH 3          /* the latest data-processor reflash image */
#define MALTOR_SIM_IMAGE_DP_CONFIGURATION 4 /* the latest data-processor configuration sent */

typedef struct MaltorSimImageInfo {
  uint32_t announced; /* the size the announce frame gave (0 for a logger image) */
  uint32_t received;  /* bytes taken since the start or announce frame */
  uint32_t blocks;    /* data or block frames taken */
  uint32_t finished;  /* whole images: logger finish, gateway completion, last configuration byte */
  uint32_t reconnects; /* logger reconnect frames */
  uint32_t errors;     /* frames refused for a wrong length, sum, lead-in or order */
  uint64_t hash;       /* 64-bit FNV-1a of the bytes taken */
} MaltorSimImageInfo;

/** Fills *info for an image. Returns 0, or -1 for an unknown device or image. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_ImageInfo(int32_t device, uint32_t image,
                                                   MaltorSimImageInfo* info);

/** Copies the image's first bytes (the first 262,144 are kept) into `out`, at
 *  most `capacity`. Returns the number of bytes kept, or -1. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_ImageGet(int32_t device, uint32_t image, void* out,
                                                  uint32_t capacity);

/*
 * Data-processor reflash images and configurations (commands 0x07 to 0x0D)
 * are taken by every device. Each frame is answered with a status word at
 * reply bytes 5-6: 0 taken; 1 the end frame's sum is wrong; 2 a data frame
 * out of order or beyond the announced length, or an end frame before every
 * announced byte came; 3 a configuration above 65,536 bytes. Such frames
 * count as errors. A configuration whose end frame is taken replaces the
 * MALTOR_SIM_CONFIGURATION item, and bytes 9-24 of its start frame become
 * the configuration tag (reply bytes 5-20 of command 0x0A). Read requests
 * (command 0x1C, n at bytes 5-6) hand out the next n bytes of the stored
 * configuration (fewer when fewer are left); after its last byte, or a new
 * configuration, the next request starts from its beginning again. For
 * these images MaltorSimImageInfo's `blocks` counts data frames and
 * `finished` end frames taken. A reflash does not restart the device.
 */

/** Frames for MaltorSim_UpdateFault. */
#define MALTOR_SIM_FRAME_LOGGER_START 1
#define MALTOR_SIM_FRAME_LOGGER_DATA 2
#define MALTOR_SIM_FRAME_LOGGER_FINISH 3
#define MALTOR_SIM_FRAME_GATEWAY_ANNOUNCE 4
#define MALTOR_SIM_FRAME_GATEWAY_BLOCK 5
#define MALTOR_SIM_FRAME_CONFIG_ANNOUNCE 6
#define MALTOR_SIM_FRAME_CONFIG_BLOCK 7

/* The reply's status byte is 1 (logger byte 3, gateway byte 4). */
#define MALTOR_SIM_UPDATE_REFUSE 1
/* The frame gets no reply. */
#define MALTOR_SIM_UPDATE_SILENT 2

/** Arms an action for the nth (1 the next) frame of a kind; it then clears
 *  itself. MaltorSim_ClearFaults clears these too. Returns 0, or -1 for an
 *  unknown device, frame or action, nth 0, or more than 8 armed at once. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_UpdateFault(int32_t device, uint32_t frame, uint32_t nth,
                                                     uint32_t action);

/** Sets how many virtual ms the device stays away when it restarts after a
 *  whole firmware image (default 3,000; 0: it does not restart). Returns 0, or -1. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_SetRestartTime(int32_t device, uint32_t milliseconds);

/* ---- Wire trace -------------------------------------------------------- */

#define MALTOR_SIM_OUT 0 /* host to device */
#define MALTOR_SIM_IN 1  /* device to host */

typedef struct MaltorSimTraceEntry {
  int32_t device;    /* device id */
  uint8_t pipe;      /* endpoint address: 0x02, 0x82, 0x03 or 0x83 */
  uint8_t direction; /* MALTOR_SIM_OUT or MALTOR_SIM_IN */
  uint32_t length;   /* bytes moved */
  uint32_t stored;   /* bytes kept in the trace (stream pipes keep the first 64) */
} MaltorSimTraceEntry;

/** Number of transfers in the trace (the trace keeps the latest 4,096). */
MALTOR_API uint32_t MALTOR_CALL MaltorSim_TraceCount(void);

/** Copies transfer `index` (0 oldest) and up to `capacity` of its stored bytes.
 *  Returns the stored byte count, or -1 when there is no such entry. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_TraceGet(uint32_t index, MaltorSimTraceEntry* entry,
                                                  uint8_t* data, uint32_t capacity);

/** Empties the trace. */
MALTOR_API void MALTOR_CALL MaltorSim_TraceClear(void);

/* ---- Debug output ------------------------------------------------------ */

/** Number of debug texts the library sent since the last clear (the latest 1,024 are kept). */
MALTOR_API uint32_t MALTOR_CALL MaltorSim_DebugCount(void);

/** Copies debug text `index` (0 oldest) as a NUL-terminated string. Returns its
 *  length, or -1 when there is no such text. */
MALTOR_API int32_t MALTOR_CALL MaltorSim_DebugGet(uint32_t index, char* out, uint32_t capacity);

/** Forgets every debug text. */
MALTOR_API void MALTOR_CALL MaltorSim_DebugClear(void);

/* ---- Virtual clock ----------------------------------------------------- */

#define MALTOR_SIM_CLOCK_AUTO 0
#define MALTOR_SIM_CLOCK_MANUAL 1

/** Chooses automatic or manual mode (see the top of this header). */
MALTOR_API void MALTOR_CALL MaltorSim_ClockMode(uint32_t mode);

/** Advances the virtual clock, waking every wait whose deadline it reaches. */
MALTOR_API void MALTOR_CALL MaltorSim_ClockAdvance(uint32_t milliseconds);

/** Milliseconds the virtual clock has run since the library was loaded. */
MALTOR_API uint64_t MALTOR_CALL MaltorSim_ClockNow(void);

/** Number of threads blocked in a wait on the virtual clock (manual mode
 *  only), so that a test can move the clock once a wait has begun. */
MALTOR_API uint32_t MALTOR_CALL MaltorSim_ClockWaiters(void);

/** Sets the wall-clock second at which the virtual clock's 0 lies, and the
 *  value the millisecond tick counter shows now (to test its wrap).
 *  MaltorSim_Reset restores both to their values at load. */
MALTOR_API void MALTOR_CALL MaltorSim_ClockSetOrigin(int64_t unix_seconds, uint32_t tick);

#ifdef __cplusplus
}
#endif

#endif /* MALTOR_USBDRV_SIM_H */
