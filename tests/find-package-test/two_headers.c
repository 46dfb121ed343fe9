/* The mistake of an earlier README's page: a header written before
 * cgi_redirect, which writes its own. A browser shows the second header as
 * text; ifcsim-cgi refuses the answer. */
#include <ifcsim/ifcsim_support.h>
#include <stdio.h>

int main(void) {
  printf("content-type: text/html\r\n\r\n");
  cgi_redirect("first_page.cgi");
  return 0;
}
