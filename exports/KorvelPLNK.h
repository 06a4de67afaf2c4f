/* The host-facing interface of the KorvelPLNK driver library: fifteen plain C functions.
 * Every string the library hands out (char** results, string values of OnDataRead) is a new
 * NUL-terminated copy that the host releases: with free() from the .so, with CoTaskMemFree()
 * (ole32) from the Windows DLL. An empty text comes back as NULL. C++ hosts include records.h
 * (the records) and PDB.h (the parameter block's layout) as well. */
#ifndef KORVELPLNK_H
#define KORVELPLNK_H

#include <stdint.h>

#if defined(_WIN32)
#define KORVEL_CALL __stdcall
#define KORVEL_API
#else
#define KORVEL_CALL
#define KORVEL_API __attribute__((visibility("default")))
#endif

typedef uint8_t KBool; /* 0 = false, 1 = true */

#ifdef __cplusplus
namespace korvel {
struct TTagInfo;
struct TTagValue;
struct TTagAddrInfo;
}  // namespace korvel
using korvel::TTagAddrInfo;
using korvel::TTagInfo;
using korvel::TTagValue;
extern "C" {
#else
/* The boundary records for C hosts, byte for byte as driver/records.h lays them out for C++. */
#pragma pack(push, 1)
typedef struct TOleVariant {
  uint16_t vt; /* 0 empty, 2 int16, 3 int32, 4 float, 5 double, 11 Boolean (-1/0) */
  uint16_t reserved1, reserved2, reserved3;
  union {
    int16_t iVal;
    int32_t lVal;
    float fltVal;
    double dblVal;
    int16_t boolVal;
    const char* pszVal;
    uint8_t bytes[8];
  } u;
} TOleVariant;
typedef struct TTagInfo {
  int32_t TagID;
  char TagName[32];
  int32_t HostReserved36;
  char TagAddr[64];
  uint8_t TagType; /* 0 real, 1 Boolean, 2 string */
  uint8_t Pad105[3];
  int32_t ScanPeriod; /* ms */
  uint8_t HostReserved112[8];
  TOleVariant Value; /* initial value; vt 0 = none */
} TTagInfo;
typedef struct TTagValue {
  int32_t TagID;
  double Time;      /* days since 30 December 1899, time of day as fraction */
  uint32_t Status;  /* 0 = good */
  uint8_t DataType; /* 0 real, 1 Boolean, 2 string */
  uint8_t Pad17[3];
  union {
    double dbl;
    int32_t bln;
    char* str; /* string values of OnDataRead belong to the host: free() / CoTaskMemFree() */
    uint8_t bytes[8];
  } Data;
} TTagValue;
typedef struct TTagAddrInfo {
  uint8_t Prefix[256]; /* length byte + text */
  uint8_t Hint[256];
  uint8_t DataType;
  uint8_t Flag;
  uint8_t Pad514[2];
  double MaxValue;
  double MinValue;
  int32_t Reserved532;
} TTagAddrInfo;
#pragma pack(pop)
#if defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(TTagInfo) == 136, "TTagInfo is 136 bytes");
_Static_assert(sizeof(TTagValue) == 28, "TTagValue is 28 bytes");
_Static_assert(sizeof(TTagAddrInfo) == 536, "TTagAddrInfo is 536 bytes");
#endif
#endif

/* Bits of a tag's status word (TTagValue.Status). 0 is a good value that came from the answer to
 * the tag's own request. The texts are the names the tools and the Python binding print. */
#define KORVEL_STATUS_ADDRESS_REFUSED 0x00040000u  /* "address refused": never requested */
#define KORVEL_STATUS_NO_VALUE_YET 0x00080000u     /* "no value yet": address checked, not read */
#define KORVEL_STATUS_NO_ANSWER 0x00100000u        /* "no answer": also a write not delivered */
#define KORVEL_STATUS_INCOMPLETE 0x00200000u       /* "incomplete answer" at the time-out */
#define KORVEL_STATUS_BAD_CHECK 0x00400000u        /* "check characters wrong", or a wrong answer */
#define KORVEL_STATUS_REFUSED 0x00800000u          /* "refused by the module" ('?' answer) */
#define KORVEL_STATUS_REPEATED_FAILURE 0x01000000u /* "failing repeatedly" (with one of the above) */

/* Values of the COMMLINK tag (the line) and of DEVICELINK<n> (module n). */
#define KORVEL_LINK_NEVER 0        /* never answered (or paused before the first answer) */
#define KORVEL_LINK_OK 1           /* the last exchange succeeded */
#define KORVEL_LINK_INTERFERENCE 2 /* a few failures */
#define KORVEL_LINK_FAULT 3        /* more failures; the line after a failure */
#define KORVEL_LINK_BROKEN 4       /* many failures */
#define KORVEL_LINK_POWER_OFF 5    /* a probe got no answer: module off or broken */
#define KORVEL_LINK_PAUSED 6       /* polling paused or the module disabled */

/* Rules common to every export:
 * - Texts are GBK (code page 936). A `char** msg` receives a new NUL-terminated copy that the host
 *   releases with free() (Windows: CoTaskMemFree()), or NULL when there is nothing to say; a NULL
 *   msg itself is allowed and then nothing is handed out.
 * - A driver instance belongs to the thread that called IniDriver. The run-time calls (IniDriverEx,
 *   OnDataRead, OnDataWrite, GetDeviceStatus, WriteLog, DetectScanTime, FreeDriver) act on the
 *   calling thread's instance only; on a thread without one they answer as documented below
 *   ("通讯设备初始化失败") and change nothing. The instance is destroyed when its thread ends.
 * - No export raises a signal or ends the process, and none blocks for seconds (IniDriver's first
 *   open of the port may retry for up to 5 s).
 * - Counts above 1048576 records are refused as invalid without reading the records. */

/* Size of the device parameter block in bytes: 26508. Any thread, any time. */
KORVEL_API int32_t KORVEL_CALL GetPDBLen(void);

/* Fills the GetPDBLen() bytes at block with the defaults and returns block (NULL stays NULL).
 * Any thread, any time. */
KORVEL_API void* KORVEL_CALL FullPDB(void* block);

/* Runs the configuration wizard modally on the calling thread over a copy of the host's block
 * (GetPDBLen() bytes, read and written in place; NULL gives 2 at once). hostWindow owns the
 * windows (0 = none). Returns 1 when the host's block was changed, 2 when it is as it was. When no
 * window can be shown it returns at once, after the block check alone: 1 when that check voided
 * damaged module entries in the host's block (as in a block of FullPDB's defaults only, whose
 * entry 0 has no type name), else 2. Blocks the calling thread until the wizard ends: call it
 * from the host's window thread, never from a polling thread. */
KORVEL_API int32_t KORVEL_CALL DLLEdDev(intptr_t hostWindow, void* block);

/* Runs the device test window on a copy of block (GetPDBLen() bytes, not changed; NULL gives 0);
 * show = 0 runs a silent check. Returns 1 when a test read succeeded. Uses a driver instance on
 * the calling thread and destroys that thread's instance afterwards: never call it from a thread
 * that polls a device. Blocks until the window closes. */
KORVEL_API KBool KORVEL_CALL DLLTestDev(void* block, KBool show);

/* Checks and normalises one tag address for the host's tag editor. block: the device's parameter
 * block (GetPDBLen() bytes, only read). *addr: the host's NUL-terminated address (NULL = empty); it
 * is not freed by the library and is replaced by a new copy (NULL when empty) that the host
 * frees. skipCheck = 1 hands the address back unchanged with result 1. Returns 1 for a usable
 * address; *msg explains a refusal. A NULL addr or block gives 0 and "通讯设备初始化失败".
 * Any thread, any time (works on a temporary instance of its own). */
KORVEL_API KBool KORVEL_CALL TagEdAddr(void* block, char** addr, KBool skipCheck, char** msg);

/* The address kinds for the host's tag editor. items = NULL: *count receives the number of
 * templates (7). Otherwise the first min(*count, 7) elements of items are filled (a negative
 * count fills none). The first argument is ignored; count = NULL does nothing. Any thread. */
KORVEL_API void KORVEL_CALL GetTagAddrList(int32_t ignored, int32_t* count, TTagAddrInfo* items);

/* The poll period in ms the calling thread's instance asks for; 1000 without an instance. */
KORVEL_API uint16_t KORVEL_CALL DetectScanTime(void);

/* Starts a driver instance on the calling thread (an earlier one of this thread is stopped and
 * destroyed first). tags: count pointers to TTagInfo records (NULL entries name no tag); the
 * records are read during the call only. block: the device's parameter block (GetPDBLen() bytes);
 * damaged entries are repaired in place. A tag's initial value (TTagInfo.Value) may be of any
 * numeric OLE type; a string type must carry NULL or a NUL-terminated text. Returns 1 when the
 * instance runs; 0 with *msg saying why otherwise ("无效的标签列表。" for a NULL tag array or a
 * count above the limit, "无效的参数信息。" for a NULL block, the port or tag-table failure text).
 * A count of 0 or below starts no tag. */
KORVEL_API KBool KORVEL_CALL IniDriver(int32_t count, TTagInfo** tags, void* block, char** msg);

/* Hands the calling thread's instance the host's fault event, signalled when the line has a
 * severe fault (more than 10 failed requests in a row). POSIX: a descriptor the host owns and
 * keeps open while the instance runs (an eventfd or the write end of a non-blocking pipe), which
 * receives 8 bytes; a descriptor whose reader has gone is skipped quietly. Windows: an event
 * handle. 0 = none. Without an instance nothing happens. Always returns 1. */
KORVEL_API KBool KORVEL_CALL IniDriverEx(intptr_t event);

/* One poll: advances the line by at most one exchange and writes every tag whose value or status
 * changed into buf, *count receiving how many. buf must have room for as many records as tags
 * were accepted by IniDriver. A record's Data holds a double (DataType 0), an int32 0/1 (1) or a
 * new string copy the host frees, NULL when empty (2). Without an instance, or with a NULL buf or
 * count, *count is 0 and *msg "通讯设备初始化失败". Always returns 1. */
KORVEL_API KBool KORVEL_CALL OnDataRead(int32_t* count, TTagValue* buf, char** msg);

/* Queues writes: recs holds count records, each naming a tag by TagID with a value of the tag's
 * type in Data (0: double, 1: int32 non-zero = true, 2: NULL or a NUL-terminated text owned by the
 * host). A record of another type than its tag's is skipped; a type code other than 0..2 is
 * refused and named in *msg; an identifier that names no tag is refused. Returns the result of the
 * last record (1 = accepted for sending). Without an instance, with count <= 0 or above the limit,
 * or a NULL recs: 0 and "通讯设备初始化失败". After FreeDriver no tag exists: 0. */
KORVEL_API KBool KORVEL_CALL OnDataWrite(int32_t count, TTagValue* recs, char** msg);

/* Hands out the calling thread's pending status text (cleared afterwards); without an instance
 * "通讯设备初始化失败". Always returns 1. */
KORVEL_API KBool KORVEL_CALL GetDeviceStatus(char** msg);

/* Switches the instance's logging when a status text is pending and hands that text out; without
 * a pending text nothing changes. Without an instance: "通讯设备初始化失败". */
KORVEL_API void KORVEL_CALL WriteLog(KBool enable, char** msg);

/* Stops the calling thread's instance: writes its statistics to the log, releases its tags and
 * closes the port. The instance stays until its thread ends; later run-time calls see no tags.
 * Calling it again, or without an instance, does nothing. Always returns 1. */
KORVEL_API KBool KORVEL_CALL FreeDriver(void);

/* Does nothing; any thread, any time. */
KORVEL_API void KORVEL_CALL ReleaseDriver(void);

#ifdef __cplusplus
}
#endif

#endif /* KORVELPLNK_H */
