// valves.cgi: the on/off points of the 45 valve items for colour numbers 1
// to 6, one colour number editable at a time (?colour=N). A POST sends the
// changed items of that colour number in one IFC_set_on_off_N and reads them
// back.
#include <string>

#include "controller.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "valves.cgi";

const char *item_name(int i) { return ifc_valve_item(i)->name; }

bool known_field(std::string_view name) {
  if (name == "colour") return true;
  if (name.starts_with("old_")) name.remove_prefix(4);
  return ifc_valve_find(std::string(name).c_str()) >= 0;
}

// Item names are as the grid shows them, by the colour number edited.
field_label label_for(int32_t colour) {
  return [colour](std::string_view field) {
    if (field == "colour") return std::string("colour number");
    const bool old = field.starts_with("old_");
    std::string item(old ? field.substr(4) : field);
    if (ifc_valve_find(item.c_str()) < 0) return std::string(field);
    return item + " of colour " + std::to_string(colour) +
           (old ? " as shown before" : "");
  };
}

// The colour number a request is about. A page shown without one edits
// colour 1; a change must say which colour it is for.
// 0 when it is not one.
int32_t colour_of(fields &f, bool required) {
  int32_t c = 1;
  if (!required && !f.has("colour")) return c;
  if (!f.number_if_present("colour", &c)) {
    f.number("colour");  // records why
    return 0;
  }
  if (c >= 1 && c <= 6) return c;
  f.fail("colour", "not a colour number from 1 to 6");
  return 0;
}

std::string self(int32_t colour) { return "valves.cgi?colour=" + std::to_string(colour); }

void item_rows(html &h, const ifc_valve_points *points, int32_t colour, int from, int to,
               const outcome *again) {
  h << "<table class=\"grid\"><tr><th class=\"name\">item</th>";
  for (int c = 1; c <= 6; ++c) {
    h << (c == colour ? markup("<th class=\"edit\">") : markup("<th>"));
    h.num(c) << "</th>";
  }
  h << "</tr>\n";
  for (int i = from; i < to; ++i) {
    h << "<tr><td class=\"name\">";
    h.text(item_name(i)) << "</td>";
    for (int c = 1; c <= 6; ++c) {
      const int32_t v = points[c - 1].value[i];
      std::string cell_id = std::string("v-") + item_name(i) + "-" + std::to_string(c);
      if (c != colour) {
        h << "<td";
        h.attr("id", cell_id) << ">";
        h.num(v) << "</td>";
        continue;
      }
      h << "<td class=\"edit\"";
      h.attr("id", cell_id) << "><input type=\"text\" inputmode=\"numeric\"";
      h.attr("name", item_name(i)).attr("id", item_name(i));
      h.attr("value", field_value(again, item_name(i), std::to_string(v)));
      h << "><input type=\"hidden\"";
      h.attr("name", std::string("old_") + item_name(i)).attr("value", v) << ">";
      problem_note(h, again, item_name(i));
      h << "</td>";
    }
    h << "</tr>\n";
  }
  h << "</table>";
}

response show(const request &rq, int32_t colour, const outcome *again) {
  controller ctl;
  ifc_valve_points points[IFC_COLOURS];
  for (int c = 1; c <= IFC_COLOURS; ++c) ctl.valves(c, &points[c - 1]);
  if (ctl.failed())
    return again ? problems_page(kFile, *again, label_for(colour))
                 : ctl.failure(kFile, self(colour));

  page p(kFile);
  html &h = p.out();
  if (again)
    problems_box(h, *again, label_for(colour));
  else
    p.notice(done_of(rq), {kSavedNote, kUnchangedNote});
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
  const int half = (IFC_VALVES + 1) / 2;
  item_rows(h, points, colour, 0, half, again);
  item_rows(h, points, colour, half, IFC_VALVES, again);
  h << "</div><p class=\"hint\">Declared range 0 to 359. Values outside it are sent and "
       "stored as they are. Only the items you change are sent.</p>"
       "<p><button id=\"valves-save\" type=\"submit\">Save colour ";
  h.num(colour) << "</button></p></form>\n";
  return p.finish(again ? again->status : 200);
}

response show_page(const request &rq) {
  fields query(rq.query);
  int32_t colour = colour_of(query, false);
  if (!query.ok()) return problems_page(kFile, refusal(query), label_for(1));
  return show(rq, colour, nullptr);
}

response change(const request &rq) {
  fields form(rq.body, known_field);
  int32_t colour = colour_of(form, true);
  int items[IFC_VALVES];
  int32_t values[IFC_VALVES];
  int count = 0;
  for (int i = 0; i < IFC_VALVES; ++i) {
    int32_t v = 0, old = 0;
    if (!form.number_if_present(item_name(i), &v)) continue;
    std::string old_name = std::string("old_") + item_name(i);
    if (form.number_if_present(old_name.c_str(), &old) && old == v) continue;
    items[count] = i;
    values[count++] = v;
  }
  if (!form.ok()) {
    const outcome o = refusal(form);
    return colour >= 1 && colour <= 6 ? show(rq, colour, &o)
                                      : problems_page(kFile, o, label_for(colour));
  }
  if (count == 0) return see_other(self(colour) + "&done=unchanged");

  controller ctl;
  bool taken = true;
  ifc_valve_points held{};
  if (!ctl.set_valves(colour, items, values, count, &taken, &held))
    return ctl.failure(kFile, self(colour));
  if (!taken) {
    outcome refused{409, {}, nullptr, {}};
    for (int i = 0; i < count; ++i)
      if (held.value[items[i]] != values[i])
        refused.problems.push_back(
            not_taken(item_name(items[i]), values[i], held.value[items[i]]));
    return show(rq, colour, &refused);
  }
  return see_other(self(colour) + "&done=saved");
}

}  // namespace

int main() { return serve({kFile, show_page, change}); }
