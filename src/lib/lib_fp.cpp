#include "lib/lib_fp.hpp"

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
