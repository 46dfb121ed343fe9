/* Must NOT compile with -Werror=format, for each CHECK from 1 to 5: the
 * library's printf-like functions carry format attributes, so a mismatched
 * argument is caught when a CGI program is built. */
#include <ifcsim/ifcsim_support.h>

int main(void) {
#if CHECK == 1
  MorPrintf("%d\n", "not a number");
#elif CHECK == 2
  SorPrintf("%d\n", "not a number");
#elif CHECK == 3
  show_debinfo("%d\n", "not a number");
#elif CHECK == 4
  show_text("%d\n", "not a number");
#elif CHECK == 5
  cgi_printf("%d\n", "not a number");
#endif
  return 0;
}
