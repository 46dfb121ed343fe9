/* Page input and HTML escaping for CGI programs. Part of the support
 * library: this header compiles as C and C++. No function allocates or keeps
 * state. Codes as in ifcsim_errors.h. */
#ifndef IFCSIM_LIB_FORM_H
#define IFCSIM_LIB_FORM_H

#include <stdint.h>

#include "ifcsim_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The value of field name in form[0..length), a query string or an
 * application/x-www-form-urlencoded body ("a=1&b=x+y%21"), percent- and
 * plus-decoded into out[0..capacity), NUL-terminated. Field names are
 * compared after decoding; the first field of that name wins, and a field
 * without '=' has an empty value. Returns the value's length, IFC_EMISSING
 * when no field has that name, IFC_ETOOBIG when the value does not fit,
 * IFC_EFORM for a malformed escape in that field or one that decodes to a
 * NUL (the value could not be a C string), IFC_EUSAGE for a null pointer, a
 * negative length or a capacity below 1. On failure out holds "". */
int cgi_form_value(const char *form, int length, const char *name, char *out,
                   int capacity);

/* The value of field name in form[0..length), decoded as cgi_form_value
 * decodes, as a decimal integer from min to max into *out: blanks, an
 * optional sign, digits, blanks. Returns 0; IFC_EMISSING when no field has
 * that name, IFC_ENOTNUMBER when its value is empty or no such number,
 * IFC_ERANGE when it is a number outside min..max (also one beyond 32
 * bits), IFC_EFORM for a malformed escape, IFC_EUSAGE for a null pointer, a
 * negative length or min above max. *out is changed only on success. */
int cgi_form_int(const char *form, int length, const char *name, int32_t min, int32_t max,
                 int32_t *out);

/* A number field of a form, declared once as data. */
typedef struct cgi_int_field {
  const char *name;
  int32_t min;
  int32_t max;
} cgi_int_field;

/* cgi_form_int for each of fields[0..count), into values[i]. Returns 0 when
 * every one is good; else the code of the first that is not, with *bad its
 * index (bad may be null; it is -1 on success). Fields of the form that the
 * table does not name are not looked at. */
int cgi_form_ints(const char *form, int length, const cgi_int_field *fields, int count,
                  int32_t *values, int *bad);

/* Walks the fields of form[0..length) in order, so that a program can
 * refuse fields it does not know. The field that starts at *pos (0 for the
 * first) is decoded as cgi_form_value decodes, its name into
 * name[0..name_capacity) and its value into value[0..value_capacity), both
 * NUL-terminated, and *pos moves past it; empty pieces ("a=1&&b=2") are
 * skipped. Returns the value's length, IFC_EMISSING when no field is left,
 * IFC_ETOOBIG when the name or the value does not fit, IFC_EFORM for a
 * malformed escape in the field, IFC_EUSAGE for a null pointer or a *pos
 * outside 0..length. After IFC_ETOOBIG and IFC_EFORM *pos has moved past
 * the field all the same, and the one of name and value that did not fit
 * or was malformed holds "". */
int cgi_form_next(const char *form, int length, int *pos, char *name, int name_capacity,
                  char *value, int value_capacity);

/* Reads the request body of CONTENT_LENGTH bytes from standard input into
 * body[0..capacity), NUL-terminated. Returns its length (0 when
 * CONTENT_LENGTH is not set or empty), IFC_EFORM when CONTENT_LENGTH is no
 * length (digits only), IFC_ETOOBIG when the body does not fit (nothing is
 * read), IFC_ECLOSED when standard input ends first and IFC_ESYSTEM when it
 * fails (body then holds what came), IFC_EUSAGE for a null pointer or a
 * capacity below 1. The read waits as long as standard input stays open:
 * how long a body may take is the web server's to bound. */
int cgi_read_body(char *body, int capacity);

/* text with & < > " ' written as &amp; &lt; &gt; &quot; &#39; into
 * out[0..capacity), NUL-terminated; text and out must not overlap. Returns
 * the length written, IFC_ETOOBIG (out then holds "") when it does not fit,
 * or IFC_EUSAGE for a null pointer or a capacity below 1. */
int cgi_html_escape(const char *text, char *out, int capacity);

/* The former name of cgi_html_escape, kept for the programs that use it. */
int html_escape(const char *text, char *out, int capacity);

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_LIB_FORM_H */
