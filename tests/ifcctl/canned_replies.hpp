// Replies of a server with default settings, for the tests of ifcctl's
// readers and renderers: the server's own GET handlers run on the checked-in
// default set files (tests/data), so nothing here restates a default.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dispatch/ether_parse.hpp"
#include "ifcsim_config.hpp"
#include "support/set_images.hpp"
#include "support/temp_dir.hpp"

namespace ifcctl_test {

// Every GET that `ifcctl show` sends, answered as with the defaults.
inline const std::map<std::string, std::string> &default_replies() {
  static const std::map<std::string, std::string> replies = [] {
    std::vector<std::string> names = {"IFC_get_stat", "IFC_get_select_item",
                                      "IFC_get_hst_select", "IFC_get_hist_cntdatL",
                                      "IFC_get_hist_cntdatR"};
    for (int c = 1; c <= 6; ++c) {
      const std::string n = std::to_string(c);
      for (const char *stem : {"IFC_get_Tot_Twt_", "IFC_get_To_Tw_", "IFC_get_on_off_"})
        names.push_back(stem + n);
    }
    testing_support::ScopedWorkDir dir;
    for (const char *file : {kIfcSetFile, kValveSetFile})
      testing_support::write_file(file, testing_support::DefaultImage(file));
    static char buf[kMaxPayload + 1];
    std::map<std::string, std::string> r;
    for (const std::string &name : names) {
      // The command field as it arrives: the name filled with blanks.
      std::string field = name;
      field.resize(kCommandFieldSize, ' ');
      const int n = ether_get_data(field.c_str(), buf);
      r[name] = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
    }
    return r;
  }();
  return replies;
}

// The reply of one of them.
inline const std::string &default_reply(const std::string &name) {
  return default_replies().at(name);
}

inline const std::string &default_on_off_reply() {
  return default_reply("IFC_get_on_off_1");
}

// The 45 valve items of the on/off replies with their default points, in
// reply order (ATC_TO_DELAY, the fixed first piece, left out).
inline const std::vector<std::pair<std::string, int>> &default_on_off_items() {
  static const std::vector<std::pair<std::string, int>> items = [] {
    std::vector<std::pair<std::string, int>> v;
    const std::string &reply = default_on_off_reply();
    for (size_t at = 0; at < reply.size();) {
      const size_t colon = reply.find(':', at);
      const size_t blank = reply.find(' ', colon);
      const std::string key = reply.substr(at, colon - at);
      if (key != "ATC_TO_DELAY")
        v.emplace_back(key, std::stoi(reply.substr(colon + 1, blank - colon - 1)));
      at = blank + 1;
    }
    return v;
  }();
  return items;
}

// Side 0 (left) or the right side.
inline const std::string &histogram_reply(bool left) {
  return default_reply(left ? "IFC_get_hist_cntdatL" : "IFC_get_hist_cntdatR");
}

}  // namespace ifcctl_test
