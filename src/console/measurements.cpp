// measurements.cgi: the averages TO, TB1 to TB8, TBW and TW of colour
// numbers 1 to 6, reloaded by the browser every few seconds, and what sets
// them when the controller has a readings file.
#include <string>

#include "controller.hpp"
#include "readings_note.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "measurements.cgi";
constexpr int kRefreshSeconds = 3;

// The averages in the order of their reply, which names them as the
// histogram items but the last.
constexpr int kAverages = IFC_HIST_TW_TBW;

int32_t average(const ifc_averages &a, int k) {
  if (k == IFC_HIST_TO) return a.to;
  if (k <= IFC_HIST_TB8) return a.tb[k - IFC_HIST_TB1];
  return k == IFC_HIST_TBW ? a.tbw : a.tw;
}

response show(const request &) {
  controller ctl;
  ifc_averages values[IFC_COLOURS];
  for (int c = 1; c <= IFC_COLOURS; ++c) ctl.averages(c, &values[c - 1]);
  if (ctl.failed()) return ctl.failure(kFile, kFile);

  page p(kFile, kRefreshSeconds);
  html &h = p.out();
  readings_note(h, kReadingsAverages);
  h << "<table id=\"measurements\"><tr><th class=\"name\">colour</th>";
  for (int c = 1; c <= 6; ++c) {
    h << "<th>";
    h.num(c) << "</th>";
  }
  h << "</tr>\n";
  for (int k = 0; k < kAverages; ++k) {
    const char *key = ifc_hist_item_name(k);
    std::string upper(key);
    for (char &ch : upper) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    h << "<tr><td class=\"name\">";
    h.text(upper) << "</td>";
    for (int c = 1; c <= 6; ++c) {
      h << "<td";
      h.attr("id", std::string("m-") + key + "-" + std::to_string(c)) << ">";
      h.num(average(values[c - 1], k)) << "</td>";
    }
    h << "</tr>\n";
  }
  h << "</table><p class=\"hint\">The averages the controller reports (simulated "
       "unless a readings file sets them); the page reloads every ";
  h.num(kRefreshSeconds) << " seconds.</p>\n";
  return p.finish();
}

}  // namespace

int main() { return serve({kFile, show, nullptr}); }
