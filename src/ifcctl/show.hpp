// `ifcctl show`: everything a person wants to see of the server on one
// screen, gathered with ordinary GETs and drawn as text or JSON.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/ifc_client.hpp"
#include "ifcctl/replies.hpp"

namespace ifcctl {

// Runs one GET. The tool binds ifc::get to its endpoint; tests pass canned replies.
using fetch_fn = std::function<ifc::get_result(std::string_view name)>;

struct histogram_view {
  hist_side selected;
  histogram_counts counts;
};

// Per colour number shown: the replies of the three per-colour GETs.
struct colour_view {
  int colour = 0;
  std::vector<piece> target;    // IFC_get_Tot_Twt_c
  std::vector<piece> measured;  // IFC_get_To_Tw_c
  std::vector<piece> on_off;    // IFC_get_on_off_c
};

struct show_data {
  std::vector<piece> status;     // IFC_get_stat
  std::vector<piece> selection;  // IFC_get_select_item
  std::vector<colour_view> colours;
  histogram_view left, right;  // IFC_get_hst_select, IFC_get_hist_cntdatL/R
};

struct show_error {
  // The transfer error, or none when the server answered but the reply was
  // unknown (-1) or not in the expected format.
  ifc::client_error error = ifc::client_error::none;
  std::string message;
};

// Fills *out with one GET per piece of information, for the given colour
// numbers (each 1..6). Stops at the first failure and returns it.
std::optional<show_error> collect_show(const fetch_fn &fetch,
                                       const std::vector<int> &colours, show_data *out);

// The screen: status, selection flags, timings and on/off points with one
// column per colour number, and both histograms as bar charts.
std::string render_show(const show_data &data);

// The same data as one JSON document.
nlohmann::ordered_json show_json(const show_data &data);

// A vertical bar chart of the bins, `height` rows tall, one column per bin,
// scaled to the largest count; a count above 0 always shows at least one mark.
std::string render_bars(const std::vector<std::int32_t> &bins, int height);

}  // namespace ifcctl
