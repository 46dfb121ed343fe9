// Readers of the server's reply texts, over the support library's readers
// (ifcsim/lib_reply.h): ifcctl takes exactly the replies a CGI program takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ifcctl {

// One "key:number " piece of a reply.
struct piece {
  std::string key;
  std::int32_t value = 0;
};

// Reads a reply made of "key:number " pieces (status, selection, targets,
// measured values, on/off points). Every piece is a key of 1 to 31 bytes
// without blank or colon, a colon, a whole signed 32-bit decimal number and
// one blank. Returns nullopt for anything else, or for a text with no piece.
std::optional<std::vector<piece>> parse_pieces(std::string_view text);

// The value of the first piece called key, or nullopt.
std::optional<std::int32_t> find_piece(const std::vector<piece> &pieces,
                                       std::string_view key);

// One side of the histogram selection: colour number and item name.
struct hist_side {
  std::int32_t colour = 0;
  std::string item;
};

// Reads the selection reply "%d %s %d %s" (left, then right), blanks
// single. nullopt when it is not exactly four words with numbers in the
// first and third, or an item name is longer than 15 bytes.
std::optional<std::pair<hist_side, hist_side>> parse_hst_select(std::string_view text);

// A histogram reply: five summary numbers, then one count per bin.
struct histogram_counts {
  std::int32_t n1 = 0, n2 = 0;  // the two integers before the decimal
  double decimal = 0;           // the number written with two decimals
  std::int32_t n3 = 0, n4 = 0;  // the two integers after it
  std::vector<std::int32_t> bins;
};

// Reads "%d %d %.2f %d %d" followed by " %d" for each of the 46 bins,
// blanks single, no trailing blank. nullopt when a word is no number of its
// kind or the count of bins differs.
std::optional<histogram_counts> parse_histogram(std::string_view text);

}  // namespace ifcctl
