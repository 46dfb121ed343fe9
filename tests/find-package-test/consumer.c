/* A CGI-style program in C using the installed support library through the
 * umbrella header. scripts/install-test compares its output and the
 * "mprint.log" it leaves. */
#include <ifcsim/ifcsim_support.h>

int main(void) {
  time_fields now;

  show_debinfo_init();
  show_debinfo("from %s\n", "c");
  show_text("width %d %s %s\n", (int)mtbl_attr_default_2.width,
            mtbl_attr_default_2.bgcolor, rdoyn_attr_i_c.first_label);
  mprint_push();
  MorPrintf("collected %d\n", 1);
  MorPrintf("collected %d\n", 2);
  mprint_pull_log();
  what_time(&now);
  SorPrintf("clock %s\n",
            now.year >= 2020 && now.month >= 1 && now.month <= 12 ? "ok" : "bad");
  cgi_redirect("/cgi-bin/x.cgi?a=1&b='2'");
  return 0;
}
