// Every change made through a page: the POST is answered with a redirect
// back to the page, the server gets exactly the requests the change needs,
// and the new values are in the set file and on the page read next.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cgi.hpp"

namespace console_test {
namespace {

using ConsoleChanges = ConsoleTest;

// Value slot `slot` of the record at position `record` (0-based) of a set file.
constexpr size_t slot_at(int record, int slot) { return record * 80 + 32 + slot * 4; }

struct stored {
  const char *file;
  size_t offset;
  int32_t value;
};

TEST_F(ConsoleChanges, ArriveAndAreReadBack) {
  static const struct {
    const char *name, *page, *body, *location;
    int puts;
    std::vector<stored> files;
    const char *printed;    // what the server printed, or ""
    const char *next_page;  // read after the change ("" for none)
    const char *id, *attr;  // attr null: the element's text
    const char *shown;
  } cases[] = {
      {"targets: only the changed colour",
       "targets.cgi",
       "to1=90&tw1=240&old_to1=90&old_tw1=240&to2=95&tw2=250&old_to2=90&old_tw2=240",
       "targets.cgi?done=saved",
       1,
       {{"ifc_set.set", slot_at(0, 2), 95},
        {"ifc_set.set", slot_at(1, 2), 250},
        {"ifc_set.set", slot_at(0, 1), 90}},
       "",
       "targets.cgi",
       "to2",
       "value",
       "95"},
      {"targets: outside the declared range, stored as sent",
       "targets.cgi",
       "to3=300&tw3=-10",
       "targets.cgi?done=saved",
       1,
       {{"ifc_set.set", slot_at(0, 3), 300}, {"ifc_set.set", slot_at(1, 3), -10}},
       "",
       "targets.cgi",
       "tw3",
       "value",
       "-10"},
      {"targets: nothing changed, nothing sent",
       "targets.cgi",
       "to4=90&tw4=240&old_to4=90&old_tw4=240",
       "targets.cgi?done=unchanged",
       0,
       {},
       "",
       "targets.cgi?done=unchanged",
       "notice",
       nullptr,
       "Nothing had changed; nothing was sent."},
      {"valves: the changed items of one colour in one request",
       "valves.cgi",
       "colour=2&main_on=95&old_main_on=90&main_off=100&old_main_off=160&pin_on=70&old_"
       "pin_on=70",
       "valves.cgi?colour=2&done=saved",
       1,
       {{"valve_fp.set", slot_at(7, 2), 95},
        {"valve_fp.set", slot_at(8, 2), 100},
        {"valve_fp.set", slot_at(7, 1), 90}},
       "",
       "valves.cgi?colour=1",
       "v-main_on-2",
       nullptr,
       "95"},
      {"selection: one request per changed flag",
       "selection.cgi",
       "action=flags&old_pin=0&pin=1&old_abs=0&old_sub20=0&sub20=1&old_sub1=0",
       "selection.cgi?done=flags",
       2,
       {{"ifc_set.set", slot_at(4, 2), 1},
        {"ifc_set.set", slot_at(8, 2), 1},
        {"ifc_set.set", slot_at(4, 3), 0}},
       "",
       "overview.cgi",
       "sel-sub20",
       "data-value",
       "1"},
      {"selection: status",
       "selection.cgi",
       "action=status&color=3&mode=1&totw_sw=9",
       "selection.cgi?done=status",
       1,
       {{"ifc_set.set", slot_at(2, 1), 3},
        {"ifc_set.set", slot_at(2, 2), 1},
        {"ifc_set.set", slot_at(2, 3), 9}},
       "",
       "overview.cgi",
       "stat-totw_sw",
       nullptr,
       "9"},
      {"histograms: selection of one side",
       "histograms.cgi",
       "action=select&side=LEFT&colour=3&item=tb2",
       "histograms.cgi?done=select",
       1,
       {{"ifc_set.set", slot_at(3, 1), 2},
        {"ifc_set.set", slot_at(3, 2), 3},
        {"ifc_set.set", slot_at(3, 3), 10}},
       "",
       "histograms.cgi",
       "left-item-shown",
       nullptr,
       "tb2"},
      {"histograms: clear",
       "histograms.cgi",
       "action=clear&colour=2&item=tw_tbw",
       "histograms.cgi?done=clear",
       1,
       {},
       "clear_histo: color=2, item_no=11\n",
       "",
       "",
       nullptr,
       ""},
      {"histograms: set",
       "histograms.cgi",
       "action=set&lc=1&litem=tw&lt=10&rc=2&ritem=tbw&rt=10&samp=500",
       "histograms.cgi?done=set",
       1,
       {},
       "set_histo(L c=1, i=10, t=10, R c=2, i=9, t=10, samp=500)\n",
       "",
       "",
       nullptr,
       ""},
      {"let-off: button text as typed",
       "letoff.cgi",
       "action=btnstat&text=%3Cb%3Eoff+now",
       "letoff.cgi?done=btnstat",
       1,
       {},
       "<b>off now\n",
       "letoff.cgi?done=btnstat",
       "notice",
       nullptr,
       "The button text was delivered to the controller."},
  };
  for (const auto &c : cases) {
    cgi_response r = post(c.page, c.body);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, 303) << c.name << "\n" << r.body;
    EXPECT_EQ(r.headers["Location"], c.location) << c.name;
    std::string printed;
    EXPECT_EQ(served(&printed), std::vector<std::string>(c.puts, "PUT")) << c.name;
    if (*c.printed) {
      EXPECT_NE(printed.find(c.printed), std::string::npos) << c.name;
    }
    for (const stored &s : c.files)
      EXPECT_EQ(int_at(set_file(s.file), s.offset), s.value)
          << c.name << ": " << s.offset;
    if (!*c.next_page) continue;
    std::string page = c.next_page;
    size_t q = page.find('?');
    std::string body =
        get(page.substr(0, q), q == std::string::npos ? "" : page.substr(q + 1)).body;
    EXPECT_EQ(c.attr ? attr_of(body, c.id, c.attr) : text_of(body, c.id), c.shown)
        << c.name;
    served();
  }
}

TEST_F(ConsoleChanges, SetFlagsShowCheckedAndClearAllClearsThem) {
  post("selection.cgi", "action=flags&old_tandem=0&tandem=1&old_sub7=0&sub7=1");
  std::string body = get("selection.cgi").body;
  EXPECT_NE(body.find("id=\"tandem\" checked>"), std::string::npos);
  EXPECT_NE(body.find("id=\"sub7\" checked>"), std::string::npos);
  served();

  EXPECT_EQ(post("selection.cgi", "action=clear").headers["Location"],
            "selection.cgi?done=clear");
  EXPECT_EQ(served(), std::vector<std::string>{"PUT"});
  body = get("selection.cgi").body;
  EXPECT_EQ(body.find(" checked>"), std::string::npos);
  // A checked flag that is unticked is sent as 0.
  post("selection.cgi", "action=flags&old_main=0&main=1");
  post("selection.cgi", "action=flags&old_main=1");
  EXPECT_EQ(int_at(set_file("ifc_set.set"), slot_at(4, 4)), 0);
}

TEST_F(ConsoleChanges, LogNotesBecomeLines) {
  post("letoff.cgi", "action=log&note=first+note");
  post("letoff.cgi", "action=log&note=second%0A");
  EXPECT_EQ(served(), (std::vector<std::string>{"PUT", "PUT"}));
  EXPECT_EQ(testing_support::read_file(server_.file("cgi.log")), "first note\nsecond\n");
}

}  // namespace
}  // namespace console_test
