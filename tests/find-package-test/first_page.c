/* first_page.cgi: the on/off points of colour 1 as a table; a query such
 * as ?item=main_on&value=95 changes one point and shows the page again. */
#include <ifcsim/ifcsim_support.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
  ifc_endpoint ep;
  ifc_pair pairs[64];
  char reply[2048], item[IFC_KEY_SIZE], value[12], text[64], cell[6 * IFC_KEY_SIZE];
  const char *query = getenv("QUERY_STRING");
  int len = query ? (int)strlen(query) : 0, n, i;
  char *end;
  long number;

  n = ifc_endpoint_init(&ep); /* 127.0.0.1:9000 unless IFCSIM_HOST, IFCSIM_PORT */
  if (n == 0 && query && cgi_form_value(query, len, "item", item, sizeof item) > 0 &&
      cgi_form_value(query, len, "value", value, sizeof value) > 0) {
    number = strtol(value, &end, 10);
    if (*end != '\0' || strpbrk(item, " :") != NULL) {
      n = IFC_EFORM; /* one item, one number: nothing else goes into the text */
    } else {
      n = snprintf(text, sizeof text, "%s:%ld", item, number);
      n = ifc_put(&ep, "IFC_set_on_off_1", text, n);
      if (n == 0) {
        cgi_redirect("first_page.cgi"); /* writes its own content-type header */
        return 0;
      }
    }
  } else if (n == 0) {
    n = ifc_get(&ep, "IFC_get_on_off_1", reply, sizeof reply);
    if (n >= 0) n = ifc_parse_pairs(reply, n, pairs, 64);
  }
  printf("content-type: text/html\r\n\r\n<html><body>\n");
  if (n < 0) {
    printf("<p>error: %s</p>\n", ifc_strerror(n));
  } else {
    printf("<table>\n");
    for (i = 0; i < n; i++) {
      html_escape(pairs[i].key, cell, sizeof cell);
      printf("<tr><td>%s</td><td>%d</td></tr>\n", cell, (int)pairs[i].value);
    }
    printf("</table>\n");
  }
  printf("</body></html>\n");
  return 0;
}
