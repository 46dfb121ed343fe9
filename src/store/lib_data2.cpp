#include "store/lib_data2.hpp"

// ---- Buffered print and log ----------------------------------------------
// Only the C library is used here: CGI programs written in C link this module
// without the C++ runtime.

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static constexpr int32_t kMprintSize = 100000;
// Passing this many collected bytes releases the collection at once.
static constexpr int32_t kMprintFlushAt = 98000;
static constexpr int32_t kMprintCollecting = 0xabcd;

static char mprnD[kMprintSize];
// Bytes collected, and the place of the NUL that ends them; never above
// kMprintSize - 1, so the NUL always fits.
static int32_t mprnP = 0;
static int32_t mprint_chg = 0;

extern "C" {

void mprint_push(void) {
  mprnP = 0;
  mprint_chg = kMprintCollecting;
}

void mprint_pull(void) {
  mprint_chg = 0;
  mprnD[mprnP] = '\0';
  if (mprnP > 0) printf("%s", mprnD);
  mprnP = 0;
}

void mprint_pull_log(void) {
  mprint_pull();
  FILE *log = fopen("mprint.log", "ae");
  if (log == nullptr) return;
  fprintf(log, "%s\n\n", mprnD);
  fclose(log);
}

void MorPrintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  if (mprint_chg != kMprintCollecting) {
    vprintf(format, args);
    va_end(args);
    return;
  }

  // Format into the room left, bounded, and only then decide: a message that
  // does not fit must neither overrun the buffer nor lose any of its text.
  va_list again;
  va_copy(again, args);
  int n =
      vsnprintf(mprnD + mprnP, static_cast<size_t>(kMprintSize - mprnP), format, args);
  va_end(args);
  if (n < 0) {
    mprnD[mprnP] = '\0';
  } else if (n < kMprintSize - mprnP) {
    mprnP += n;
  } else {
    mprnD[mprnP] = '\0';  // the cut-off attempt is not part of the text
    mprint_pull();
    mprint_push();
    if (n < kMprintSize) {
      int m = vsnprintf(mprnD, kMprintSize, format, again);
      mprnP = m < 0 ? 0 : m;
    } else {
      vprintf(format, again);
    }
  }
  va_end(again);
  if (mprnP > kMprintFlushAt) {
    mprint_pull();
    mprint_push();
  }
}

void what_time(time_fields *t) {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) {
    memset(t, 0, sizeof *t);
    return;
  }
  t->second = static_cast<int16_t>(local.tm_sec);
  t->minute = static_cast<int16_t>(local.tm_min);
  t->hour = static_cast<int16_t>(local.tm_hour);
  t->day = static_cast<int16_t>(local.tm_mday);
  t->month = static_cast<int16_t>(local.tm_mon + 1);
  t->year = static_cast<int16_t>(local.tm_year + 1900);
  t->weekday = static_cast<int16_t>(local.tm_wday);
}

}  // extern "C"
