/* The host-facing interface of the KorvelPLNK driver library: fifteen plain C functions.
 * Every string the library hands out (char** results, string values of OnDataRead) is a new
 * NUL-terminated copy that the host releases with free(); an empty text comes back as NULL. */
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
typedef struct TTagInfo TTagInfo;
typedef struct TTagValue TTagValue;
typedef struct TTagAddrInfo TTagAddrInfo;
#endif

KORVEL_API int32_t KORVEL_CALL GetPDBLen(void);
KORVEL_API void* KORVEL_CALL FullPDB(void* block);
KORVEL_API int32_t KORVEL_CALL DLLEdDev(intptr_t hostWindow, void* block);
KORVEL_API KBool KORVEL_CALL DLLTestDev(void* block, KBool show);
KORVEL_API KBool KORVEL_CALL TagEdAddr(void* block, char** addr, KBool skipCheck, char** msg);
KORVEL_API void KORVEL_CALL GetTagAddrList(int32_t ignored, int32_t* count, TTagAddrInfo* items);
KORVEL_API uint16_t KORVEL_CALL DetectScanTime(void);
KORVEL_API KBool KORVEL_CALL IniDriver(int32_t count, TTagInfo** tags, void* block, char** msg);
KORVEL_API KBool KORVEL_CALL IniDriverEx(intptr_t event);
KORVEL_API KBool KORVEL_CALL OnDataRead(int32_t* count, TTagValue* buf, char** msg);
KORVEL_API KBool KORVEL_CALL OnDataWrite(int32_t count, TTagValue* recs, char** msg);
KORVEL_API KBool KORVEL_CALL GetDeviceStatus(char** msg);
KORVEL_API void KORVEL_CALL WriteLog(KBool enable, char** msg);
KORVEL_API KBool KORVEL_CALL FreeDriver(void);
KORVEL_API void KORVEL_CALL ReleaseDriver(void);

#ifdef __cplusplus
}
#endif

#endif /* KORVELPLNK_H */
