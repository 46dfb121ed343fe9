/* Writing a CGI program's response: the status line and headers through
 * functions, never by hand; a real 303 See Other; HTML whose values are
 * escaped as they are written; the frame of a page and the error page of a
 * library code. Part of the support library: this header compiles as C and
 * C++. Everything goes to standard output through stdio; no function
 * allocates or keeps state. Results are 0 (or a count) or a code of
 * ifcsim_errors.h: IFC_ESYSTEM when standard output fails. */
#ifndef IFCSIM_LIB_CGI_H
#define IFCSIM_LIB_CGI_H

#include <stdarg.h>

#include "ifcsim_common.h"
#include "ifcsim_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The reason phrase of an HTTP status ("See Other"), "Error" for a status
 * it does not know. */
const char *cgi_reason(int status);

/* "Status: 303 See Other\r\n". IFC_EUSAGE for a status outside 100..599. */
int cgi_status(int status);

/* "name: value\r\n". IFC_EUSAGE (nothing written) for a null pointer, a
 * name that is empty or holds other than letters, digits and '-', or a
 * value with a control byte other than a tab: a line end would split the
 * response. */
int cgi_header(const char *name, const char *value);

/* The empty line that ends the headers. */
int cgi_end_headers(void);

/* A whole 303 See Other response that sends the browser on to location
 * (best relative to the page, such as "targets.cgi?saved=1"), so that it
 * loads the page again with a GET; the body links there too. IFC_EUSAGE
 * (nothing written) as cgi_header refuses the location. */
int cgi_see_other(const char *location);

/* printf to standard output, with every %s and %c argument written
 * HTML-escaped (& < > " ' as &amp; &lt; &gt; &quot; &#39;; a null %s as
 * "(null)"); the format itself and the other conversions as printf writes
 * them. Returns the number of bytes written; IFC_EUSAGE (nothing written)
 * for a null format, %n, a wide %lc or %ls, or a conversion printf does not
 * know. */
int cgi_printf(const char *format, ...) IFCSIM_PRINTF_LIKE(1, 2);
int cgi_vprintf(const char *format, va_list args) IFCSIM_PRINTF_LIKE(1, 0);

/* The head of an HTML page: the status line, "Content-Type: text/html;
 * charset=utf-8" and "Cache-Control: no-store" (a page shows the
 * controller as it is now), the end of the headers, then "<!DOCTYPE
 * html>", the head with title (escaped) and "<body>". IFC_EUSAGE as
 * cgi_status refuses the status, or for a null title. */
int cgi_page_begin(int status, const char *title);

/* "</body></html>" and a line end; flushes standard output. */
int cgi_page_end(void);

/* A whole error page: cgi_page_begin with status and its reason phrase,
 * a heading, and a paragraph <p id="error" data-code="CODE"> that says
 * "what: " (escaped; left out when what is null) and ifc_strerror(code). */
int cgi_error_page(int status, int code, const char *what);

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_LIB_CGI_H */
