/* Page output helpers for CGI programs and the key:value line splitter.
 * Part of the support library: this header compiles as C and C++. */
#ifndef IFCSIM_LIB_FP_HPP
#define IFCSIM_LIB_FP_HPP

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One item of a split line: key and value, each NUL-terminated. */
typedef struct l2m2_row {
  char key[30];
  char value[50];
} l2m2_row;

#define L2M2_ROWS 500

/* The matrix that line2matrix2 clears and fills; rows behind the last item
 * are all zero. */
extern l2m2_row l2m2[L2M2_ROWS];

/* Key given to the row of an item that breaks the limits: no ':', a key of
 * more than 29 or a value of more than 49 characters. A key never holds a
 * ':', so no reader matches it; the row's value is empty. */
#define L2M2_BAD_KEY ":"

/* Splits text (changed in place: each item's ending space becomes a NUL) at
 * runs of spaces into key:value items, row k of l2m2 for item k. Items beyond
 * the 500th are dropped. */
void line2matrix2(char *text);

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_LIB_FP_HPP */
