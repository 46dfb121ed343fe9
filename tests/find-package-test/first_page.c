/* first_page.cgi: the on/off points of colour 1 as a table; a query such
 * as ?item=main_on&value=95 changes one point and shows the page again. */
#include <ifcsim/ifcsim_support.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
  ifc_endpoint ep;
  ifc_valve_points points;
  char name[IFC_ON_OFF_NAME_MAX + 1];
  const char *query = getenv("QUERY_STRING");
  int len = query ? (int)strlen(query) : 0, rc, item, i;
  int32_t value;

  rc = ifc_endpoint_init(&ep); /* 127.0.0.1:9000 unless IFCSIM_HOST, IFCSIM_PORT */
  if (rc == 0 && cgi_form_value(query, len, "item", name, sizeof name) >= 0) {
    item = ifc_valve_find(name); /* the item's number, or IFC_EMISSING */
    rc =
        item < 0 ? item : cgi_form_int(query, len, "value", INT32_MIN, INT32_MAX, &value);
    if (rc < 0) {
      cgi_error_page(400, rc, "item or value");
    } else if ((rc = ifc_set_valve(&ep, 1, item, value)) < 0) {
      cgi_error_page(502, rc, "the controller");
    } else {
      cgi_see_other("first_page.cgi"); /* the browser loads the page again */
    }
    return 0;
  }
  if (rc == 0) rc = ifc_get_valves(&ep, 1, &points);
  if (rc < 0) {
    cgi_error_page(502, rc, "the controller");
    return 0;
  }
  cgi_page_begin(200, "Valve points of colour 1");
  cgi_printf("<table>\n");
  for (i = 0; i < IFC_VALVES; i++)
    cgi_printf("<tr><td>%s</td><td>%d</td></tr>\n", ifc_valve_item(i)->name,
               (int)points.value[i]);
  cgi_printf("</table>\n");
  return cgi_page_end() < 0;
}
