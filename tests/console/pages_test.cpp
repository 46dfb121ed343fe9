// Every page read with a GET against a fresh server: the status and headers,
// exactly the requests the page needs, and the values it shows.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cgi.hpp"
#include "support/temp_dir.hpp"

namespace console_test {
namespace {

using ConsolePages = ConsoleTest;

std::vector<std::string> gets(const std::string &prefix,
                              std::vector<std::string> more = {}) {
  std::vector<std::string> v;
  for (int c = 1; c <= 6; ++c) v.push_back("GET " + prefix + std::to_string(c));
  v.insert(v.end(), more.begin(), more.end());
  return v;
}

TEST_F(ConsolePages, ShowTheServersValuesWithOnlyTheRequestsTheyNeed) {
  std::vector<std::string> overview = {"GET IFC_get_stat"};
  for (int c = 1; c <= 6; ++c)
    for (const char *n : {"GET IFC_get_Tot_Twt_", "GET IFC_get_To_Tw_"})
      overview.push_back(n + std::to_string(c));
  for (const char *n : {"GET IFC_get_select_item", "GET IFC_get_hst_select",
                        "GET IFC_get_hist_cntdatL", "GET IFC_get_hist_cntdatR"})
    overview.push_back(n);
  const std::vector<std::string> histograms = {
      "GET IFC_get_hst_select", "GET IFC_get_hist_cntdatL", "GET IFC_get_hist_cntdatR"};

  // clang-format off
  const struct {
    const char *page, *query;
    std::vector<std::string> requests;
    std::vector<std::pair<const char *, const char *>> shows;
  } cases[] = {
      {"overview.cgi", "", overview,
       {{"stat-color", "1"}, {"target-to-3", "90"}, {"target-tw-6", "240"},
        {"measured-tw-2", "252"}, {"sel-sub20@data-value", "0"},
        {"hist-left@aria-label", "left: item tw, colour 1"},
        {"hist-right@aria-label", "right: item tw, colour 2"}, {"refresh", "(no such id)"}}},
      {"targets.cgi", "", gets("IFC_get_Tot_Twt_"), {{"to1@value", "90"}, {"tw6@value", "240"}}},
      {"valves.cgi", "", gets("IFC_get_on_off_"),
       {{"pin_on@value", "70"}, {"sub18_off@value", "0"}, {"v-abs_on-2", "215"},
        {"v-main_off-6", "160"}, {"v-pin_on-1@class", "edit"}}},
      {"valves.cgi", "colour=4", gets("IFC_get_on_off_"),
       {{"v-pin_on-1", "70"}, {"v-pin_on-4@class", "edit"}, {"colour-4", "4"}}},
      {"selection.cgi", "", {"GET IFC_get_select_item", "GET IFC_get_stat"},
       {{"pin@value", "1"}, {"pin@checked", "(none)"},
        {"color@value", "1"}, {"totw_sw@value", "0"}}},
      {"histograms.cgi", "", histograms,
       {{"left-item-shown", "tw"}, {"right-colour-shown", "2"}, {"left-colour@name", "colour"},
        {"samp@value", "500"}}},
      {"measurements.cgi", "", gets("IFC_get_histo_ave_"),
       {{"m-to-1", "92"}, {"m-tb1-2", "130"}, {"m-tb3-1", "190"}, {"m-tw-2", "252"},
        {"refresh@content", "3"}}},
      {"letoff.cgi", "", {}, {{"text@name", "text"}, {"note@name", "note"}}},
  };
  // clang-format on
  for (const auto &c : cases) {
    std::string name = std::string(c.page) + "?" + c.query;
    cgi_response r = get(c.page, c.query);
    EXPECT_EQ(r.exit_status, 0) << name;
    EXPECT_EQ(r.status, 200) << name;
    EXPECT_EQ(r.headers["Content-Type"], "text/html; charset=utf-8") << name;
    EXPECT_NE(r.headers["Content-Security-Policy"].find("frame-ancestors 'none'"),
              std::string::npos)
        << name;
    EXPECT_TRUE(r.body.ends_with("</html>\n")) << name;
    EXPECT_EQ(served(), c.requests) << name;
    for (const auto &[what, value] : c.shows)
      EXPECT_EQ(shown(r.body, what), value) << name << " " << what;
  }
}

TEST_F(ConsolePages, HistogramsAreDrawnWithEveryBinAndTheirHeaderValues) {
  std::string body = get("histograms.cgi").body;
  for (const char *side : {"left", "right"}) {
    size_t from = body.find(std::string("id=\"hist-") + side + "\"");
    std::string svg = body.substr(from, body.find("</svg>", from) - from);
    EXPECT_EQ(testing_support::CountOccurrences(svg, "class=\"bar\""), 46) << side;
    EXPECT_NE(svg.find("data-bin=\"23\" data-count=\"300\""), std::string::npos) << side;
    EXPECT_NE(svg.find(">bin</text>"), std::string::npos) << side;
    EXPECT_NE(svg.find(">count</text>"), std::string::npos) << side;
    std::string decimal = std::string(side) == "left" ? "4.65" : "4.52";
    EXPECT_NE(
        body.find("<td>234</td><td>500</td><td>" + decimal + "</td><td>190</td><td>500"),
        std::string::npos)
        << side;
  }
}

TEST_F(ConsolePages, SayWhatTheFilesTheyAreGivenHold) {
  testing_support::TempDir dir;
  std::string entries;  // 52 lines of one length
  for (int i = 10; i < 62; ++i)
    entries +=
        R"({"time":"t)" + std::to_string(i) +
        R"(","verb":"GET","command":"IFC_get_stat","result":"ok","saved":[],"notes":[]})"
        "\n";
  const std::string line = std::to_string(entries.size() / 52);
  const std::string lines2 = std::to_string(entries.size() / 26),
                    lines51 = std::to_string(entries.size() / 52 * 51);
  // clang-format off
  const struct {
    const char *name, *page, *variable;  // the file's variable, nullptr: none given
    std::string query;
    const char *content;  // nullptr: no such file
    int status;
    std::vector<std::pair<std::string, std::string>> shows;
    const char *says;
  } cases[] = {
      {"no journal named", "traffic.cgi", nullptr, "", nullptr, 200, {{"no-journal@class", "notice"}}, "--journal FILE"},
      {"no journal there", "traffic.cgi", "IFCSIM_JOURNAL", "", nullptr, 200, {{"no-journal@class", "notice"}}, "no such file yet"},
      {"a line that is no entry", "traffic.cgi", "IFCSIM_JOURNAL", "", "{\"time\":\n", 200, {}, "Not a journal entry (at byte 0): {&quot;time&quot;:<"},
      {"fifty entries a page", "traffic.cgi", "IFCSIM_JOURNAL", "", entries.c_str(), 200,
       {{"e-" + lines51 + "@data-result", "ok"}, {"e-" + lines2 + "@data-result", "ok"},
        {"e-" + line + "@data-result", "(no such id)"}, {"older@href", "traffic.cgi?before=" + lines2}}, ""},
      {"the older ones", "traffic.cgi", "IFCSIM_JOURNAL", "before=" + lines2, entries.c_str(), 200,
       {{"e-" + line + "@data-result", "ok"}, {"e-0@data-result", "ok"}, {"older", "(no such id)"}}, ""},
      {"an entry in full", "traffic.cgi", "IFCSIM_JOURNAL", "at=" + line + "&time=t11", entries.c_str(), 200,
       {{"title", "Traffic: one entry"}, {"f-result@class", "name"}}, "<pre class=\"bytes\">t11</pre>"},
      {"an entry no longer there", "traffic.cgi", "IFCSIM_JOURNAL", "at=" + line + "&time=t10", entries.c_str(), 404,
       {{"error@data-status", "404"}}, "rotated"},
      {"a result that is no word", "traffic.cgi", "IFCSIM_JOURNAL", "result=Not+found", entries.c_str(), 400,
       {{"field", "result"}, {"result@value", "Not found"}}, ""},
      {"no readings file there", "measurements.cgi", "IFCSIM_READINGS", "", nullptr, 200,
       {{"readings@data-state", "missing"}}, "the controller serves simulated values"},
      {"a readings file refused", "measurements.cgi", "IFCSIM_READINGS", "", "average 7 to:1\n", 200,
       {{"readings@data-state", "refused"}}, "is refused (line 1: "},
      {"a readings file in place", "histograms.cgi", "IFCSIM_READINGS", "", "left n1:1\nframe\nframe\n", 200,
       {{"readings@data-state", "in-place"}}, "2 frames in turn, the next at each request of a command"},
  };
  // clang-format on
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto &c = cases[i];
    const std::string path = dir.file("file" + std::to_string(i));
    if (c.content) testing_support::write_file(path, c.content);
    std::vector<std::string> env = {"IFCSIM_JOURNAL", "IFCSIM_READINGS"};
    if (c.variable) env.push_back(std::string(c.variable) + "=" + path);
    cgi_response r = run(c.page, "GET", c.query, "", env);
    EXPECT_EQ(r.status, c.status) << c.name;
    for (const auto &[what, value] : c.shows)
      EXPECT_EQ(shown(r.body, what), value) << c.name << " " << what;
    EXPECT_NE(r.body.find(c.says), std::string::npos) << c.name;
    served();
  }
}

}  // namespace
}  // namespace console_test
