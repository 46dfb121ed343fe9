// overview.cgi: the machine at a glance: status, target and measured TO and
// TW of every colour number, the selection flags and both histograms, with
// links to the pages that change them.
#include <string>

#include "chart.hpp"
#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "overview.cgi";

void value_cell(html &h, const pair_list &p, const char *key, const std::string &id) {
  int32_t v = 0;
  h << "<td";
  h.attr("id", id) << ">";
  if (p.value(key, &v))
    h.num(v);
  else
    h << "?";
  h << "</td>";
}

void small_histogram(html &h, markup id, const char *side, const ifc_hist_select &sel,
                     bool left, const ifc_histogram &hist) {
  std::string item = left ? sel.left_item : sel.right_item;
  int32_t colour = left ? sel.left_colour : sel.right_colour;
  std::string label =
      std::string(side) + ": item " + item + ", colour " + std::to_string(colour);
  h << "<figure><figcaption>";
  h.text(label) << "</figcaption>";
  histogram_svg(h, hist, id, label, true);
  h << "</figure>";
}

response show(const request &) {
  controller ctl;
  pair_list status, flags, target[6], measured[6];
  ifc_hist_select sel{};
  ifc_histogram left{}, right{};
  ctl.get_pairs("IFC_get_stat", &status);
  for (int c = 1; c <= 6; ++c) {
    std::string n = std::to_string(c);
    ctl.get_pairs(("IFC_get_Tot_Twt_" + n).c_str(), &target[c - 1]);
    ctl.get_pairs(("IFC_get_To_Tw_" + n).c_str(), &measured[c - 1]);
  }
  ctl.get_pairs("IFC_get_select_item", &flags);
  ctl.get_hist_select(&sel);
  ctl.get_histogram("IFC_get_hist_cntdatL", &left);
  ctl.get_histogram("IFC_get_hist_cntdatR", &right);
  if (ctl.failed()) return ctl.failure(kFile, kFile);

  page p(kFile);
  html &h = p.out();
  h << "<div class=\"row\"><section><h2>Status <a class=\"hint\" "
       "href=\"selection.cgi\">change</a></h2><table id=\"status\">";
  for (const char *key : {"color", "mode", "totw_sw"}) {
    h << "<tr><td class=\"name\">";
    h.text(key) << "</td>";
    value_cell(h, status, key, std::string("stat-") + key);
    h << "</tr>";
  }
  h << "</table></section>\n<section><h2>Timings <a class=\"hint\" href=\"targets.cgi\">"
       "change targets</a> <a class=\"hint\" href=\"measurements.cgi\">all "
       "measurements</a>"
       "</h2><table id=\"timings\"><tr><th class=\"name\">colour</th><th>target TO</th>"
       "<th>target TW</th><th>measured TO</th><th>measured TW</th></tr>";
  for (int c = 1; c <= 6; ++c) {
    std::string n = std::to_string(c);
    h << "<tr><td class=\"name\">";
    h.num(c) << "</td>";
    value_cell(h, target[c - 1], "to", "target-to-" + n);
    value_cell(h, target[c - 1], "tw", "target-tw-" + n);
    value_cell(h, measured[c - 1], "to", "measured-to-" + n);
    value_cell(h, measured[c - 1], "tw", "measured-tw-" + n);
    h << "</tr>";
  }
  h << "</table></section></div>\n<h2>Valve selection <a class=\"hint\" "
       "href=\"selection.cgi\">change</a> <a class=\"hint\" href=\"valves.cgi\">valve "
       "points</a></h2><table id=\"selection\" class=\"flags\"><tr>";
  for (int i = 0; i < flags.count; ++i) {
    if (i > 0 && i % 13 == 0) h << "</tr><tr>";
    const ifc_pair &f = flags.items[i];
    h << "<td";
    h.attr("id", std::string("sel-") + f.key);
    if (f.value != 0) h << " class=\"on\"";
    h.attr("data-value", f.value) << ">";
    h.text(f.key);
    if (f.value != 0 && f.value != 1) {
      h << " (";
      h.num(f.value) << ")";
    }
    h << "</td>";
  }
  h << "</tr></table>\n<h2>Histograms <a class=\"hint\" "
       "href=\"histograms.cgi\">details</a>"
       "</h2><div class=\"row\">";
  small_histogram(h, "hist-left", "left", sel, true, left);
  small_histogram(h, "hist-right", "right", sel, false, right);
  h << "</div>\n";
  return p.finish();
}

}  // namespace

int main() { return serve({kFile, show, nullptr}); }
