#include "ifcsim/lib_fp.h"

#include <string.h>

/* ---- Key:value line splitter ---- */

l2m2_row l2m2[L2M2_ROWS];

/* Fills a cleared row from the len bytes at item. An item that does not fit
 * is not cut down: a shortened key or value could read as another valid
 * setting, so the row gets a key that matches nothing instead. */
static void fill_row(l2m2_row *row, const char *item, size_t len) {
  const char *colon = (const char *)memchr(item, ':', len);
  size_t key_len = colon ? (size_t)(colon - item) : 0;
  size_t value_len = colon ? len - key_len - 1 : 0;
  if (colon == NULL || key_len >= sizeof row->key || value_len >= sizeof row->value) {
    memcpy(row->key, L2M2_BAD_KEY, sizeof L2M2_BAD_KEY);
    return;
  }
  memcpy(row->key, item, key_len);
  memcpy(row->value, colon + 1, value_len);
}

void line2matrix2(char *text) {
  memset(l2m2, 0, sizeof l2m2);
  char *p = text;
  for (size_t row = 0; row < L2M2_ROWS; ++row) {
    while (*p == ' ') ++p;
    if (*p == '\0') return;
    char *item = p;
    while (*p != ' ' && *p != '\0') ++p;
    fill_row(&l2m2[row], item, (size_t)(p - item));
    if (*p == ' ') *p++ = '\0';
  }
}

// ---- Page output helpers ---------------------------------------------------
// Only the C library is used here: CGI programs written in C link this module
// without the C++ runtime.

#include <stddef.h>
#include <stdio.h>

static_assert(sizeof(rdoyn_attr) == 4 * sizeof(void *));
static_assert(offsetof(rdoyn_attr, second_value) == 2);
static_assert(offsetof(rdoyn_attr, first_label) == sizeof(void *));
static_assert(offsetof(rdoyn_attr, second_label) == 2 * sizeof(void *));
static_assert(offsetof(rdoyn_attr, flags) == 3 * sizeof(void *));
static_assert(sizeof(tbl_opt) == 24 && offsetof(tbl_opt, font_size) == 20);
static_assert(sizeof(js_opt) == 24);
static_assert(offsetof(mtbl_attr, bgcolor) == 4);
static_assert(offsetof(mtbl_attr, fgcolor) == 12);
static_assert(offsetof(mtbl_attr, valign) == 20);
static_assert(offsetof(mtbl_attr, head_align) == 30);
static_assert(offsetof(mtbl_attr, cell_align) == 40);
static_assert(offsetof(mtbl_attr, border) == 52);
static_assert(offsetof(mtbl_attr, cellspacing) == 56);
static_assert(offsetof(mtbl_attr, cellpadding) == 60);
static_assert(offsetof(mtbl_attr, show_error) == 64);
static_assert(offsetof(mtbl_attr, refresh) == 68);
static_assert(offsetof(mtbl_attr, refresh_item) == 70);
static_assert(offsetof(mtbl_attr, reserved) == 72);
static_assert(sizeof(mtbl_attr) == 108);

// 1 while the text/plain header is still to be written.
static int32_t is_show_debinfo_first = 0;

static const char kPlainHeader[] = "content-type: text/plain\r\n\r\n";

// Writes url inside the script string of the onload attribute. Every byte
// that could end the string, the attribute or the element, or that is a
// control character, goes out as %XX; the browser's URL parser reads that
// back as the same byte, and an ordinary URL passes through unchanged.
static void put_url_escaped(const char *url) {
  static const char kHex[] = "0123456789ABCDEF";
  if (url == nullptr) return;
  const char *run = url;
  for (const char *p = url; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7f && c != '\'' && c != '"' && c != '\\' && c != '<' &&
        c != '>') {
      continue;
    }
    fwrite(run, 1, static_cast<size_t>(p - run), stdout);
    char esc[3] = {'%', kHex[c >> 4], kHex[c & 0xf]};
    fwrite(esc, 1, sizeof esc, stdout);
    run = p + 1;
  }
  fputs(run, stdout);
}

static void redirect_page(const char *target, const char *url) {
  fputs("content-type: text/html\r\n\r\n<html>\n<body onload='javascript:", stdout);
  fputs(target, stdout);
  fputs(".href=\"", stdout);
  put_url_escaped(url);
  fputs("\";'>\n</body></html>", stdout);
}

static int show_plain(const char *format, va_list args) {
  if (is_show_debinfo_first == 1) {
    fputs(kPlainHeader, stdout);
    is_show_debinfo_first = 0;
  }
  return vprintf(format, args);
}

// Every table record shares its colours, alignment and border; they differ
// in width, error display and refresh. constexpr keeps them constant data.
static constexpr mtbl_attr make_mtbl_attr(int32_t width, int32_t show_error,
                                          int16_t refresh, int16_t refresh_item) {
  return mtbl_attr{.width = width,
                   .bgcolor = "#FFE4C4",
                   .fgcolor = "#000000",
                   .valign = "middle",
                   .head_align = "center",
                   .cell_align = "center",
                   .border = 1,
                   .cellspacing = 0,
                   .cellpadding = 0,
                   .show_error = show_error,
                   .refresh = refresh,
                   .refresh_item = refresh_item,
                   .reserved = {0, 0, 0, 0, 0, 0, 0, 0, 0}};
}

extern "C" {

void cgi_redirect(const char *url) { redirect_page("location", url); }

void cgi_parent_redirect(const char *url) { redirect_page("parent.location", url); }

int SorPrintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vprintf(format, args);
  va_end(args);
  return n;
}

int vSorPrintf(const char *format, va_list args) { return vprintf(format, args); }

void sprint_push(void) {}

void sprint_pull(void) {}

void show_debinfo_init(void) { is_show_debinfo_first = 1; }

int show_debinfo(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = show_plain(format, args);
  va_end(args);
  return n;
}

int show_text(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = show_plain(format, args);
  va_end(args);
  return n;
}

const rdoyn_attr rdoyn_attr_y_n = {1, 0, nullptr, nullptr, 0};
const rdoyn_attr rdoyn_attr_i_c = {0, 1, "inch", "cm", 0};
const rdoyn_attr rdoyn_attr_a_s = {0, 1, "ALL", "SET", 0};

const tbl_opt tbl_opt_default = {{0, 0, 0, 0, 0}, 12};

const js_opt js_opt_clr = {{0, 0, 0, 0, 0, 0}};
const js_opt js_opt_default_1 = {{0, 1, 0, 0, 0, 0}};

const mtbl_attr mtbl_attr_default_1 = make_mtbl_attr(52, 1, 0, 0);
const mtbl_attr mtbl_attr_default_2 = make_mtbl_attr(90, 1, 0, 0);
const mtbl_attr mtbl_attr_default_img = make_mtbl_attr(70, 1, 0, 0);
const mtbl_attr mtbl_attr_no_perror_1 = make_mtbl_attr(52, 0, 0, 0);
const mtbl_attr mtbl_attr_no_perror_2 = make_mtbl_attr(90, 0, 0, 0);
const mtbl_attr mtbl_attr_no_perror_img = make_mtbl_attr(70, 0, 0, 0);
const mtbl_attr mtbl_attr_refresh1 = make_mtbl_attr(70, 0, 1, 1);
const mtbl_attr mtbl_attr_refresh2 = make_mtbl_attr(70, 0, 1, 2);
const mtbl_attr mtbl_attr_refresh3 = make_mtbl_attr(70, 0, 1, 3);
const mtbl_attr mtbl_attr_refresh2_1 = make_mtbl_attr(70, 0, 2, 1);
const mtbl_attr mtbl_attr_refresh2_2 = make_mtbl_attr(70, 0, 2, 2);
const mtbl_attr mtbl_attr_refresh2_3 = make_mtbl_attr(70, 0, 2, 3);

}  // extern "C"
