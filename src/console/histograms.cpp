// histograms.cgi: the left and right histograms as bar charts with their
// header values, the item and colour number each side shows, and the clear
// and set requests.
#include <string>

#include "chart.hpp"
#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "histograms.cgi";

constexpr const char *kItems[] = {"to",  "tb1", "tb2", "tb3", "tb4", "tb5",
                                  "tb6", "tb7", "tb8", "tbw", "tw",  "tw_tbw"};
constexpr int kItemCount = sizeof kItems / sizeof kItems[0];
constexpr const char *kSides[] = {"LEFT", "RIGHT"};
constexpr const char *kActions[] = {"select", "clear", "set"};

// The controller ignores a text longer than these.
constexpr size_t kSelectLimit = 15, kClearLimit = 10, kSetLimit = 32;

bool known_field(std::string_view name) {
  for (const char *f : {"action", "side", "colour", "item", "lc", "litem", "lt", "rc",
                        "ritem", "rt", "samp"})
    if (name == f) return true;
  return false;
}

void item_options(html &h, std::string_view selected) {
  for (const char *item : kItems) {
    h << "<option";
    h.attr("value", item);
    if (selected == item) h << " selected";
    h << ">";
    h.text(item) << "</option>";
  }
}

void colour_options(html &h, int32_t selected) {
  for (int c = 1; c <= 6; ++c) {
    h << "<option";
    h.attr("value", c);
    if (selected == c) h << " selected";
    h << ">";
    h.num(c) << "</option>";
  }
}

// A <select> of colour numbers or items, named name, with element id id.
void colour_select(html &h, markup name, std::string_view id, int32_t selected) {
  h << "<select";
  h.attr("name", name.text).attr("id", id) << ">";
  colour_options(h, selected);
  h << "</select>";
}

void item_select(html &h, markup name, std::string_view id, std::string_view selected) {
  h << "<select";
  h.attr("name", name.text).attr("id", id) << ">";
  item_options(h, selected);
  h << "</select>";
}

void number_input(html &h, markup name, long long value) {
  h << "<input type=\"text\" inputmode=\"numeric\"";
  h.attr("name", name.text).attr("id", name.text).attr("value", value) << ">";
}

void side(html &h, const char *which, const char *side_word, int32_t colour,
          std::string_view item, const ifc_histogram &hist) {
  std::string w = which;
  h << "<section";
  h.attr("id", w + "-side") << "><h2>";
  h.text(w == "left" ? "Left" : "Right") << ": item <span";
  h.attr("id", w + "-item-shown") << ">";
  h.text(item) << "</span>, colour <span";
  h.attr("id", w + "-colour-shown") << ">";
  h.num(colour) << "</span></h2>";
  std::string label =
      w + " histogram: item " + std::string(item) + ", colour " + std::to_string(colour);
  if (w == "left")
    histogram_svg(h, hist, "hist-left", label, false);
  else
    histogram_svg(h, hist, "hist-right", label, false);

  h << "<table class=\"header\"";
  h.attr("id", w + "-header") << "><tr><th>n1</th><th>n2</th><th>decimal</th><th>n3</th>"
                                 "<th>n4</th></tr><tr><td>";
  h.num(hist.n1) << "</td><td>";
  h.num(hist.n2) << "</td><td>";
  h.fixed(hist.decimal, 2) << "</td><td>";
  h.num(hist.n3) << "</td><td>";
  h.num(hist.n4) << "</td></tr></table>";

  form_start(h, "select-" + w, kFile, "select");
  h << "<input type=\"hidden\" name=\"side\"";
  h.attr("value", side_word) << "><label>item ";
  item_select(h, "item", w + "-item", item);
  h << "</label> <label>colour ";
  colour_select(h, "colour", w + "-colour", colour);
  h << "</label> <button type=\"submit\"";
  h.attr("id", "select-" + w + "-save") << ">Show</button></form></section>\n";
}

response show(const request &rq) {
  controller ctl;
  ifc_hist_select sel{};
  ifc_histogram left{}, right{};
  ctl.get_hist_select(&sel);
  ctl.get_histogram("IFC_get_hist_cntdatL", &left);
  ctl.get_histogram("IFC_get_hist_cntdatR", &right);
  if (ctl.failed()) return ctl.failure(kFile, kFile);

  page p(kFile);
  p.notice(done_of(rq),
           {{"select",
             "Selection saved. The histograms below are read back from the controller."},
            {"clear", "The clear request was delivered to the controller."},
            {"set", "The set request was delivered to the controller."}});
  html &h = p.out();
  h << "<div class=\"row\">";
  side(h, "left", "LEFT", sel.left_colour, sel.left_item, left);
  side(h, "right", "RIGHT", sel.right_colour, sel.right_item, right);
  h << "</div>\n";

  h << "<h2>Clear a histogram</h2>";
  form_start(h, "clear-form", kFile, "clear");
  h << "<label>colour ";
  colour_select(h, "colour", "clear-colour", sel.left_colour);
  h << "</label> <label>item ";
  item_select(h, "item", "clear-item", sel.left_item);
  h << "</label> <button id=\"clear-send\" type=\"submit\">Clear</button></form>\n";

  h << "<h2>Set up the histograms</h2>";
  form_start(h, "set-form", kFile, "set");
  h << "<p>Left: <label>colour ";
  colour_select(h, "lc", "lc", sel.left_colour);
  h << "</label> <label>item ";
  item_select(h, "litem", "litem", sel.left_item);
  h << "</label> <label>t ";
  number_input(h, "lt", 10);
  h << "</label></p><p>Right: <label>colour ";
  colour_select(h, "rc", "rc", sel.right_colour);
  h << "</label> <label>item ";
  item_select(h, "ritem", "ritem", sel.right_item);
  h << "</label> <label>t ";
  number_input(h, "rt", 10);
  h << "</label></p><p><label>samp ";
  number_input(h, "samp", 500);
  h << "</label> <button id=\"set-send\" type=\"submit\">Set</button></p></form>\n";
  return p.finish();
}

// The field whose value makes a text too long for the controller: the
// longest of the given ones.
const char *longest(const std::string *values, const char *const *names, int count) {
  int best = 0;
  for (int i = 1; i < count; ++i)
    if (values[i].size() > values[best].size()) best = i;
  return names[best];
}

response change(const request &rq) {
  fields form(rq.body, known_field);
  int action = form.ok() ? form.choice("action", kActions, 3) : -1;
  if (!form.ok()) return form.error(kFile);

  std::string name, text;
  std::string done;
  if (action == 0) {
    int s = form.choice("side", kSides, 2);
    int32_t colour = form.number("colour");
    int item = form.choice("item", kItems, kItemCount);
    if (!form.ok()) return form.error(kFile);
    name = "IFC_hst_select_item";
    text = std::string(kSides[s]) + " " + std::to_string(colour) + " " + kItems[item];
    if (text.size() > kSelectLimit)
      return bad_input(kFile, "colour", "too long for the selection request");
    done = "select";
  } else if (action == 1) {
    int32_t colour = form.number("colour");
    int item = form.choice("item", kItems, kItemCount);
    if (!form.ok()) return form.error(kFile);
    name = "IFC_hst_clear";
    text = std::to_string(colour) + " " + kItems[item];
    if (text.size() > kClearLimit)
      return bad_input(kFile, "colour", "too long for the clear request");
    done = "clear";
  } else {
    static const char *const kNumbers[] = {"lc", "lt", "rc", "rt", "samp"};
    std::string n[5];
    for (int i = 0; i < 5; ++i) n[i] = std::to_string(form.number(kNumbers[i]));
    int litem = form.choice("litem", kItems, kItemCount);
    int ritem = form.choice("ritem", kItems, kItemCount);
    if (!form.ok()) return form.error(kFile);
    name = "IFC_hst_set";
    text = n[0] + " " + kItems[litem] + " " + n[1] + " " + n[2] + " " + kItems[ritem] +
           " " + n[3] + " " + n[4];
    if (text.size() > kSetLimit)
      return bad_input(kFile, longest(n, kNumbers, 5),
                       "the numbers together are too long for the set request (at most "
                       "32 bytes)");
    done = "set";
  }

  controller ctl;
  if (!ctl.put(name.c_str(), text)) return ctl.failure(kFile, kFile);
  return see_other("histograms.cgi?done=" + done);
}

}  // namespace

int main() { return serve({kFile, show, change}); }
