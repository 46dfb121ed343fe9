/* Page output helpers for CGI programs and the key:value line splitter.
 * Part of the support library: this header compiles as C and C++. */
#ifndef IFCSIM_LIB_FP_H
#define IFCSIM_LIB_FP_H

#include <stdint.h>

#include "ifcsim_common.h"
#include "ifcsim_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One item of a split line: key and value, each NUL-terminated. The
 * on/off commands take their limits from these. */
typedef struct l2m2_row {
  char key[IFC_ON_OFF_NAME_MAX + 1];
  char value[IFC_ON_OFF_VALUE_MAX + 1];
} l2m2_row;

#define L2M2_ROWS IFC_ON_OFF_PIECES_MAX

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

/* ---- Page output helpers ------------------------------------------------
 * Everything goes to standard output: for a CGI program, the response. */

#include <stdarg.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes a text/html page whose onload sends the browser to url. The bytes
 * ' " \ < > and control characters of url are written as %XX, so the url
 * cannot leave the script string or the attribute; all others unchanged. */
void cgi_redirect(const char *url);

/* As cgi_redirect, but moves the parent frame (parent.location.href). */
void cgi_parent_redirect(const char *url);

/* printf and vprintf to standard output; return what those return. */
int SorPrintf(const char *format, ...) IFCSIM_PRINTF_LIKE(1, 2);
int vSorPrintf(const char *format, va_list args) IFCSIM_PRINTF_LIKE(1, 0);

/* Kept for callers that bracket their output with them; they do nothing. */
void sprint_push(void);
void sprint_pull(void);

/* Arms the text/plain header: the next show_debinfo or show_text writes it
 * first. Without this call no header is written. */
void show_debinfo_init(void);

/* printf to standard output, preceded by the text/plain header when armed
 * (once per show_debinfo_init, shared by both). Return what printf returns
 * for the text. */
int show_debinfo(const char *format, ...) IFCSIM_PRINTF_LIKE(1, 2);
int show_text(const char *format, ...) IFCSIM_PRINTF_LIKE(1, 2);

/* Constant attribute records for building pages. Nothing in the library
 * reads them; their meaning is the page code's. */

/* A yes/no style pair of choices: the two values and their labels (null for
 * the default labels). */
typedef struct rdoyn_attr {
  int16_t first_value;
  int16_t second_value;
  const char *first_label;
  const char *second_label;
  int32_t flags;
} rdoyn_attr;

extern const rdoyn_attr rdoyn_attr_y_n; /* 1, 0, no labels */
extern const rdoyn_attr rdoyn_attr_i_c; /* 0, 1, "inch", "cm" */
extern const rdoyn_attr rdoyn_attr_a_s; /* 0, 1, "ALL", "SET" */

/* Table options. */
typedef struct tbl_opt {
  int32_t opt[5];
  int32_t font_size;
} tbl_opt;

extern const tbl_opt tbl_opt_default; /* 0, 0, 0, 0, 0, 12 */

/* Script options. */
typedef struct js_opt {
  int32_t opt[6];
} js_opt;

extern const js_opt js_opt_clr;       /* all 0 */
extern const js_opt js_opt_default_1; /* 0, 1, 0, 0, 0, 0 */

/* Table look; text fields are NUL-terminated and NUL-filled. */
typedef struct mtbl_attr {
  int32_t width;        /* 52, 90, or 70 for image tables */
  char bgcolor[8];      /* "#FFE4C4" */
  char fgcolor[8];      /* "#000000" */
  char valign[10];      /* "middle" */
  char head_align[10];  /* "center" */
  char cell_align[10];  /* "center" */
  int32_t border;       /* 1 */
  int32_t cellspacing;  /* 0 */
  int32_t cellpadding;  /* 0 */
  int32_t show_error;   /* 1 in the default records, 0 in the others */
  int16_t refresh;      /* 1 or 2 in the refresh records, else 0 */
  int16_t refresh_item; /* 1..3 in the refresh records, else 0 */
  int32_t reserved[9];
} mtbl_attr;

extern const mtbl_attr mtbl_attr_default_1;
extern const mtbl_attr mtbl_attr_default_2;
extern const mtbl_attr mtbl_attr_default_img;
extern const mtbl_attr mtbl_attr_no_perror_1;
extern const mtbl_attr mtbl_attr_no_perror_2;
extern const mtbl_attr mtbl_attr_no_perror_img;
extern const mtbl_attr mtbl_attr_refresh1;
extern const mtbl_attr mtbl_attr_refresh2;
extern const mtbl_attr mtbl_attr_refresh3;
extern const mtbl_attr mtbl_attr_refresh2_1;
extern const mtbl_attr mtbl_attr_refresh2_2;
extern const mtbl_attr mtbl_attr_refresh2_3;

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_LIB_FP_H */
