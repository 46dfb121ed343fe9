#include "support/journal_lines.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "net/journal.hpp"
#include "support/temp_dir.hpp"

namespace testing_support {

std::vector<nlohmann::ordered_json> JournalEntries(const std::string &path) {
  const std::string text = read_file(path);
  std::vector<nlohmann::ordered_json> entries;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    entries.push_back(nlohmann::ordered_json::parse(line, nullptr, false));
    EXPECT_TRUE(end != std::string::npos && entries.back().is_object())
        << path << ": " << line;
    if (end == std::string::npos) break;
  }
  return entries;
}

std::string JournalBytes(const nlohmann::ordered_json &s) {
  // The parser gives U+0000..U+00FF as UTF-8: one byte, or 0xC2/0xC3 and one.
  const std::string utf8 = s.is_string() ? s.get<std::string>() : "<not a string>";
  std::string bytes;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    bytes.push_back(c < 0x80 ? static_cast<char>(c)
                             : static_cast<char>((c & 3) << 6 | (utf8[++i] & 0x3f)));
  }
  return bytes;
}

std::unique_ptr<ServerProcess> JournalServer(const std::string &journal_path,
                                             const std::string &dir) {
  auto setup = [journal_path] {
    if (journal_open(journal_path.c_str()) != 0) std::_Exit(3);
  };
  return dir.empty() ? std::make_unique<ServerProcess>(setup)
                     : std::make_unique<ServerProcess>(dir, setup);
}

}  // namespace testing_support
