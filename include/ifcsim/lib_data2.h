/* Parameter records: the 80-byte named record and the operations on a table
 * of them. Part of the support library: this header compiles as C and C++. */
#ifndef IFCSIM_LIB_DATA2_H
#define IFCSIM_LIB_DATA2_H

#include <stdint.h>

#include "ifcsim_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One record; a table ends with a record of type 0. The layout is the set
 * file's: 80 bytes, little-endian integers. */
typedef struct i4_record {
  int32_t type;     /* 1..5 usable, 0 ends the table */
  char name[28];    /* NUL-terminated */
  int32_t value[7]; /* slot 0..6 */
  int32_t min;
  int32_t max;
  char group[12]; /* NUL-terminated */
} i4_record;

/* A table is used in place as its file image: a compiler that lays the record
 * out otherwise cannot build a program that shares set files with the server. */
#if defined(__cplusplus)
static_assert(sizeof(i4_record) == 80, "i4_record must be the 80-byte file record");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(i4_record) == 80, "i4_record must be the 80-byte file record");
#endif

/* Record names are compared byte for byte within the 28-byte field, never
 * past it; a field without a NUL is taken as a 28-character name. A table
 * ends at its first record of type 0. The first record carrying a name is the
 * only one reached; "usable" means its type is 1..5. index must be 0..6; any
 * other index is refused like a missing record (-1, nothing touched). */

/* Reads value slot index of the usable record called name into *out.
 * Returns 0, or -1 (and *out untouched) when there is no such record. */
int fp_main_read(const char *name, int32_t *out, int index, i4_record *table);

/* Stores value into slot index of the usable record called name, unclamped.
 * Returns 0, or -1 when there is no such record. */
int fp_main_write(const char *name, int32_t value, int index, i4_record *table);

/* Returns 0 when slot index of the record called name holds value, else -1. */
int fp_main_compare(const char *name, int32_t value, int index, i4_record *table);

/* Sets the record's range and clamps its slots 1..6 into it (min first). */
void change_i4_min_max(i4_record *table, const char *name, int32_t min, int32_t max);

/* Sets the record's type when type is 1..5; otherwise does nothing. */
void change_i4_type(i4_record *table, const char *name, int32_t type);

/* The library's set-up entry point; there is nothing to set up. */
void setup_i4(void);

/* ---- Buffered print and log --------------------------------------------
 * A printf substitute for diagnostics that prints at once or collects its
 * output in a static buffer, released later in one piece. */

/* Local time, one 16-bit field each, filled by what_time. */
typedef struct time_fields {
  int16_t second;
  int16_t minute;
  int16_t hour;
  int16_t day;     /* of the month, 1..31 */
  int16_t month;   /* 1..12 */
  int16_t year;    /* in full, e.g. 2026 */
  int16_t weekday; /* 0 Sunday .. 6 Saturday */
} time_fields;

/* Starts collecting MorPrintf output; anything collected and not yet
 * released is dropped. */
void mprint_push(void);

/* Prints like printf, or collects while mprint_push is in force. Past 98000
 * collected bytes the collection goes to standard output and collecting goes
 * on. A message that does not fit the room left releases what was collected
 * first; one larger than the whole buffer goes straight to standard output. */
void MorPrintf(const char *format, ...) IFCSIM_PRINTF_LIKE(1, 2);

/* Stops collecting and writes the collected text, if any, to standard
 * output. */
void mprint_pull(void);

/* mprint_pull, then appends the text released by it and two line ends to
 * "mprint.log" (created when missing; silently skipped when it cannot be
 * opened). */
void mprint_pull_log(void);

/* Fills *t from the current local time. */
void what_time(time_fields *t);

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_LIB_DATA2_H */
