/* Readers of the server's reply texts, so that a page does not parse them by
 * hand. Part of the support library: this header compiles as C and C++. None
 * reads past reply[length) (reply needs no terminator) or writes past the
 * caller's storage, and none keeps state. Codes as in ifcsim_errors.h. */
#ifndef IFCSIM_LIB_REPLY_H
#define IFCSIM_LIB_REPLY_H

#include <stdint.h>

#include "ifcsim_errors.h"
#include "ifcsim_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One "key:number " piece of a reply. */
#define IFC_KEY_SIZE 32
typedef struct ifc_pair {
  char key[IFC_KEY_SIZE]; /* NUL-terminated */
  int32_t value;
} ifc_pair;

/* Splits a reply made of "key:number " pieces (status, selection, targets,
 * measured values, on/off points) into pairs[0..capacity). Returns the number
 * of pairs; IFC_EFORM when the reply is not of that form (a piece without a
 * key or colon, a key of IFC_KEY_SIZE characters or more, a value that is no
 * signed 32-bit decimal number, pieces not each ended by one blank, or no
 * piece at all); IFC_ETOOBIG when it holds more than capacity pieces (the
 * first capacity of them are then in pairs); IFC_EUSAGE for a null pointer
 * or a negative length or capacity. */
int ifc_parse_pairs(const char *reply, int length, ifc_pair *pairs, int capacity);

/* The value of the first of pairs[0..count) called key into *value. Returns
 * 0, or IFC_EMISSING (and *value untouched), or IFC_EUSAGE for a null
 * pointer. */
int ifc_pair_value(const ifc_pair *pairs, int count, const char *key, int32_t *value);

/* A histogram reply: five summary numbers, then one count per bin. */
typedef struct ifc_histogram {
  int32_t n1, n2; /* the two integers before the decimal */
  double decimal; /* the number written with two decimals */
  int32_t n3, n4; /* the two integers after it */
  int32_t bins[IFC_HIST_BINS];
} ifc_histogram;

/* Reads "%d %d %.2f %d %d" and " %d" for each of the 46 bins, blanks single
 * and the decimal with exactly two places, as the server writes them.
 * Returns 0, or IFC_EFORM (and *h unspecified) for anything else, or
 * IFC_EUSAGE for a null pointer or a negative length. */
int ifc_parse_histogram(const char *reply, int length, ifc_histogram *h);

/* The histogram selection: colour number and item name of each side. */
#define IFC_ITEM_SIZE 16
typedef struct ifc_hist_select {
  int32_t left_colour;
  char left_item[IFC_ITEM_SIZE]; /* "to" .. "tw_tbw", or "?" */
  int32_t right_colour;
  char right_item[IFC_ITEM_SIZE];
} ifc_hist_select;

/* Reads "%d %s %d %s", blanks single. Returns 0, or IFC_EFORM for anything
 * else (an item name of IFC_ITEM_SIZE characters or more included), or
 * IFC_EUSAGE for a null pointer or a negative length. */
int ifc_parse_hist_select(const char *reply, int length, ifc_hist_select *s);

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_LIB_REPLY_H */
