// histograms.cgi: the left and right histograms as bar charts with their
// header values, the item and colour number each side shows, and the clear
// and set requests. A change of the selection is read back.
#include <string>

#include "chart.hpp"
#include "controller.hpp"
#include "readings_note.hpp"
#include "request.hpp"

namespace {

using namespace console;

constexpr char kFile[] = "histograms.cgi";

constexpr const char *kSides[] = {"LEFT", "RIGHT"};  // IFC_LEFT, IFC_RIGHT
constexpr const char *kActions[] = {"select", "clear", "set"};

// The histogram items by number, for a choice of the form.
struct item_names {
  const char *names[IFC_HIST_ITEMS];
  item_names() {
    for (int i = 0; i < IFC_HIST_ITEMS; ++i) names[i] = ifc_hist_item_name(i);
  }
};
const item_names kItems;

bool known_field(std::string_view name) {
  for (const char *f : {"action", "side", "colour", "item", "lc", "litem", "lt", "rc",
                        "ritem", "rt", "samp"})
    if (name == f) return true;
  return false;
}

void item_options(html &h, std::string_view selected) {
  for (const char *item : kItems.names) {
    h << "<option";
    h.attr("value", item);
    if (selected == item) h << " selected";
    h << ">";
    h.text(item) << "</option>";
  }
}

void colour_options(html &h, std::string_view selected) {
  for (int c = 1; c <= 6; ++c) {
    h << "<option";
    h.attr("value", c);
    if (selected == std::to_string(c)) h << " selected";
    h << ">";
    h.num(c) << "</option>";
  }
}

// A <select> of colour numbers or items, named name, with element id id.
void colour_select(html &h, markup name, std::string_view id, std::string_view selected) {
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

// What a control shows: what was typed into the form shown again, else value.
struct form_again {
  const outcome *again;  // null unless this is the form the outcome is about
  std::string value(const char *name, std::string v) const {
    return field_value(again, name, std::move(v));
  }
  void note(html &h, std::string_view name) const { problem_note(h, again, name); }
};

void number_input(html &h, markup name, long long value, const form_again &f) {
  h << "<input type=\"text\" inputmode=\"numeric\"";
  h.attr("name", name.text).attr("id", name.text);
  h.attr("value", f.value(name.text, std::to_string(value))) << ">";
  f.note(h, name.text);
}

field_label label_for(std::string form) {
  return [form](std::string_view field) -> std::string {
    if (field == "action") return "the form's action";
    if (field == "side") return "histogram side";
    const char *side = form == "select-right" ? "right" : "left";
    if (form == "clear") return std::string(field) + " to clear";
    if (form == "set" && field.size() >= 2 && (field[0] == 'l' || field[0] == 'r')) {
      side = field[0] == 'l' ? "left" : "right";
      field.remove_prefix(1);
      if (field == "c") field = "colour";
    }
    if (field == "colour" || field == "item" || field == "t")
      return std::string(field) + " of the " + side + " histogram";
    return std::string(field);
  };
}

void side(html &h, const char *which, const char *side_word, int32_t colour,
          std::string_view item, const ifc_histogram &hist, const form_again &f) {
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
  item_select(h, "item", w + "-item", f.value("item", std::string(item)));
  f.note(h, "item");
  h << "</label> <label>colour ";
  colour_select(h, "colour", w + "-colour", f.value("colour", std::to_string(colour)));
  f.note(h, "colour");
  h << "</label> <button type=\"submit\"";
  h.attr("id", "select-" + w + "-save") << ">Show</button></form></section>\n";
}

response show(const request &rq, const outcome *again) {
  controller ctl;
  ifc_hist_select sel{};
  ifc_histogram left{}, right{};
  ctl.hist_select(&sel);
  ctl.histogram(IFC_LEFT, &left);
  ctl.histogram(IFC_RIGHT, &right);
  const field_label label = label_for(again ? again->form : "");
  if (ctl.failed())
    return again ? problems_page(kFile, *again, label) : ctl.failure(kFile, kFile);
  const auto form = [again](const char *id) {
    return form_again{again && again->form == id ? again : nullptr};
  };

  page p(kFile);
  html &h = p.out();
  if (again)
    problems_box(h, *again, label);
  else
    p.notice(
        done_of(rq),
        {{"select",
          "Selection saved. The histograms below are read back from the controller."},
         {"clear", "The clear request was delivered to the controller."},
         {"set", "The set request was delivered to the controller."}});
  readings_note(h, kReadingsHistograms);
  h << "<div class=\"row\">";
  side(h, "left", "LEFT", sel.left_colour, sel.left_item, left, form("select-left"));
  side(h, "right", "RIGHT", sel.right_colour, sel.right_item, right,
       form("select-right"));
  h << "</div>\n";

  const std::string left_colour = std::to_string(sel.left_colour);
  const std::string right_colour = std::to_string(sel.right_colour);
  const form_again clear = form("clear"), set = form("set");
  h << "<h2>Clear a histogram</h2>";
  form_start(h, "clear-form", kFile, "clear");
  h << "<label>colour ";
  colour_select(h, "colour", "clear-colour", clear.value("colour", left_colour));
  clear.note(h, "colour");
  h << "</label> <label>item ";
  item_select(h, "item", "clear-item", clear.value("item", sel.left_item));
  clear.note(h, "item");
  h << "</label> <button id=\"clear-send\" type=\"submit\">Clear</button></form>\n";

  h << "<h2>Set up the histograms</h2>";
  form_start(h, "set-form", kFile, "set");
  h << "<p>Left: <label>colour ";
  colour_select(h, "lc", "lc", set.value("lc", left_colour));
  set.note(h, "lc");
  h << "</label> <label>item ";
  item_select(h, "litem", "litem", set.value("litem", sel.left_item));
  set.note(h, "litem");
  h << "</label> <label>t ";
  number_input(h, "lt", 10, set);
  h << "</label></p><p>Right: <label>colour ";
  colour_select(h, "rc", "rc", set.value("rc", right_colour));
  set.note(h, "rc");
  h << "</label> <label>item ";
  item_select(h, "ritem", "ritem", set.value("ritem", sel.right_item));
  set.note(h, "ritem");
  h << "</label> <label>t ";
  number_input(h, "rt", 10, set);
  h << "</label></p><p><label>samp ";
  number_input(h, "samp", 500, set);
  h << "</label> <button id=\"set-send\" type=\"submit\">Set</button></p></form>\n";
  return p.finish(again ? again->status : 200);
}

response show_page(const request &rq) { return show(rq, nullptr); }

// The field whose value makes a text too long for the controller: the
// longest of the given ones.
const char *longest(const int32_t *values, const char *const *names, int count) {
  int best = 0;
  for (int i = 1; i < count; ++i)
    if (std::to_string(values[i]).size() > std::to_string(values[best]).size()) best = i;
  return names[best];
}

response change(const request &rq) {
  fields form(rq.body, known_field);
  int action = form.choice("action", kActions, 3);
  std::string which = action == 1 ? "clear" : action == 2 ? "set" : "";
  int side = -1;
  if (action == 0) {
    side = form.choice("side", kSides, 2);
    if (side >= 0) which = side == 0 ? "select-left" : "select-right";
  }
  const auto refuse = [&] {
    const outcome o = refusal(form, which);
    return show(rq, &o);
  };
  if (action < 0) return refuse();

  controller ctl;
  const char *too_long = nullptr;  // the field to blame when the text is too long
  const char *why = nullptr;
  if (action == 0) {
    int32_t colour = form.number("colour");
    int item = form.choice("item", kItems.names, IFC_HIST_ITEMS);
    if (form.ok() && (colour < 1 || colour > IFC_COLOURS))
      form.fail("colour", "not a colour number from 1 to 6");
    if (!form.ok()) return refuse();
    const int s = side == 0 ? IFC_LEFT : IFC_RIGHT;
    bool taken = true;
    ifc_hist_select held{};
    if (ctl.select_histogram(s, colour, item, &taken, &held) && !taken) {
      outcome refused{409, {}, nullptr, which};
      const int32_t held_colour = s == IFC_LEFT ? held.left_colour : held.right_colour;
      const std::string held_item = s == IFC_LEFT ? held.left_item : held.right_item;
      if (held_colour != colour)
        refused.problems.push_back(not_taken("colour", colour, held_colour));
      if (held_item != kItems.names[item])
        refused.problems.push_back({"item", std::string("sent ") + kItems.names[item] +
                                                ", but the controller holds " +
                                                held_item});
      return show(rq, &refused);
    }
  } else if (action == 1) {
    int32_t colour = form.number("colour");
    int item = form.choice("item", kItems.names, IFC_HIST_ITEMS);
    if (!form.ok()) return refuse();
    ctl.clear_histogram(colour, item);
    too_long = "colour";
    why = "too long for the clear request";
  } else {
    static const char *const kNumbers[] = {"lc", "lt", "rc", "rt", "samp"};
    int32_t n[5];
    for (int i = 0; i < 5; ++i) n[i] = form.number(kNumbers[i]);
    int litem = form.choice("litem", kItems.names, IFC_HIST_ITEMS);
    int ritem = form.choice("ritem", kItems.names, IFC_HIST_ITEMS);
    if (!form.ok()) return refuse();
    ctl.set_histograms({n[0], litem, n[1], n[2], ritem, n[3], n[4]});
    too_long = longest(n, kNumbers, 5);
    why = "the numbers together are too long for the set request (at most 32 bytes)";
  }
  // The library refuses a text the controller would ignore, before sending it.
  if (ctl.code() == IFC_ERANGE && too_long != nullptr) {
    form.fail(too_long, why);
    return refuse();
  }
  if (ctl.failed()) return ctl.failure(kFile, kFile);
  return see_other(std::string("histograms.cgi?done=") + kActions[action]);
}

}  // namespace

int main() { return serve({kFile, show_page, change}); }
