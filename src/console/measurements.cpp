// measurements.cgi: the simulated TO, TB1 to TB8, TBW and TW of colour
// numbers 1 to 6, reloaded by the browser every few seconds.
#include <string>

#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "measurements.cgi";
constexpr int kRefreshSeconds = 3;

constexpr const char *kKeys[] = {"to",  "tb1", "tb2", "tb3", "tb4", "tb5",
                                 "tb6", "tb7", "tb8", "tbw", "tw"};

response show(const request &) {
  controller ctl;
  pair_list values[6];
  for (int c = 1; c <= 6; ++c) {
    std::string name = "IFC_get_histo_ave_" + std::to_string(c);
    ctl.get_pairs(name.c_str(), &values[c - 1]);
  }
  if (ctl.failed()) return ctl.failure(kFile, kFile);

  page p(kFile, kRefreshSeconds);
  html &h = p.out();
  h << "<table id=\"measurements\"><tr><th class=\"name\">colour</th>";
  for (int c = 1; c <= 6; ++c) {
    h << "<th>";
    h.num(c) << "</th>";
  }
  h << "</tr>\n";
  for (const char *key : kKeys) {
    std::string upper(key);
    for (char &ch : upper) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    h << "<tr><td class=\"name\">";
    h.text(upper) << "</td>";
    for (int c = 1; c <= 6; ++c) {
      int32_t v = 0;
      bool known = values[c - 1].value(key, &v);
      h << "<td";
      h.attr("id", std::string("m-") + key + "-" + std::to_string(c)) << ">";
      if (known)
        h.num(v);
      else
        h << "?";
      h << "</td>";
    }
    h << "</tr>\n";
  }
  h << "</table><p class=\"hint\">Simulated averages; the page reloads every ";
  h.num(kRefreshSeconds) << " seconds.</p>\n";
  return p.finish();
}

}  // namespace

int main() { return serve({kFile, show, nullptr}); }
