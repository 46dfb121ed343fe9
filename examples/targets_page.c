/* targets_page.cgi: the targets TO and TW of colour 3 as a form. A POST
 * checks both numbers against the ranges their records declare, changes
 * them, reads them back and sends the browser back to the page; or it says
 * what went wrong: a bad field, a change the controller did not take, or a
 * controller that is down, slow or refuses. */
#include <ifcsim/ifcsim_support.h>
#include <stdlib.h>
#include <string.h>

#define COLOUR 3
#define SELF "targets_page.cgi"

static const cgi_int_field fields[] = {{"to", 50, 150}, {"tw", 190, 290}};

/* 504 when the controller was too slow, 502 for any other failure of it. */
static int controller_error(int rc, const char *what) {
  return cgi_error_page(rc == IFC_ETIMEOUT ? 504 : 502, rc, what);
}

static int show(const ifc_endpoint *ep, const char *query) {
  ifc_to_tw t;
  int rc = ifc_get_targets(ep, COLOUR, &t), i;
  if (rc < 0) return controller_error(rc, "reading the targets");
  cgi_page_begin(200, "Targets");
  cgi_printf("<h1>Targets of colour %d</h1>\n", COLOUR);
  if (query != NULL && strcmp(query, "saved=1") == 0)
    cgi_printf("<p id=\"notice\">Saved; the values below are read back.</p>\n");
  cgi_printf("<form method=\"post\" action=\"%s\">\n", SELF);
  for (i = 0; i < 2; i++)
    cgi_printf("<label>%s <input name=\"%s\" value=\"%d\"> (%d to %d)</label><br>\n",
               fields[i].name, fields[i].name, (int)(i == 0 ? t.to : t.tw),
               (int)fields[i].min, (int)fields[i].max);
  cgi_printf("<button>Save</button>\n</form>\n");
  return cgi_page_end();
}

static int change(const ifc_endpoint *ep) {
  char body[1024];
  int32_t v[2];
  ifc_to_tw held;
  int bad, rc = cgi_read_body(body, sizeof body);
  if (rc < 0) return cgi_error_page(400, rc, "the request body");
  rc = cgi_form_ints(body, rc, fields, 2, v, &bad);
  if (rc < 0) return cgi_error_page(400, rc, fields[bad].name);
  rc = ifc_set_targets_checked(ep, COLOUR, v[0], v[1], &held);
  if (rc == IFC_ENOTTAKEN) {
    cgi_page_begin(409, "Not taken");
    cgi_printf(
        "<p id=\"error\">The controller did not take to %d, tw %d: it holds "
        "to %d, tw %d.</p>\n<p><a href=\"%s\">Back</a></p>\n",
        (int)v[0], (int)v[1], (int)held.to, (int)held.tw, SELF);
    return cgi_page_end();
  }
  if (rc < 0) return controller_error(rc, "changing the targets");
  return cgi_see_other(SELF "?saved=1");
}

int main(void) {
  ifc_endpoint ep;
  const char *method = getenv("REQUEST_METHOD");
  int rc = ifc_endpoint_init(&ep);
  if (rc < 0) {
    cgi_error_page(500, rc, "the controller's address");
  } else if (method != NULL && strcmp(method, "POST") == 0) {
    change(&ep);
  } else {
    show(&ep, getenv("QUERY_STRING"));
  }
  return 0;
}
