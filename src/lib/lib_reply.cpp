#include "ifcsim/lib_reply.h"

#include <string.h>

// Readers that accept exactly what the server writes and nothing else: a
// reply that differs in any byte is reported, never half read. Each works on
// [p, end) and never looks at *end.

namespace {

// A signed 32-bit decimal number: an optional '-' and at least one digit.
bool read_int32(const char **p, const char *end, int32_t *out) {
  const char *s = *p;
  const bool negative = s < end && *s == '-';
  if (negative) ++s;
  const char *digits = s;
  long long v = 0;
  const long long limit = negative ? 2147483648LL : 2147483647LL;
  for (; s < end && *s >= '0' && *s <= '9'; ++s) {
    v = v * 10 + (*s - '0');
    if (v > limit) return false;
  }
  if (s == digits) return false;
  *out = static_cast<int32_t>(negative ? -v : v);
  *p = s;
  return true;
}

// A number written with "%.2f": digits, a point and two decimals. Built as
// one integer divided once by 100, which rounds to the double nearest the
// text: up to 13 digits before the point, all 15 fit a double exactly. Not
// strtod: a CGI program's locale could make the point a comma.
bool read_two_decimals(const char **p, const char *end, double *out) {
  const char *s = *p;
  const bool negative = s < end && *s == '-';
  if (negative) ++s;
  const char *digits = s;
  long long v = 0;
  for (; s < end && *s >= '0' && *s <= '9'; ++s) {
    if (s - digits >= 13) return false;
    v = v * 10 + (*s - '0');
  }
  if (s == digits || end - s < 3 || s[0] != '.') return false;
  for (int i = 1; i <= 2; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  const double value = static_cast<double>(v) / 100.0;
  *out = negative ? -value : value;
  *p = s + 3;
  return true;
}

bool read_char(const char **p, const char *end, char c) {
  if (*p >= end || **p != c) return false;
  ++*p;
  return true;
}

// Bytes of a key or item name: printable, no blank, and for a key no colon.
bool word_byte(char c, bool colon_ends) {
  return static_cast<unsigned char>(c) > ' ' && !(colon_ends && c == ':');
}

// A word of 1 to size - 1 bytes, copied NUL-terminated into out[size].
bool read_word(const char **p, const char *end, bool colon_ends, char *out, int size) {
  const char *s = *p;
  while (s < end && word_byte(*s, colon_ends)) ++s;
  const long n = s - *p;
  if (n == 0 || n >= size) return false;
  memcpy(out, *p, static_cast<size_t>(n));
  out[n] = '\0';
  *p = s;
  return true;
}

}  // namespace

int ifc_parse_pairs(const char *reply, int length, ifc_pair *pairs, int capacity) {
  if (reply == nullptr || length < 0 || capacity < 0 ||
      (pairs == nullptr && capacity > 0))
    return IFC_EUSAGE;
  const char *p = reply;
  const char *end = reply + length;
  int count = 0;
  while (p < end) {
    ifc_pair pair;
    if (!read_word(&p, end, true, pair.key, IFC_KEY_SIZE) || !read_char(&p, end, ':') ||
        !read_int32(&p, end, &pair.value) || !read_char(&p, end, ' '))
      return IFC_EFORM;
    if (count < capacity) pairs[count] = pair;
    ++count;
  }
  if (count == 0) return IFC_EFORM;
  return count > capacity ? IFC_ETOOBIG : count;
}

int ifc_pair_value(const ifc_pair *pairs, int count, const char *key, int32_t *value) {
  if ((pairs == nullptr && count > 0) || key == nullptr || value == nullptr)
    return IFC_EUSAGE;
  for (int i = 0; i < count; ++i) {
    if (strcmp(pairs[i].key, key) == 0) {
      *value = pairs[i].value;
      return 0;
    }
  }
  return IFC_EMISSING;
}

int ifc_parse_histogram(const char *reply, int length, ifc_histogram *h) {
  if (reply == nullptr || length < 0 || h == nullptr) return IFC_EUSAGE;
  const char *p = reply;
  const char *end = reply + length;
  bool ok = read_int32(&p, end, &h->n1) && read_char(&p, end, ' ') &&
            read_int32(&p, end, &h->n2) && read_char(&p, end, ' ') &&
            read_two_decimals(&p, end, &h->decimal) && read_char(&p, end, ' ') &&
            read_int32(&p, end, &h->n3) && read_char(&p, end, ' ') &&
            read_int32(&p, end, &h->n4);
  for (int i = 0; ok && i < IFC_HIST_BINS; ++i)
    ok = read_char(&p, end, ' ') && read_int32(&p, end, &h->bins[i]);
  return ok && p == end ? 0 : IFC_EFORM;
}

int ifc_parse_hist_select(const char *reply, int length, ifc_hist_select *s) {
  if (reply == nullptr || length < 0 || s == nullptr) return IFC_EUSAGE;
  const char *p = reply;
  const char *end = reply + length;
  const bool ok = read_int32(&p, end, &s->left_colour) && read_char(&p, end, ' ') &&
                  read_word(&p, end, false, s->left_item, IFC_ITEM_SIZE) &&
                  read_char(&p, end, ' ') && read_int32(&p, end, &s->right_colour) &&
                  read_char(&p, end, ' ') &&
                  read_word(&p, end, false, s->right_item, IFC_ITEM_SIZE) && p == end;
  return ok ? 0 : IFC_EFORM;
}
