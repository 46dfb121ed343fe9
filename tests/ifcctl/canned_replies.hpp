// Replies of a server with default settings, written out from the documented
// reply formats, for the tests of ifcctl's readers and renderers.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ifcctl_test {

// The 45 valve items of the on/off replies with their default points.
inline const std::vector<std::pair<std::string, int>> &default_on_off_items() {
  static const std::vector<std::pair<std::string, int>> items = [] {
    std::vector<std::pair<std::string, int>> v = {
        {"pin_on", 70},     {"abs_on", 215},   {"abs_off", 255},    {"main_on", 90},
        {"main_off", 160},  {"tandem_on", 95}, {"tandem_off", 150}, {"stretch_on", 0},
        {"stretch_off", 0}, {"sub1_on", 95},   {"sub1_off", 135},   {"sub2_on", 115},
        {"sub2_off", 155},  {"sub3_on", 135},  {"sub3_off", 175},   {"sub4_on", 150},
        {"sub4_off", 190},  {"sub5_on", 165},  {"sub5_off", 205},   {"sub6_on", 185},
        {"sub6_off", 280},  {"sub7_on", 200},  {"sub7_off", 300},   {"sub8_on", 220},
        {"sub8_off", 300}};
    for (int n = 9; n <= 18; ++n) {
      v.push_back({"sub" + std::to_string(n) + "_on", 0});
      v.push_back({"sub" + std::to_string(n) + "_off", 0});
    }
    return v;
  }();
  return items;
}

inline std::string default_on_off_reply() {
  std::string s = "ATC_TO_DELAY:0 ";
  for (const auto &[name, value] : default_on_off_items())
    s += name + ":" + std::to_string(value) + " ";
  return s;
}

inline std::string default_selection_reply() {
  std::string s = "pin:0 abs:0 main:0 tandem:0 stretch:0 ";
  for (int n = 1; n <= 20; ++n) s += "sub" + std::to_string(n) + ":0 ";
  return s;
}

// Side 0 (left) has 4.65, the right side 4.52.
inline std::string histogram_reply(bool left) {
  static const int curve[] = {10,  30,  50,  120, 160, 210, 250, 280, 290, 300,
                              290, 280, 250, 210, 160, 120, 50,  30,  10};
  std::string s = left ? "234 500 4.65 190 500" : "234 500 4.52 190 500";
  for (int i = 0; i < 14; ++i) s += " 0";
  for (int v : curve) s += " " + std::to_string(v);
  for (int i = 0; i < 13; ++i) s += " 0";
  return s;
}

// Every GET that `ifcctl show` sends, answered as with the defaults.
inline std::map<std::string, std::string> default_replies() {
  std::map<std::string, std::string> r;
  r["IFC_get_stat"] = "color:1 mode:0 totw_sw:0 ";
  r["IFC_get_select_item"] = default_selection_reply();
  for (int c = 1; c <= 6; ++c) {
    std::string n = std::to_string(c);
    r["IFC_get_Tot_Twt_" + n] = "to:90 tw:240 ";
    r["IFC_get_To_Tw_" + n] = c == 2 ? "to:92 tw:252 " : "to:92 tw:242 ";
    r["IFC_get_on_off_" + n] = default_on_off_reply();
  }
  r["IFC_get_hst_select"] = "1 tw 2 tw";
  r["IFC_get_hist_cntdatL"] = histogram_reply(true);
  r["IFC_get_hist_cntdatR"] = histogram_reply(false);
  return r;
}

}  // namespace ifcctl_test
