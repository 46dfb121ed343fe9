#include "ifcsim/lib_data2.h"

// This module is linked by C programs: C library only, no exceptions, no
// allocation, nothing that needs the C++ runtime.
#include <stddef.h>

// A table is read from and written to its set file as raw bytes, so the
// in-memory record must be the file record: same offsets, and little-endian
// integers. Hosts of the other byte order would need conversion on load and
// save; none is built, so they are refused here.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "set files are little-endian and are used in place");
static_assert(sizeof(int32_t) == 4, "values are 32-bit");
static_assert(sizeof(i4_record) == 80, "record size");
static_assert(offsetof(i4_record, type) == 0, "type offset");
static_assert(offsetof(i4_record, name) == 4, "name offset");
static_assert(sizeof(((i4_record *)0)->name) == 28, "name size");
static_assert(offsetof(i4_record, value) == 32, "value offset");
static_assert(sizeof(((i4_record *)0)->value) == 28, "seven value slots");
static_assert(offsetof(i4_record, min) == 60, "min offset");
static_assert(offsetof(i4_record, max) == 64, "max offset");
static_assert(offsetof(i4_record, group) == 68, "group offset");
static_assert(sizeof(((i4_record *)0)->group) == 12, "group size");

namespace {

constexpr int kNameField = 28;
constexpr int kSlots = 7;

bool usable_type(int32_t type) { return type >= 1 && type <= 5; }
bool valid_index(int index) { return index >= 0 && index < kSlots; }

// The field comes from a file whose contents are not checked, so it is never
// read past its 28 bytes. A field without a NUL is a 28-character name: the
// given name matches it only when it has exactly those 28 characters.
bool name_matches(const char (&field)[kNameField], const char *name) {
  for (int i = 0; i < kNameField; ++i) {
    if (field[i] != name[i]) return false;
    if (field[i] == '\0') return true;
  }
  // All 28 bytes equal and none was NUL, so name[28] exists.
  return name[kNameField] == '\0';
}

// First record called name before the terminator, whatever its type.
i4_record *find_record(i4_record *table, const char *name) {
  for (i4_record *r = table; r->type != 0; ++r) {
    if (name_matches(r->name, name)) return r;
  }
  return nullptr;
}

// The record whose slot index may be used, or nullptr: the first record of
// the name must be usable; a later one of the same name is never reached.
i4_record *find_usable(i4_record *table, const char *name, int index) {
  if (!valid_index(index)) return nullptr;
  i4_record *r = find_record(table, name);
  if (r == nullptr || !usable_type(r->type)) return nullptr;
  return r;
}

}  // namespace

extern "C" {

int fp_main_read(const char *name, int32_t *out, int index, i4_record *table) {
  i4_record *r = find_usable(table, name, index);
  if (r == nullptr) return -1;
  *out = r->value[index];
  return 0;
}

int fp_main_write(const char *name, int32_t value, int index, i4_record *table) {
  i4_record *r = find_usable(table, name, index);
  if (r == nullptr) return -1;
  r->value[index] = value;
  return 0;
}

int fp_main_compare(const char *name, int32_t value, int index, i4_record *table) {
  i4_record *r = find_usable(table, name, index);
  if (r == nullptr) return -1;
  return r->value[index] == value ? 0 : -1;
}

void change_i4_min_max(i4_record *table, const char *name, int32_t min, int32_t max) {
  i4_record *r = find_record(table, name);
  if (r == nullptr) return;
  r->min = min;
  r->max = max;
  // Lower bound first: with min > max every slot ends at max.
  for (int i = 1; i < kSlots; ++i) {
    if (r->value[i] < min) r->value[i] = min;
    if (r->value[i] > max) r->value[i] = max;
  }
}

void change_i4_type(i4_record *table, const char *name, int32_t type) {
  // Type 0 would end the table early; the others are not record kinds.
  if (!usable_type(type)) return;
  i4_record *r = find_record(table, name);
  if (r != nullptr) r->type = type;
}

void setup_i4(void) {}

}  // extern "C"

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
