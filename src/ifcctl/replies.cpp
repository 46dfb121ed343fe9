#include "ifcctl/replies.hpp"

#include <climits>

#include "ifcsim/lib_client.h"
#include "ifcsim/lib_reply.h"

// The readers of the support library do the parsing, so that ifcctl accepts
// exactly the replies a CGI program accepts.

namespace ifcctl {

namespace {

bool fits_int(std::string_view text) {
  return text.size() <= static_cast<size_t>(INT_MAX);
}

}  // namespace

std::optional<std::vector<piece>> parse_pieces(std::string_view text) {
  if (!fits_int(text)) return std::nullopt;
  // Every piece takes at least four bytes ("k:0 ").
  std::vector<ifc_pair> pairs(text.size() / 4 + 1);
  const int n = ifc_parse_pairs(text.data(), static_cast<int>(text.size()), pairs.data(),
                                static_cast<int>(pairs.size()));
  if (n < 0) return std::nullopt;
  std::vector<piece> out;
  out.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out.push_back({pairs[i].key, pairs[i].value});
  return out;
}

std::optional<std::int32_t> find_piece(const std::vector<piece> &pieces,
                                       std::string_view key) {
  for (const piece &p : pieces)
    if (p.key == key) return p.value;
  return std::nullopt;
}

std::optional<std::pair<hist_side, hist_side>> parse_hst_select(std::string_view text) {
  ifc_hist_select s;
  if (!fits_int(text) ||
      ifc_parse_hist_select(text.data(), static_cast<int>(text.size()), &s) != 0)
    return std::nullopt;
  return std::make_pair(hist_side{s.left_colour, s.left_item},
                        hist_side{s.right_colour, s.right_item});
}

std::optional<histogram_counts> parse_histogram(std::string_view text) {
  ifc_histogram h;
  if (!fits_int(text) ||
      ifc_parse_histogram(text.data(), static_cast<int>(text.size()), &h) != 0)
    return std::nullopt;
  histogram_counts out;
  out.n1 = h.n1;
  out.n2 = h.n2;
  out.decimal = h.decimal;
  out.n3 = h.n3;
  out.n4 = h.n4;
  out.bins.assign(h.bins, h.bins + IFC_HIST_BINS);
  return out;
}

}  // namespace ifcctl
