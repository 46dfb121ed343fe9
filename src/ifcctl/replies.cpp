#include "ifcctl/replies.hpp"

#include <charconv>

namespace ifcctl {

namespace {

// Splits at runs of blanks; blanks at either end produce no word.
std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    std::size_t end = text.find(' ', i);
    if (end == std::string_view::npos) end = text.size();
    out.push_back(text.substr(i, end - i));
    i = end;
  }
  return out;
}

// The whole word must be the number: "12x", "", "+1" and overflow fail.
template <typename T>
bool whole_number(std::string_view word, T *out) {
  if (word.empty()) return false;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), *out);
  return ec == std::errc() && end == word.data() + word.size();
}

}  // namespace

std::optional<std::vector<piece>> parse_pieces(std::string_view text) {
  std::vector<piece> out;
  for (std::string_view w : words(text)) {
    std::size_t colon = w.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    piece p;
    p.key = std::string(w.substr(0, colon));
    if (!whole_number(w.substr(colon + 1), &p.value)) return std::nullopt;
    out.push_back(std::move(p));
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::optional<std::int32_t> find_piece(const std::vector<piece> &pieces,
                                       std::string_view key) {
  for (const piece &p : pieces)
    if (p.key == key) return p.value;
  return std::nullopt;
}

std::optional<std::pair<hist_side, hist_side>> parse_hst_select(std::string_view text) {
  std::vector<std::string_view> w = words(text);
  if (w.size() != 4) return std::nullopt;
  hist_side left, right;
  if (!whole_number(w[0], &left.colour) || !whole_number(w[2], &right.colour))
    return std::nullopt;
  left.item = std::string(w[1]);
  right.item = std::string(w[3]);
  return std::make_pair(left, right);
}

std::optional<histogram_counts> parse_histogram(std::string_view text) {
  std::vector<std::string_view> w = words(text);
  if (w.size() < 5) return std::nullopt;
  histogram_counts h;
  if (!whole_number(w[0], &h.n1) || !whole_number(w[1], &h.n2) ||
      !whole_number(w[2], &h.decimal) || !whole_number(w[3], &h.n3) ||
      !whole_number(w[4], &h.n4))
    return std::nullopt;
  for (std::size_t i = 5; i < w.size(); ++i) {
    std::int32_t count = 0;
    if (!whole_number(w[i], &count)) return std::nullopt;
    h.bins.push_back(count);
  }
  return h;
}

}  // namespace ifcctl
