#include "ifcsim/lib_cgi.h"

#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>

#include "ifcsim/lib_form.h"

// Only the C library is used here, and nothing is allocated: a CGI program
// written in C links this module without the C++ runtime.

namespace {

// Counts what goes to standard output and remembers whether any of it failed.
struct out {
  long long count = 0;
  bool failed = false;

  void bytes(const char *data, size_t n) {
    if (n == 0) return;
    if (fwrite(data, 1, n, stdout) != n) failed = true;
    count += static_cast<long long>(n);
  }
  void text(const char *s) { bytes(s, strlen(s)); }
  void blanks(long long n) {
    for (; n > 0; --n) bytes(" ", 1);
  }
  // n bytes of s, escaped in pieces by cgi_html_escape: the one place that
  // knows the entities.
  void escaped(const char *s, size_t n) {
    char piece[256 + 1];
    char html[256 * 6 + 1];
    while (n > 0) {
      size_t take = n < 256 ? n : 256;
      memcpy(piece, s, take);
      piece[take] = '\0';
      // A NUL inside ends the text, as it would for printf.
      take = strlen(piece);
      if (take == 0) return;
      const int len = cgi_html_escape(piece, html, sizeof html);
      if (len > 0) bytes(html, static_cast<size_t>(len));
      s += take;
      n -= take;
    }
  }
  int result() const {
    if (failed) return IFC_ESYSTEM;
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
  }
};

bool header_name_ok(const char *name) {
  if (*name == '\0') return false;
  for (const char *p = name; *p != '\0'; ++p) {
    const char c = *p;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
          c == '-'))
      return false;
  }
  return true;
}

bool header_value_ok(const char *value) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(value); *p != 0;
       ++p)
    if ((*p < 0x20 && *p != '\t') || *p == 0x7f) return false;
  return true;
}

// One conversion of a format: where it starts and ends, and what it takes.
struct conversion {
  const char *end;  // behind the conversion character
  char flags[8];    // each flag once
  int width = -1;   // -1: none; -2: from the arguments
  int precision = -1;
  char length[3];  // "", "hh", "h", "l", "ll", "z", "j", "t", "L"
  char conv = 0;
};

bool read_count(const char **p, int *out) {
  long long v = 0;
  for (; **p >= '0' && **p <= '9'; ++*p) {
    v = v * 10 + (**p - '0');
    if (v > INT_MAX) return false;
  }
  *out = static_cast<int>(v);
  return true;
}

// Reads the conversion behind the '%' at p; false for one cgi_printf does
// not take.
bool read_conversion(const char *p, conversion *c) {
  ++p;
  int nflags = 0;
  for (; *p != '\0' && strchr("-+ #0", *p) != nullptr; ++p)
    if (memchr(c->flags, *p, static_cast<size_t>(nflags)) == nullptr)
      c->flags[nflags++] = *p;
  c->flags[nflags] = '\0';
  if (*p == '*') {
    c->width = -2;
    ++p;
  } else if (*p >= '0' && *p <= '9' && !read_count(&p, &c->width)) {
    return false;
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      c->precision = -2;
      ++p;
    } else if (!read_count(&p, &c->precision)) {
      return false;
    }
  }
  int nlen = 0;
  if ((p[0] == 'h' && p[1] == 'h') || (p[0] == 'l' && p[1] == 'l')) {
    c->length[nlen++] = *p++;
    c->length[nlen++] = *p++;
  } else if (*p != '\0' && strchr("hlzjtL", *p) != nullptr) {
    c->length[nlen++] = *p++;
  }
  c->length[nlen] = '\0';
  c->conv = *p;
  c->end = p + 1;
  const bool plain = nlen == 0;
  switch (c->conv) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      return strcmp(c->length, "L") != 0;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return plain || strcmp(c->length, "L") == 0 || strcmp(c->length, "l") == 0;
    case 'c':
    case 's':
    case 'p':
    case '%':
      return plain;
    default:
      return false;
  }
}

// Writes one number conversion, rebuilt with the widths the arguments gave.
template <typename T>
void number(out *o, const conversion &c, int width, int precision, T value) {
  char format[48];
  int n = snprintf(format, sizeof format, "%%%s", c.flags);
  if (width >= 0) n += snprintf(format + n, sizeof format - n, "%d", width);
  if (precision >= 0) n += snprintf(format + n, sizeof format - n, ".%d", precision);
  snprintf(format + n, sizeof format - n, "%s%c", c.length, c.conv);
  const int w = fprintf(stdout, format, value);
  if (w < 0)
    o->failed = true;
  else
    o->count += w;
}

void integer(out *o, const conversion &c, int width, int precision, va_list *args) {
  const bool is_signed = c.conv == 'd' || c.conv == 'i';
  const char *l = c.length;
  if (strcmp(l, "ll") == 0) {
    if (is_signed) return number(o, c, width, precision, va_arg(*args, long long));
    return number(o, c, width, precision, va_arg(*args, unsigned long long));
  }
  if (strcmp(l, "l") == 0) {
    if (is_signed) return number(o, c, width, precision, va_arg(*args, long));
    return number(o, c, width, precision, va_arg(*args, unsigned long));
  }
  if (strcmp(l, "z") == 0) {
    if (is_signed) return number(o, c, width, precision, va_arg(*args, ssize_t));
    return number(o, c, width, precision, va_arg(*args, size_t));
  }
  if (strcmp(l, "j") == 0) {
    if (is_signed) return number(o, c, width, precision, va_arg(*args, intmax_t));
    return number(o, c, width, precision, va_arg(*args, uintmax_t));
  }
  if (strcmp(l, "t") == 0)
    return number(o, c, width, precision, va_arg(*args, ptrdiff_t));
  // hh, h and none: promoted to int; the length in the format narrows it.
  if (is_signed) return number(o, c, width, precision, va_arg(*args, int));
  number(o, c, width, precision, va_arg(*args, unsigned int));
}

// %s and %c: the bytes escaped, padded with blanks to the width.
void text(out *o, const conversion &c, int width, const char *s, size_t n) {
  const bool left = strchr(c.flags, '-') != nullptr;
  const long long pad =
      width > static_cast<long long>(n) ? width - static_cast<long long>(n) : 0;
  if (!left) o->blanks(pad);
  o->escaped(s, n);
  if (left) o->blanks(pad);
}

}  // namespace

const char *cgi_reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 409:
      return "Conflict";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "Error";
  }
}

int cgi_status(int status) {
  if (status < 100 || status > 599) return IFC_EUSAGE;
  return fprintf(stdout, "Status: %d %s\r\n", status, cgi_reason(status)) < 0
             ? IFC_ESYSTEM
             : 0;
}

int cgi_header(const char *name, const char *value) {
  if (name == nullptr || value == nullptr || !header_name_ok(name) ||
      !header_value_ok(value))
    return IFC_EUSAGE;
  return fprintf(stdout, "%s: %s\r\n", name, value) < 0 ? IFC_ESYSTEM : 0;
}

int cgi_end_headers(void) { return fputs("\r\n", stdout) < 0 ? IFC_ESYSTEM : 0; }

int cgi_see_other(const char *location) {
  if (location == nullptr || !header_value_ok(location)) return IFC_EUSAGE;
  int rc = cgi_status(303);
  if (rc == 0) rc = cgi_header("Location", location);
  if (rc == 0) rc = cgi_header("Content-Type", "text/html; charset=utf-8");
  if (rc == 0) rc = cgi_end_headers();
  if (rc == 0)
    rc = cgi_printf("<!DOCTYPE html>\n<p><a href=\"%s\">Continue</a></p>\n", location);
  if (fflush(stdout) != 0) return IFC_ESYSTEM;
  return rc < 0 ? rc : 0;
}

int cgi_vprintf(const char *format, va_list args) {
  if (format == nullptr) return IFC_EUSAGE;
  // Every conversion is looked at before anything is written.
  for (const char *p = strchr(format, '%'); p != nullptr;) {
    conversion c;
    if (!read_conversion(p, &c)) return IFC_EUSAGE;
    p = strchr(c.end, '%');
  }
  va_list ap;
  va_copy(ap, args);
  out o;
  const char *p = format;
  for (const char *pct; (pct = strchr(p, '%')) != nullptr;) {
    o.bytes(p, static_cast<size_t>(pct - p));
    conversion c;
    read_conversion(pct, &c);
    p = c.end;
    int width = c.width == -2 ? va_arg(ap, int) : c.width;
    const int precision = c.precision == -2 ? va_arg(ap, int) : c.precision;
    if (width < -1 && c.width == -2) {  // a negative width from the arguments
      if (strchr(c.flags, '-') == nullptr) strcat(c.flags, "-");
      width = width == INT_MIN ? INT_MAX : -width;
    }
    switch (c.conv) {
      case '%':
        o.bytes("%", 1);
        break;
      case 'c': {
        const char ch = static_cast<char>(va_arg(ap, int));
        text(&o, c, width, &ch, 1);
        break;
      }
      case 's': {
        const char *s = va_arg(ap, const char *);
        if (s == nullptr) s = "(null)";
        const size_t n =
            precision >= 0 ? strnlen(s, static_cast<size_t>(precision)) : strlen(s);
        text(&o, c, width, s, n);
        break;
      }
      case 'p':
        number(&o, c, width, precision, va_arg(ap, void *));
        break;
      case 'd':
      case 'i':
      case 'o':
      case 'u':
      case 'x':
      case 'X':
        integer(&o, c, width, precision, &ap);
        break;
      default:
        if (strcmp(c.length, "L") == 0)
          number(&o, c, width, precision, va_arg(ap, long double));
        else
          number(&o, c, width, precision, va_arg(ap, double));
        break;
    }
  }
  va_end(ap);
  o.text(p);
  return o.result();
}

int cgi_printf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int rc = cgi_vprintf(format, args);
  va_end(args);
  return rc;
}

int cgi_page_begin(int status, const char *title) {
  if (title == nullptr) return IFC_EUSAGE;
  int rc = cgi_status(status);
  if (rc == 0) rc = cgi_header("Content-Type", "text/html; charset=utf-8");
  if (rc == 0) rc = cgi_header("Cache-Control", "no-store");
  if (rc == 0) rc = cgi_end_headers();
  if (rc == 0)
    rc = cgi_printf(
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%s</title></head>\n"
        "<body>\n",
        title);
  return rc < 0 ? rc : 0;
}

int cgi_page_end(void) {
  const bool ok = fputs("</body></html>\n", stdout) >= 0;
  return fflush(stdout) == 0 && ok ? 0 : IFC_ESYSTEM;
}

int cgi_error_page(int status, int code, const char *what) {
  int rc = cgi_page_begin(status, cgi_reason(status));
  if (rc == 0)
    rc = cgi_printf("<h1>%d %s</h1>\n<p id=\"error\" data-code=\"%d\">%s%s%s</p>\n",
                    status, cgi_reason(status), code, what != nullptr ? what : "",
                    what != nullptr ? ": " : "", ifc_strerror(code));
  if (rc >= 0) rc = cgi_page_end();
  return rc;
}
