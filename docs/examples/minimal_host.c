/* A minimal host of the KorvelPLNK driver: one device network on COM1 with module 1 (PLNK), five
 * tags, polled for a few seconds at the period the driver asks for, one write (the password switch
 * that lets the module take parameter changes; values and outputs are read-only on this line). */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "KorvelPLNK.h"

#ifdef _WIN32
#include <objbase.h>
#include <windows.h>
static void sleep_ms(unsigned ms) {
  Sleep(ms);
}
static void host_free(void* p) {
  CoTaskMemFree(p);
} /* the library's texts come from this allocator */
#else
#include <time.h>
static void sleep_ms(unsigned ms) {
  struct timespec ts = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
  nanosleep(&ts, NULL);
}
static void host_free(void* p) {
  free(p);
} /* malloc'ed by the library */
#endif

/* Prints and frees a text the library handed out (GBK bytes; NULL when empty). */
static void show(const char* what, char* msg) {
  if (msg == NULL) return;
  printf("%s: %s\n", what, msg);
  host_free(msg);
}

/* Configures module n of family "PLNE" or "PLNK" in the block's module table (entry n at byte
 * 16 + 264 n: DevID int32, DevType uint8, DevTypeName as a length byte and the name). The wizard
 * (DLLEdDev) or a stored block normally does this. */
static void set_module(unsigned char* block, int n, const char* family) {
  unsigned char* entry = block + 16 + 264 * n;
  int32_t id = n;
  memcpy(entry, &id, 4);
  entry[4] = strcmp(family, "PLNE") == 0 ? 0 : 1;
  entry[5] = 4;
  memcpy(entry + 6, family, 4);
}

static void add_tag(TTagInfo* tag, int32_t id, const char* name, const char* addr, uint8_t type,
                    int32_t period) {
  memset(tag, 0, sizeof *tag);
  tag->TagID = id;
  strncpy(tag->TagName, name, sizeof tag->TagName - 1);
  strncpy(tag->TagAddr, addr, sizeof tag->TagAddr - 1);
  tag->TagType = type;
  tag->ScanPeriod = period;
}

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? atof(argv[1]) : 5.0;

  /* The parameter block: the library's size and defaults, then module 1. */
  unsigned char* block = calloc(1, (size_t)GetPDBLen());
  if (block == NULL) return 1;
  FullPDB(block);
  set_module(block, 1, "PLNK");

  /* The tags, handed over as an array of pointers; the host keeps the records. */
  enum { kTags = 5 };
  TTagInfo tags[kTags];
  TTagInfo* pointers[kTags];
  add_tag(&tags[0], 1, "Flow", "PV1:1", 0, 500);
  add_tag(&tags[1], 2, "Alarm", "PV_ALARM1:1", 1, 500);
  add_tag(&tags[2], 3, "Unlock", "SetPassWord1:0", 1, 1000);
  add_tag(&tags[3], 4, "Line", "COMMLINK", 0, 1000);
  add_tag(&tags[4], 5, "Link1", "DEVICELINK1", 2, 1000);
  for (int i = 0; i < kTags; ++i) pointers[i] = &tags[i];

  /* Start: this thread owns the driver instance from now on. */
  char* msg = NULL;
  if (!IniDriver(kTags, pointers, block, &msg)) {
    fprintf(stderr, "the driver did not start: %s\n", msg ? msg : "(no message)");
    host_free(msg);
    FreeDriver();
    free(block);
    return 1;
  }
  show("start", msg);

  TTagValue values[kTags]; /* room for every tag: OnDataRead does not know the buffer's size */
  int goodFlow = 0, written = 0;
  double waited = 0;
  while (waited < seconds * 1000) {
    int32_t n = 0;
    OnDataRead(&n, values, &msg);
    show("driver", msg);
    for (int32_t i = 0; i < n; ++i) {
      const TTagValue* v = &values[i];
      const char* name = tags[v->TagID - 1].TagName;
      if (v->DataType == 0) {
        printf("%s = %g status 0x%08X\n", name, v->Data.dbl, (unsigned)v->Status);
        if (v->TagID == 1 && v->Status == 0) goodFlow = 1;
      } else if (v->DataType == 1) {
        printf("%s = %s status 0x%08X\n", name, v->Data.bln ? "true" : "false", (unsigned)v->Status);
      } else {
        printf("%s = %s status 0x%08X\n", name, v->Data.str ? v->Data.str : "", (unsigned)v->Status);
        host_free(v->Data.str); /* string values belong to the host */
      }
    }
    if (goodFlow && !written) {
      TTagValue w;
      memset(&w, 0, sizeof w);
      w.TagID = 3;
      w.DataType = 1;
      w.Data.bln = 1;
      written = 1;
      printf("write Unlock = true %s\n", OnDataWrite(1, &w, &msg) ? "queued" : "refused");
      show("driver", msg);
    }
    fflush(stdout);
    const unsigned period = DetectScanTime();
    sleep_ms(period ? period : 1);
    waited += period ? period : 1;
  }

  FreeDriver(); /* statistics to the log, port closed */
  GetDeviceStatus(&msg);
  show("stop", msg);
  free(block);
  return goodFlow ? 0 : 3;
}
