// Every page read with a GET against a fresh server: the status and headers,
// exactly the requests the page needs, and the values it shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cgi.hpp"

namespace console_test {
namespace {

using ConsolePages = ConsoleTest;

std::vector<std::string> six(const std::string &prefix) {
  std::vector<std::string> v;
  for (int c = 1; c <= 6; ++c) v.push_back("GET " + prefix + std::to_string(c));
  return v;
}

struct shown {
  const char *id;
  const char *attr;  // null: the element's text
  const char *value;
};

TEST_F(ConsolePages, ShowTheServersValuesWithOnlyTheRequestsTheyNeed) {
  std::vector<std::string> overview = {"GET IFC_get_stat"};
  for (int c = 1; c <= 6; ++c) {
    overview.push_back("GET IFC_get_Tot_Twt_" + std::to_string(c));
    overview.push_back("GET IFC_get_To_Tw_" + std::to_string(c));
  }
  for (const char *n : {"IFC_get_select_item", "IFC_get_hst_select",
                        "IFC_get_hist_cntdatL", "IFC_get_hist_cntdatR"})
    overview.push_back(std::string("GET ") + n);

  static const struct {
    const char *name, *page, *query;
    std::vector<std::string> requests;
    std::vector<shown> values;
  } cases[] = {
      {"overview",
       "overview.cgi",
       "",
       overview,
       {{"stat-color", nullptr, "1"},
        {"target-to-3", nullptr, "90"},
        {"target-tw-6", nullptr, "240"},
        {"measured-tw-2", nullptr, "252"},
        {"sel-sub20", "data-value", "0"},
        {"hist-left", "aria-label", "left: item tw, colour 1"},
        {"hist-right", "aria-label", "right: item tw, colour 2"}}},
      {"targets",
       "targets.cgi",
       "",
       six("IFC_get_Tot_Twt_"),
       {{"to1", "value", "90"}, {"tw6", "value", "240"}}},
      {"valves, colour 1 by default",
       "valves.cgi",
       "",
       six("IFC_get_on_off_"),
       {{"pin_on", "value", "70"},
        {"sub18_off", "value", "0"},
        {"v-abs_on-2", nullptr, "215"},
        {"v-main_off-6", nullptr, "160"}}},
      {"valves, colour 4",
       "valves.cgi",
       "colour=4",
       six("IFC_get_on_off_"),
       {{"v-pin_on-1", nullptr, "70"}, {"v-pin_on-4", "class", "edit"}}},
      {"selection",
       "selection.cgi",
       "",
       {"GET IFC_get_select_item", "GET IFC_get_stat"},
       {{"pin", "value", "1"}, {"color", "value", "1"}, {"totw_sw", "value", "0"}}},
      {"histograms",
       "histograms.cgi",
       "",
       {"GET IFC_get_hst_select", "GET IFC_get_hist_cntdatL", "GET IFC_get_hist_cntdatR"},
       {{"left-item-shown", nullptr, "tw"},
        {"right-colour-shown", nullptr, "2"},
        {"left-colour", "name", "colour"},
        {"samp", "value", "500"}}},
      {"measurements",
       "measurements.cgi",
       "",
       six("IFC_get_histo_ave_"),
       {{"m-to-1", nullptr, "92"},
        {"m-tb1-2", nullptr, "130"},
        {"m-tb3-1", nullptr, "190"},
        {"m-tw-2", nullptr, "252"}}},
      {"let-off",
       "letoff.cgi",
       "",
       {},
       {{"text", "name", "text"}, {"note", "name", "note"}}},
  };
  for (const auto &c : cases) {
    cgi_response r = get(c.page, c.query);
    EXPECT_EQ(r.exit_status, 0) << c.name;
    EXPECT_EQ(r.status, 200) << c.name;
    EXPECT_EQ(r.headers["Content-Type"], "text/html; charset=utf-8") << c.name;
    EXPECT_NE(r.headers["Content-Security-Policy"].find("frame-ancestors 'none'"),
              std::string::npos)
        << c.name;
    EXPECT_TRUE(r.body.ends_with("</html>\n")) << c.name;
    EXPECT_EQ(attr_of(r.body, "nav", "id"), "nav") << c.name;
    EXPECT_EQ(served(), c.requests) << c.name;
    for (const shown &s : c.values)
      EXPECT_EQ(s.attr ? attr_of(r.body, s.id, s.attr) : text_of(r.body, s.id), s.value)
          << c.name << ": " << s.id;
  }
}

TEST_F(ConsolePages, DrawTheHistogramsWithEveryBin) {
  static const struct {
    const char *name, *page, *chart;
  } cases[] = {{"overview", "overview.cgi", "hist-left"},
               {"histograms left", "histograms.cgi", "hist-left"},
               {"histograms right", "histograms.cgi", "hist-right"}};
  for (const auto &c : cases) {
    std::string body = get(c.page).body;
    size_t from = body.find(std::string("id=\"") + c.chart + "\"");
    ASSERT_NE(from, std::string::npos) << c.name;
    std::string svg = body.substr(from, body.find("</svg>", from) - from);
    EXPECT_EQ(testing_support::CountOccurrences(svg, "class=\"bar\""), 46) << c.name;
    EXPECT_NE(svg.find("data-bin=\"23\" data-count=\"300\""), std::string::npos)
        << c.name;
    EXPECT_NE(svg.find("data-bin=\"0\" data-count=\"0\""), std::string::npos) << c.name;
  }
  std::string histograms = get("histograms.cgi").body;
  EXPECT_NE(histograms.find(">bin</text>"), std::string::npos);
  EXPECT_NE(histograms.find(">count</text>"), std::string::npos);
  // The five header values, in the order of the reply.
  for (const char *side : {"left", "right"}) {
    size_t at = histograms.find(std::string("id=\"") + side + "-header\"");
    std::string table = histograms.substr(at, histograms.find("</table>", at) - at);
    std::string decimal = std::string(side) == "left" ? "4.65" : "4.52";
    EXPECT_NE(table.find("<td>234</td><td>500</td><td>" + decimal +
                         "</td><td>190</td><td>500</td>"),
              std::string::npos)
        << side;
  }
}

TEST_F(ConsolePages, MeasurementsReloadThemselves) {
  std::string body = get("measurements.cgi").body;
  EXPECT_NE(body.find("<meta http-equiv=\"refresh\" content=\"3\">"), std::string::npos);
  EXPECT_EQ(get("targets.cgi").body.find("http-equiv=\"refresh\""), std::string::npos);
}

}  // namespace
}  // namespace console_test
