// The typed calls against the real server: what each reads is the server's
// own reply, what each changes shows in the next reply (or in what the
// server prints), and a change the server did not take is reported with
// what it holds instead.
#include "ifcsim/lib_commands.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/scripted_server.hpp"
#include "support/server_process.hpp"
#include "support/set_images.hpp"

namespace {

using testing_support::DefaultImage;
using testing_support::RecordPosition;
using testing_support::ScriptedServer;
using testing_support::ServerProcess;

ifc_endpoint at(std::uint16_t port) {
  ifc_endpoint ep{};
  std::strcpy(ep.host, "127.0.0.1");
  ep.port = port;
  ep.timeout_ms = 5000;
  return ep;
}

__attribute__((format(printf, 2, 3))) void add(std::string *s, const char *fmt, ...) {
  char buf[64];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  *s += buf;
}

// The valve points written back as the server writes its reply.
void valves_text(const ifc_valve_points &p, std::string *s) {
  *s += "ATC_TO_DELAY:0 ";
  for (int i = 0; i < IFC_VALVES; ++i)
    add(s, "%s:%d ", ifc_valve_item(i)->name, p.value[i]);
}

struct row {
  const char *name;
  int (*call)(const ifc_endpoint *ep, std::string *shown);
  int rc;
  const char *get;      // the GET whose reply shows the result or the change
  const char *shows;    // in that reply; "" when it must be all of what call shows
  const char *printed;  // on the server's output
};

// In order, on one server: the readers on the defaults, then the changes,
// each starting from what the rows before it left.
// clang-format off
const row kRows[] = {
    {"flags", [](const ifc_endpoint *ep, std::string *s) {
       ifc_flags f; int rc = ifc_get_flags(ep, &f);
       for (int i = 0; i < IFC_FLAGS; ++i) add(s, "%s:%d ", ifc_flag_item(i)->name, f.value[i]);
       return rc; },
     0, "IFC_get_select_item", "", ""},
    {"status", [](const ifc_endpoint *ep, std::string *s) {
       ifc_status t; int rc = ifc_get_status(ep, &t);
       add(s, "color:%d mode:%d totw_sw:%d ", t.color, t.mode, t.totw_sw); return rc; },
     0, "IFC_get_stat", "", ""},
    {"targets", [](const ifc_endpoint *ep, std::string *s) {
       ifc_to_tw t; int rc = ifc_get_targets(ep, 3, &t);
       add(s, "to:%d tw:%d ", t.to, t.tw); return rc; },
     0, "IFC_get_Tot_Twt_3", "", ""},
    {"measured", [](const ifc_endpoint *ep, std::string *s) {
       ifc_to_tw t; int rc = ifc_get_measured(ep, 2, &t);
       add(s, "to:%d tw:%d ", t.to, t.tw); return rc; },
     0, "IFC_get_To_Tw_2", "", ""},
    {"averages", [](const ifc_endpoint *ep, std::string *s) {
       ifc_averages a; int rc = ifc_get_averages(ep, 1, &a);
       add(s, "to:%d ", a.to);
       for (int i = 0; i < 8; ++i) add(s, "tb%d:%d ", i + 1, a.tb[i]);
       add(s, "tbw:%d tw:%d ", a.tbw, a.tw); return rc; },
     0, "IFC_get_histo_ave_1", "", ""},
    {"valve points", [](const ifc_endpoint *ep, std::string *s) {
       ifc_valve_points p; int rc = ifc_get_valves(ep, 6, &p); valves_text(p, s); return rc; },
     0, "IFC_get_on_off_6", "", ""},
    {"valve points one by one", [](const ifc_endpoint *ep, std::string *s) {
       ifc_valve_points p; int rc = 0;
       for (int i = 0; i < IFC_VALVES && rc == 0; ++i) rc = ifc_get_valve(ep, 4, i, &p.value[i]);
       valves_text(p, s); return rc; },
     0, "IFC_get_on_off_4", "", ""},
    {"histogram", [](const ifc_endpoint *ep, std::string *s) {
       ifc_histogram h; int rc = ifc_get_histogram(ep, IFC_RIGHT, &h);
       add(s, "%d %d %.2f %d %d", h.n1, h.n2, h.decimal, h.n3, h.n4);
       for (int32_t bin : h.bins) add(s, " %d", bin);
       return rc; },
     0, "IFC_get_hist_cntdatR", "", ""},
    {"histogram selection", [](const ifc_endpoint *ep, std::string *s) {
       ifc_hist_select h; int rc = ifc_get_hist_select(ep, &h);
       add(s, "%d %s %d %s", h.left_colour, h.left_item, h.right_colour, h.right_item);
       return rc; },
     0, "IFC_get_hst_select", "", ""},
    {"set targets", [](const ifc_endpoint *ep, std::string *) {
       return ifc_set_targets(ep, 4, 95, 250); },
     0, "IFC_get_Tot_Twt_4", "to:95 tw:250 ", ""},
    {"set status", [](const ifc_endpoint *ep, std::string *) {
       return ifc_set_status(ep, 3, 1, 9); },
     0, "IFC_get_stat", "color:3 mode:1 totw_sw:9 ", ""},
    {"set a flag", [](const ifc_endpoint *ep, std::string *) {
       return ifc_set_flag(ep, IFC_FLAG_SUB7, 1); },
     0, "IFC_get_select_item", " sub6:0 sub7:1 sub8:0 ", ""},
    {"clear the flags", [](const ifc_endpoint *ep, std::string *) {
       return ifc_clear_flags(ep); },
     0, "IFC_get_select_item", " sub6:0 sub7:0 sub8:0 ", ""},
    {"set a valve point", [](const ifc_endpoint *ep, std::string *) {
       return ifc_set_valve(ep, 5, IFC_VALVE_MAIN_ON, 77); },
     0, "IFC_get_on_off_5", " main_on:77 main_off:160 ", ""},
    {"set valve points, the last of an item counts", [](const ifc_endpoint *ep, std::string *) {
       const int items[] = {IFC_VALVE_SUB1_ON, IFC_VALVE_SUB1_OFF, IFC_VALVE_SUB1_ON};
       const int32_t values[] = {11, 12, 13};
       return ifc_set_valves(ep, 6, items, values, 3); },
     0, "IFC_get_on_off_6", " sub1_on:13 sub1_off:12 sub2_on:115 ", ""},
    {"select a histogram", [](const ifc_endpoint *ep, std::string *) {
       return ifc_select_histogram(ep, IFC_LEFT, 3, IFC_HIST_TB2); },
     0, "IFC_get_hst_select", "3 tb2 2 tw", ""},
    {"clear a histogram", [](const ifc_endpoint *ep, std::string *) {
       return ifc_clear_histogram(ep, 2, IFC_HIST_TW_TBW); },
     0, "", "", "clear_histo: color=2, item_no=11\n"},
    {"set the histograms", [](const ifc_endpoint *ep, std::string *) {
       const ifc_hist_setup s = {1, IFC_HIST_TW, 10, 2, IFC_HIST_TBW, 10, 500};
       return ifc_set_histograms(ep, &s); },
     0, "", "", "set_histo(L c=1, i=10, t=10, R c=2, i=9, t=10, samp=500)\n"},
    {"let-off button", [](const ifc_endpoint *ep, std::string *) {
       return ifc_set_letoff_button(ep, "<b>off now"); },
     0, "", "", "<b>off now\n"},
    {"log lines", [](const ifc_endpoint *ep, std::string *) {
       int rc = ifc_log_line(ep, "job 42 done");
       return rc != 0 ? rc : ifc_log_line(ep, ""); },
     0, "", "", ""},
};
// clang-format on

TEST(LibCommands, EachCallReadsOrChangesWhatItSays) {
  ServerProcess server;
  const ifc_endpoint ep = at(server.port());
  for (const row &r : kRows) {
    std::string shown;
    EXPECT_EQ(r.call(&ep, &shown), r.rc) << r.name;
    if (*r.get != '\0') {
      const std::string reply = server.Get(r.get);
      if (*r.shows == '\0') {
        EXPECT_EQ(shown, reply) << r.name;
      } else {
        EXPECT_NE(reply.find(r.shows), std::string::npos) << r.name << ": " << reply;
      }
    }
    if (*r.printed != '\0') {
      EXPECT_NE(server.WaitForOutput(r.printed).find(r.printed), std::string::npos)
          << r.name;
    }
  }
  EXPECT_EQ(testing_support::read_file(server.file(IFC_LOG_FILE)), "job 42 done\n\n");
}

// What the library refuses is never sent: the scripted server sees only the
// request that ends the test.
TEST(LibCommands, RefusedBeforeSending) {
  ScriptedServer server({"<1"});
  const ifc_endpoint ep = at(server.port());
  ifc_to_tw t;
  const int items[] = {IFC_VALVE_MAIN_ON, IFC_VALVES};
  const int32_t values[] = {1, 2};
  const ifc_hist_setup wide = {-1000000000, IFC_HIST_TW, -1000000000, 1,
                               IFC_HIST_TW, 10,          500};
  const struct {
    const char *name;
    int rc, want;
  } cases[] = {
      {"colour 0", ifc_get_targets(&ep, 0, &t), IFC_EUSAGE},
      {"no result", ifc_get_status(&ep, nullptr), IFC_EUSAGE},
      {"no such flag", ifc_set_flag(&ep, IFC_FLAGS, 1), IFC_EUSAGE},
      {"no such valve item", ifc_set_valves(&ep, 1, items, values, 2), IFC_EUSAGE},
      {"no such side", ifc_select_histogram(&ep, 2, 1, IFC_HIST_TW), IFC_EUSAGE},
      {"colour beyond the selection's", ifc_select_histogram(&ep, IFC_LEFT, 9, 0),
       IFC_EUSAGE},
      {"clear text over 10 bytes", ifc_clear_histogram(&ep, -100000, IFC_HIST_TW_TBW),
       IFC_ERANGE},
      {"set text over 32 bytes", ifc_set_histograms(&ep, &wide), IFC_ERANGE},
      {"a line end in a log line", ifc_log_line(&ep, "one\ntwo"), IFC_EFORM},
  };
  for (const auto &c : cases) EXPECT_EQ(c.rc, c.want) << c.name;
  EXPECT_EQ(ifc_put_payload(&ep, "", 0), IFC_ECLOSED);
  server.Join();
  EXPECT_EQ(server.received, "P");
}

enum edit { renamed, refused };

// A set file whose record the server cannot write (renamed, or of a type
// it refuses): the change is delivered, the read-back shows what the
// controller holds instead.
TEST(LibCommands, ChangesNotTakenAreReportedWithWhatIsHeld) {
  static const struct {
    const char *name;
    const char *file, *record;
    edit change;
    int (*call)(const ifc_endpoint *ep, std::string *held);
    int rc;
    const char *held;
  } cases[] = {
      // clang-format off
      {"targets, TW unwritable", IFC_SET_FILE, "Twt", renamed,
       [](const ifc_endpoint *ep, std::string *held) {
         ifc_to_tw t{-7, -7}; int rc = ifc_set_targets_checked(ep, 1, 95, 250, &t);
         add(held, "%d %d", t.to, t.tw); return rc; },
       IFC_ENOTTAKEN, "95 0"},
      {"status refused", IFC_SET_FILE, "STAT_1", refused,
       [](const ifc_endpoint *ep, std::string *held) {
         ifc_status t{-7, -7, -7}; int rc = ifc_set_status_checked(ep, 3, 1, 1, &t);
         add(held, "%d %d %d", t.color, t.mode, t.totw_sw); return rc; },
       IFC_ENOTTAKEN, "0 0 0"},
      {"a flag unwritable", IFC_SET_FILE, "S2", renamed,
       [](const ifc_endpoint *ep, std::string *held) {
         int32_t v = -7; int rc = ifc_set_flag_checked(ep, IFC_FLAG_SUB7, 1, &v);
         add(held, "%d", v); return rc; },
       IFC_ENOTTAKEN, "0"},
      {"one of two valve points unwritable", IFC_VALVE_FILE, "VAL_main_off", renamed,
       [](const ifc_endpoint *ep, std::string *held) {
         const int items[] = {IFC_VALVE_MAIN_ON, IFC_VALVE_MAIN_OFF};
         const int32_t values[] = {91, 161};
         ifc_valve_points p; int rc = ifc_set_valves_checked(ep, 2, items, values, 2, &p);
         add(held, "%d %d", p.value[IFC_VALVE_MAIN_ON], p.value[IFC_VALVE_MAIN_OFF]);
         return rc; },
       IFC_ENOTTAKEN, "91 0"},
      {"histogram selection unwritable", IFC_SET_FILE, "STAT_2", renamed,
       [](const ifc_endpoint *ep, std::string *held) {
         ifc_hist_select t{}; int rc = ifc_select_histogram_checked(ep, IFC_LEFT, 4, 1, &t);
         add(held, "%d %s", t.left_colour, t.left_item); return rc; },
       IFC_ENOTTAKEN, "0 ?"},
      {"flags cleared, one record unwritable: all read 0, taken", IFC_SET_FILE, "S4", renamed,
       [](const ifc_endpoint *ep, std::string *held) {
         ifc_flags f; int rc = ifc_clear_flags_checked(ep, &f);
         add(held, "%d", f.value[IFC_FLAG_SUB20]); return rc; },
       0, "0"},
      {"another record renamed: taken", IFC_VALVE_FILE, "VAL_main_off", renamed,
       [](const ifc_endpoint *ep, std::string *held) {
         int32_t v = -7; int rc = ifc_set_valve_checked(ep, 3, IFC_VALVE_SUB2_ON, 33, &v);
         add(held, "%d", v); return rc; },
       0, "33"},
      // clang-format on
  };
  ServerProcess server;
  const ifc_endpoint ep = at(server.port());
  for (const auto &c : cases) {
    std::string image = DefaultImage(c.file);
    const int pos = RecordPosition(image, c.record);
    ASSERT_GT(pos, 0) << c.name;
    const std::size_t at = static_cast<std::size_t>(pos - 1) * IFC_RECORD_SIZE;
    if (c.change == refused) testing_support::PutLe32(image, at, 9);
    if (c.change == renamed) image[at + 4] = 'x';
    testing_support::write_file(server.file(IFC_SET_FILE), DefaultImage(IFC_SET_FILE));
    testing_support::write_file(server.file(IFC_VALVE_FILE),
                                DefaultImage(IFC_VALVE_FILE));
    testing_support::write_file(server.file(c.file), image);
    std::string held;
    EXPECT_EQ(c.call(&ep, &held), c.rc) << c.name;
    EXPECT_EQ(held, c.held) << c.name;
  }
}

}  // namespace
