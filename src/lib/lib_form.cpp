#include "ifcsim/lib_form.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// Only the C library is used here, and nothing is allocated: a CGI program
// written in C links this module without the C++ runtime.

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the byte at *p ('+' is a blank, "%XX" a byte) and moves past it.
// False for a '%' without two hex digits behind it.
bool decode_byte(const char **p, const char *end, char *out) {
  const char *s = *p;
  if (*s == '+') {
    *out = ' ';
  } else if (*s == '%') {
    if (end - s < 3) return false;
    const int hi = hex_value(s[1]);
    const int lo = hex_value(s[2]);
    if (hi < 0 || lo < 0) return false;
    *out = static_cast<char>(hi * 16 + lo);
    s += 2;
  } else {
    *out = *s;
  }
  *p = s + 1;
  return true;
}

// Whether [s, end) decodes to exactly name. A malformed escape matches no name.
bool name_matches(const char *s, const char *end, const char *name) {
  while (s < end) {
    char c;
    if (!decode_byte(&s, end, &c) || c == '\0' || c != *name) return false;
    ++name;
  }
  return *name == '\0';
}

// Decodes [s, end) into out[0..capacity), NUL-terminated. The whole value is
// always looked at, so a malformed escape is reported even behind the room.
// A decoded NUL is malformed too: the caller gets a C string, and a value cut
// short at a NUL could pass for another one.
int decode_value(const char *s, const char *end, char *out, int capacity) {
  int n = 0;
  bool fits = true;
  while (s < end) {
    char c;
    if (!decode_byte(&s, end, &c) || c == '\0') {
      out[0] = '\0';
      return IFC_EFORM;
    }
    if (n < capacity - 1) {
      out[n] = c;
    } else {
      fits = false;
    }
    ++n;
  }
  if (!fits) {
    out[0] = '\0';
    return IFC_ETOOBIG;
  }
  out[n] = '\0';
  return n;
}

// Finds the first field of form[0..length) whose name decodes to name: its
// value is [*value, *value_end), still encoded.
bool find_field(const char *form, int length, const char *name, const char **value,
                const char **value_end) {
  const char *end = form + length;
  for (const char *field = form; field < end;) {
    const char *amp = static_cast<const char *>(memchr(field, '&', end - field));
    const char *field_end = amp != nullptr ? amp : end;
    const char *eq = static_cast<const char *>(memchr(field, '=', field_end - field));
    const char *name_end = eq != nullptr ? eq : field_end;
    if (name_end > field && name_matches(field, name_end, name)) {
      *value = eq != nullptr ? eq + 1 : field_end;
      *value_end = field_end;
      return true;
    }
    field = field_end + 1;
  }
  return false;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Reads [s, end) as a decimal integer with an optional sign and blanks
// around it, decoding as it goes. Digits past the 32-bit range still make a
// number, so that it is reported as out of range rather than as no number.
int decode_int(const char *s, const char *end, int32_t min, int32_t max, int32_t *out) {
  enum { kLead, kSign, kDigits, kTrail } state = kLead;
  bool negative = false;
  long long v = 0;
  while (s < end) {
    char c;
    if (!decode_byte(&s, end, &c) || c == '\0') return IFC_EFORM;
    if (is_blank(c) && state != kSign) {
      if (state == kDigits) state = kTrail;
    } else if (state == kLead && (c == '-' || c == '+')) {
      negative = c == '-';
      state = kSign;
    } else if (state != kTrail && c >= '0' && c <= '9') {
      state = kDigits;
      if (v <= INT_MAX) v = v * 10 + (c - '0');
    } else {
      return IFC_ENOTNUMBER;
    }
  }
  if (state != kDigits && state != kTrail) return IFC_ENOTNUMBER;
  if (negative) v = -v;
  if (v < min || v > max) return IFC_ERANGE;
  *out = static_cast<int32_t>(v);
  return 0;
}

// CONTENT_LENGTH as a count: digits only, at most INT_MAX.
bool parse_length(const char *s, int *out) {
  long long v = 0;
  for (; *s != '\0'; ++s) {
    if (*s < '0' || *s > '9') return false;
    v = v * 10 + (*s - '0');
    if (v > INT_MAX) return false;
  }
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int cgi_form_value(const char *form, int length, const char *name, char *out,
                   int capacity) {
  if (form == nullptr || name == nullptr || out == nullptr || length < 0 || capacity < 1)
    return IFC_EUSAGE;
  out[0] = '\0';
  const char *value = nullptr;
  const char *value_end = nullptr;
  if (!find_field(form, length, name, &value, &value_end)) return IFC_EMISSING;
  return decode_value(value, value_end, out, capacity);
}

int cgi_form_int(const char *form, int length, const char *name, int32_t min, int32_t max,
                 int32_t *out) {
  if (form == nullptr || name == nullptr || out == nullptr || length < 0 || min > max)
    return IFC_EUSAGE;
  const char *value = nullptr;
  const char *value_end = nullptr;
  if (!find_field(form, length, name, &value, &value_end)) return IFC_EMISSING;
  return decode_int(value, value_end, min, max, out);
}

int cgi_form_ints(const char *form, int length, const cgi_int_field *fields, int count,
                  int32_t *values, int *bad) {
  if (bad != nullptr) *bad = -1;
  if (fields == nullptr || values == nullptr || count < 0) return IFC_EUSAGE;
  for (int i = 0; i < count; ++i) {
    const int rc = cgi_form_int(form, length, fields[i].name, fields[i].min,
                                fields[i].max, &values[i]);
    if (rc != 0) {
      if (bad != nullptr) *bad = i;
      return rc;
    }
  }
  return 0;
}

int cgi_form_next(const char *form, int length, int *pos, char *name, int name_capacity,
                  char *value, int value_capacity) {
  if (form == nullptr || pos == nullptr || name == nullptr || value == nullptr ||
      length < 0 || name_capacity < 1 || value_capacity < 1 || *pos < 0 || *pos > length)
    return IFC_EUSAGE;
  name[0] = '\0';
  value[0] = '\0';
  const char *end = form + length;
  const char *field = form + *pos;
  while (field < end && *field == '&') ++field;
  if (field == end) {
    *pos = length;
    return IFC_EMISSING;
  }
  const char *amp = static_cast<const char *>(memchr(field, '&', end - field));
  const char *field_end = amp != nullptr ? amp : end;
  *pos = static_cast<int>(field_end - form);
  const char *eq = static_cast<const char *>(memchr(field, '=', field_end - field));
  const char *name_end = eq != nullptr ? eq : field_end;
  const int n = decode_value(field, name_end, name, name_capacity);
  if (n < 0) return n;
  return decode_value(eq != nullptr ? eq + 1 : field_end, field_end, value,
                      value_capacity);
}

int cgi_read_body(char *body, int capacity) {
  if (body == nullptr || capacity < 1) return IFC_EUSAGE;
  body[0] = '\0';
  // Web servers leave CONTENT_LENGTH out, or empty, for a request without a body.
  const char *text = getenv("CONTENT_LENGTH");
  int length = 0;
  if (text != nullptr && !parse_length(text, &length)) return IFC_EFORM;
  if (length > capacity - 1) return IFC_ETOOBIG;
  int got = 0;
  while (got < length) {
    const ssize_t r = read(STDIN_FILENO, body + got, static_cast<size_t>(length - got));
    if (r > 0) {
      got += static_cast<int>(r);
    } else if (r == 0) {
      body[got] = '\0';
      return IFC_ECLOSED;
    } else if (errno != EINTR) {
      body[got] = '\0';
      return IFC_ESYSTEM;
    }
  }
  body[length] = '\0';
  return length;
}

int cgi_html_escape(const char *text, char *out, int capacity) {
  if (text == nullptr || out == nullptr || capacity < 1) return IFC_EUSAGE;
  int n = 0;
  for (const char *s = text; *s != '\0'; ++s) {
    const char *rep = nullptr;
    switch (*s) {
      case '&':
        rep = "&amp;";
        break;
      case '<':
        rep = "&lt;";
        break;
      case '>':
        rep = "&gt;";
        break;
      case '"':
        rep = "&quot;";
        break;
      case '\'':
        rep = "&#39;";
        break;
    }
    const int len = rep != nullptr ? static_cast<int>(strlen(rep)) : 1;
    if (len > capacity - 1 - n) {
      out[0] = '\0';
      return IFC_ETOOBIG;
    }
    if (rep != nullptr) {
      memcpy(out + n, rep, static_cast<size_t>(len));
    } else {
      out[n] = *s;
    }
    n += len;
  }
  out[n] = '\0';
  return n;
}

int html_escape(const char *text, char *out, int capacity) {
  return cgi_html_escape(text, out, capacity);
}
