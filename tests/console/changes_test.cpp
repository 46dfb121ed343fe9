// Every change made through a page: the POST is answered with a redirect
// back to the page, the server gets exactly the requests the change needs
// (each stored value read back), and the new values are in the set file and
// on the page read next.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cgi.hpp"
#include "support/small_disk.hpp"

namespace console_test {
namespace {

using ConsoleChanges = ConsoleTest;

// Value slot of a record (0-based position) in a set file.
constexpr size_t slot(int record, int index) { return record * 80 + 32 + index * 4; }
constexpr size_t kTot = 0, kTwt = 1, kStat1 = 2, kStat2 = 3, kV = 4,
                 kS4 = 8;                    // ifc_set.set
constexpr size_t kMainOn = 7, kMainOff = 8;  // valve_fp.set

struct stored {
  size_t offset;
  int32_t value;
};

TEST_F(ConsoleChanges, ArriveAndAreReadBack) {
  // The rows run in order on one server: later ones start from what the
  // earlier ones left.
  // clang-format off
  static const struct {
    const char *name, *page, *body, *location;
    int puts;
    const char *read_back;  // what each PUT is followed by, if anything
    const char *file;
    std::vector<stored> values;
    const char *printed, *next, *what, *shows;  // printed by the server; next page, its value
  } cases[] = {
      {"targets: only the changed colour", "targets.cgi",
       "to1=90&tw1=240&old_to1=90&old_tw1=240&to2=95&tw2=250&old_to2=90&old_tw2=240",
       "targets.cgi?done=saved", 1, "IFC_get_Tot_Twt_2", "ifc_set.set",
       {{slot(kTot, 2), 95}, {slot(kTwt, 2), 250}, {slot(kTot, 1), 90}},
       "", "targets.cgi", "to2@value", "95"},
      {"targets: outside the declared range, as sent", "targets.cgi", "to3=300&tw3=-10",
       "targets.cgi?done=saved", 1, "IFC_get_Tot_Twt_3", "ifc_set.set", {{slot(kTot, 3), 300}, {slot(kTwt, 3), -10}},
       "", "overview.cgi", "target-tw-3", "-10"},
      {"targets: nothing changed, nothing sent", "targets.cgi",
       "to4=90&tw4=240&old_to4=90&old_tw4=240", "targets.cgi?done=unchanged", 0, nullptr, "", {}, "",
       "targets.cgi?done=unchanged", "notice", "Nothing had changed; nothing was sent."},
      {"valves: the changed items of a colour in one request", "valves.cgi",
       "colour=2&main_on=95&old_main_on=90&main_off=100&old_main_off=160&pin_on=70&old_pin_on=70",
       "valves.cgi?colour=2&done=saved", 1, "IFC_get_on_off_2", "valve_fp.set",
       {{slot(kMainOn, 2), 95}, {slot(kMainOff, 2), 100}, {slot(kMainOn, 1), 90}},
       "", "valves.cgi?colour=1", "v-main_on-2", "95"},
      {"selection: one request per changed flag", "selection.cgi",
       "action=flags&old_pin=0&pin=1&old_abs=0&old_sub20=0&sub20=1&old_sub1=0",
       "selection.cgi?done=flags", 2, "IFC_get_select_item", "ifc_set.set",
       {{slot(kV, 2), 1}, {slot(kS4, 2), 1}, {slot(kV, 3), 0}},
       "", "selection.cgi", "sub20@checked", ""},
      {"selection: an unticked flag is sent as 0", "selection.cgi",
       "action=flags&old_pin=1&old_sub20=1&sub20=1", "selection.cgi?done=flags", 1,
       "IFC_get_select_item", "ifc_set.set", {{slot(kV, 2), 0}, {slot(kS4, 2), 1}}, "", "overview.cgi",
       "sel-pin@data-value", "0"},
      {"selection: clear all", "selection.cgi", "action=clear", "selection.cgi?done=clear", 1,
       "IFC_get_select_item", "ifc_set.set", {{slot(kS4, 2), 0}}, "", "selection.cgi", "sub20@checked", "(none)"},
      {"selection: status", "selection.cgi", "action=status&color=3&mode=1&totw_sw=9",
       "selection.cgi?done=status", 1, "IFC_get_stat", "ifc_set.set",
       {{slot(kStat1, 1), 3}, {slot(kStat1, 2), 1}, {slot(kStat1, 3), 9}},
       "", "overview.cgi", "stat-totw_sw", "9"},
      {"histograms: selection of one side", "histograms.cgi",
       "action=select&side=LEFT&colour=3&item=tb2", "histograms.cgi?done=select", 1,
       "IFC_get_hst_select", "ifc_set.set", {{slot(kStat2, 1), 2}, {slot(kStat2, 2), 3}, {slot(kStat2, 3), 10}},
       "", "histograms.cgi", "left-item-shown", "tb2"},
      {"histograms: clear", "histograms.cgi", "action=clear&colour=2&item=tw_tbw",
       "histograms.cgi?done=clear", 1, nullptr, "", {}, "clear_histo: color=2, item_no=11\n", "", "", ""},
      {"histograms: set", "histograms.cgi",
       "action=set&lc=1&litem=tw&lt=10&rc=2&ritem=tbw&rt=10&samp=500",
       "histograms.cgi?done=set", 1, nullptr, "", {},
       "set_histo(L c=1, i=10, t=10, R c=2, i=9, t=10, samp=500)\n", "", "", ""},
      {"let-off: button text as typed", "letoff.cgi", "action=btnstat&text=%3Cb%3Eoff+now",
       "letoff.cgi?done=btnstat", 1, nullptr, "", {}, "<b>off now\n", "letoff.cgi?done=btnstat",
       "notice", "The button text was delivered to the controller."},
      {"let-off: notes become lines of the log", "letoff.cgi", "action=log&note=a+note",
       "letoff.cgi?done=log", 1, nullptr, "", {}, "", "", "", ""},
      {"let-off: a note's own line end is kept", "letoff.cgi", "action=log&note=b%0A",
       "letoff.cgi?done=log", 1, nullptr, "", {}, "", "", "", ""},
  };
  // clang-format on
  for (const auto &c : cases) {
    cgi_response r = post(c.page, c.body);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, 303) << c.name << "\n" << r.body;
    EXPECT_EQ(r.headers["Location"], c.location) << c.name;
    std::string printed;
    std::vector<std::string> requests;
    for (int i = 0; i < c.puts; ++i) {
      requests.push_back("PUT");
      if (c.read_back) requests.push_back(std::string("GET ") + c.read_back);
    }
    EXPECT_EQ(served(&printed), requests) << c.name;
    EXPECT_NE(printed.find(c.printed), std::string::npos) << c.name << ": " << printed;
    for (const stored &s : c.values)
      EXPECT_EQ(int_at(file(c.file), s.offset), s.value) << c.name << ": " << s.offset;
    if (!*c.next) continue;
    std::string next = c.next;
    size_t q = std::min(next.find('?'), next.size());
    std::string body =
        get(next.substr(0, q), next.substr(std::min(q + 1, next.size()))).body;
    EXPECT_EQ(shown(body, c.what), c.shows) << c.name;
    served();
  }
  EXPECT_EQ(file("cgi.log"), "a note\nb\n");
}

// A change the controller could not keep (its disk turned read-only): the
// read-back shows the old value, and the page says so instead of "Saved".
TEST_F(ConsoleChanges, NotTakenIsShownWithWhatTheControllerHolds) {
  testing_support::SmallDisk disk(256 * 1024);
  if (!disk.why().empty()) GTEST_SKIP() << disk.why();
  testing_support::ServerProcess server(disk.path());
  ASSERT_EQ(server.Get("IFC_get_Tot_Twt_1"), "to:90 tw:240 ");
  ASSERT_TRUE(disk.SetReadOnly(true));
  cgi_response r = post("targets.cgi", "to1=95&tw1=240&old_to1=90&old_tw1=240",
                        {"IFCSIM_PORT=" + std::to_string(server.port())});
  EXPECT_EQ(r.status, 409);
  EXPECT_EQ(shown(r.body, "field"), "TO of colour 1");
  EXPECT_EQ(shown(r.body, "why-to1"), "sent 95, but the controller holds 90");
  EXPECT_EQ(shown(r.body, "to1@value"), "90");
  EXPECT_EQ(shown(r.body, "notice"), "(no such id)");
}

}  // namespace
}  // namespace console_test
