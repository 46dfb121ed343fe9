// valves.cgi: the on/off points of the 45 valve items for colour numbers 1
// to 6, one colour number editable at a time (?colour=N). A POST sends the
// changed items of that colour number in one IFC_set_on_off_N.
#include <string>

#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "valves.cgi";

// The items of the on/off commands, in the order of their replies.
constexpr const char *kItems[] = {
    "pin_on",     "abs_on",     "abs_off",     "main_on",  "main_off",  "tandem_on",
    "tandem_off", "stretch_on", "stretch_off", "sub1_on",  "sub1_off",  "sub2_on",
    "sub2_off",   "sub3_on",    "sub3_off",    "sub4_on",  "sub4_off",  "sub5_on",
    "sub5_off",   "sub6_on",    "sub6_off",    "sub7_on",  "sub7_off",  "sub8_on",
    "sub8_off",   "sub9_on",    "sub9_off",    "sub10_on", "sub10_off", "sub11_on",
    "sub11_off",  "sub12_on",   "sub12_off",   "sub13_on", "sub13_off", "sub14_on",
    "sub14_off",  "sub15_on",   "sub15_off",   "sub16_on", "sub16_off", "sub17_on",
    "sub17_off",  "sub18_on",   "sub18_off"};
constexpr int kItemCount = sizeof kItems / sizeof kItems[0];
static_assert(kItemCount == 45);

bool known_field(std::string_view name) {
  if (name == "colour") return true;
  if (name.starts_with("old_")) name.remove_prefix(4);
  for (const char *item : kItems)
    if (name == item) return true;
  return false;
}

// The colour number a request is about. A page shown without one edits
// colour 1; a change must say which colour it is for.
int32_t colour_of(fields &f, bool required) {
  int32_t c = 1;
  if (required || f.has("colour")) c = f.number("colour");
  if (f.ok() && (c < 1 || c > 6)) f.fail("colour", "not a colour number from 1 to 6");
  return c;
}

std::string self(int32_t colour) { return "valves.cgi?colour=" + std::to_string(colour); }

void item_rows(html &h, const pair_list *points, int32_t colour, int from, int to) {
  h << "<table class=\"grid\"><tr><th class=\"name\">item</th>";
  for (int c = 1; c <= 6; ++c) {
    h << (c == colour ? markup("<th class=\"edit\">") : markup("<th>"));
    h.num(c) << "</th>";
  }
  h << "</tr>\n";
  for (int i = from; i < to; ++i) {
    h << "<tr><td class=\"name\">";
    h.text(kItems[i]) << "</td>";
    for (int c = 1; c <= 6; ++c) {
      int32_t v = 0;
      bool known = points[c - 1].value(kItems[i], &v);
      std::string value = known ? std::to_string(v) : "";
      std::string cell_id = std::string("v-") + kItems[i] + "-" + std::to_string(c);
      if (c != colour) {
        h << "<td";
        h.attr("id", cell_id) << ">";
        h.text(known ? value : "?") << "</td>";
        continue;
      }
      h << "<td class=\"edit\"";
      h.attr("id", cell_id) << "><input type=\"text\" inputmode=\"numeric\"";
      h.attr("name", kItems[i]).attr("id", kItems[i]).attr("value", value);
      h << "><input type=\"hidden\"";
      h.attr("name", std::string("old_") + kItems[i]).attr("value", value) << "></td>";
    }
    h << "</tr>\n";
  }
  h << "</table>";
}

response show(const request &rq) {
  fields query(rq.query);
  int32_t colour = colour_of(query, false);
  if (!query.ok()) return query.error(kFile);

  controller ctl;
  pair_list points[6];
  for (int c = 1; c <= 6; ++c) {
    std::string name = "IFC_get_on_off_" + std::to_string(c);
    ctl.get_pairs(name.c_str(), &points[c - 1]);
  }
  if (ctl.failed()) return ctl.failure(kFile, self(colour));

  page p(kFile);
  p.notice(done_of(rq), {kSavedNote, kUnchangedNote});
  html &h = p.out();
  h << "<p id=\"colours\">Edit colour number:";
  for (int c = 1; c <= 6; ++c) {
    h << " ";
    if (c == colour) {
      h << "<strong";
      h.attr("id", "colour-" + std::to_string(c)) << ">";
      h.num(c) << "</strong>";
    } else {
      h << "<a";
      h.attr("id", "colour-" + std::to_string(c)).attr("href", self(c)) << ">";
      h.num(c) << "</a>";
    }
  }
  h << "</p>\n";
  form_start(h, "valves-form", kFile);
  h << "<input type=\"hidden\" name=\"colour\"";
  h.attr("value", colour) << "><div id=\"valve-grid\" class=\"row\">";
  // Two halves side by side, so that all items fit on one screen.
  const int half = (kItemCount + 1) / 2;
  item_rows(h, points, colour, 0, half);
  item_rows(h, points, colour, half, kItemCount);
  h << "</div><p class=\"hint\">Declared range 0 to 359. Values outside it are sent and "
       "stored as they are. Only the items you change are sent.</p>"
       "<p><button id=\"valves-save\" type=\"submit\">Save colour ";
  h.num(colour) << "</button></p></form>\n";
  return p.finish();
}

response change(const request &rq) {
  fields form(rq.body, known_field);
  int32_t colour = form.ok() ? colour_of(form, true) : 1;
  std::string text;
  for (const char *item : kItems) {
    if (!form.ok()) break;
    int32_t v = 0, old = 0;
    if (!form.number_if_present(item, &v)) continue;
    std::string old_name = std::string("old_") + item;
    if (form.number_if_present(old_name.c_str(), &old) && old == v) continue;
    if (!text.empty()) text += ' ';
    text += item;
    text += ':';
    text += std::to_string(v);
  }
  if (!form.ok()) return form.error(kFile);
  if (text.empty()) return see_other(self(colour) + "&done=unchanged");

  controller ctl;
  std::string name = "IFC_set_on_off_" + std::to_string(colour);
  if (!ctl.put(name.c_str(), text)) return ctl.failure(kFile, self(colour));
  return see_other(self(colour) + "&done=saved");
}

}  // namespace

int main() { return serve({kFile, show, change}); }
