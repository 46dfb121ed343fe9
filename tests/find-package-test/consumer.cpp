// A C++ program using the installed support library through its two headers.
// scripts/install-test compares its output and the "mprint.log" it leaves.
#include <ifcsim/lib_data2.h>
#include <ifcsim/lib_fp.h>

#include <string>

int main() {
  const std::string lang = "c++";
  time_fields now;

  show_debinfo_init();
  show_debinfo("from %s\n", lang.c_str());
  show_text("width %d %s %s\n", static_cast<int>(mtbl_attr_default_2.width),
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
