// overview.cgi: the machine at a glance: status, target and measured TO and
// TW of every colour number, the selection flags and both histograms, with
// links to the pages that change them.
#include <string>
#include <utility>

#include "chart.hpp"
#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "overview.cgi";

void value_cell(html &h, int32_t v, const std::string &id) {
  h << "<td";
  h.attr("id", id) << ">";
  h.num(v) << "</td>";
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
  ifc_status status;
  ifc_flags flags;
  ifc_to_tw target[IFC_COLOURS], measured[IFC_COLOURS];
  ifc_hist_select sel{};
  ifc_histogram left{}, right{};
  ctl.status(&status);
  for (int c = 1; c <= IFC_COLOURS; ++c) {
    ctl.targets(c, &target[c - 1]);
    ctl.measured(c, &measured[c - 1]);
  }
  ctl.flags(&flags);
  ctl.hist_select(&sel);
  ctl.histogram(IFC_LEFT, &left);
  ctl.histogram(IFC_RIGHT, &right);
  if (ctl.failed()) return ctl.failure(kFile, kFile);

  page p(kFile);
  html &h = p.out();
  h << "<div class=\"row\"><section><h2>Status <a class=\"hint\" "
       "href=\"selection.cgi\">change</a></h2><table id=\"status\">";
  const std::pair<const char *, int32_t> stat[] = {
      {"color", status.color}, {"mode", status.mode}, {"totw_sw", status.totw_sw}};
  for (const auto &[key, v] : stat) {
    h << "<tr><td class=\"name\">";
    h.text(key) << "</td>";
    value_cell(h, v, std::string("stat-") + key);
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
    value_cell(h, target[c - 1].to, "target-to-" + n);
    value_cell(h, target[c - 1].tw, "target-tw-" + n);
    value_cell(h, measured[c - 1].to, "measured-to-" + n);
    value_cell(h, measured[c - 1].tw, "measured-tw-" + n);
    h << "</tr>";
  }
  h << "</table></section></div>\n<h2>Valve selection <a class=\"hint\" "
       "href=\"selection.cgi\">change</a> <a class=\"hint\" href=\"valves.cgi\">valve "
       "points</a></h2><table id=\"selection\" class=\"flags\"><tr>";
  for (int i = 0; i < IFC_FLAGS; ++i) {
    if (i > 0 && i % 13 == 0) h << "</tr><tr>";
    const char *name = ifc_flag_item(i)->name;
    const int32_t v = flags.value[i];
    h << "<td";
    h.attr("id", std::string("sel-") + name);
    if (v != 0) h << " class=\"on\"";
    h.attr("data-value", v) << ">";
    h.text(name);
    if (v != 0 && v != 1) {
      h << " (";
      h.num(v) << ")";
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
