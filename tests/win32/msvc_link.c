/* Linked with Microsoft's linker conventions (lld-link, no C run-time) against the zip's
 * KorvelPLNK.lib: every export of the header must resolve through it. Exit status 0 when the
 * library answers. */
#include "KorvelPLNK.h"

typedef void (*AnyExport)(void);
#define EXPORT(f) (AnyExport)(void*)(f)
static AnyExport const kAll[] = {EXPORT(GetPDBLen),      EXPORT(FullPDB),     EXPORT(DLLEdDev),
                                 EXPORT(DLLTestDev),     EXPORT(TagEdAddr),   EXPORT(GetTagAddrList),
                                 EXPORT(DetectScanTime), EXPORT(IniDriver),   EXPORT(IniDriverEx),
                                 EXPORT(OnDataRead),     EXPORT(OnDataWrite), EXPORT(GetDeviceStatus),
                                 EXPORT(WriteLog),       EXPORT(FreeDriver),  EXPORT(ReleaseDriver)};

int __stdcall start(void) {
  for (unsigned i = 0; i < sizeof kAll / sizeof kAll[0]; ++i)
    if (kAll[i] == 0) return 2;
  return GetPDBLen() == 26508 && DetectScanTime() == 1000 ? 0 : 1;
}
