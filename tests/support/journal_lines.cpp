#include "support/journal_lines.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

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

nlohmann::ordered_json JournalEntry(ServerProcess &server, const std::string &path,
                                    int n) {
  EXPECT_TRUE(server.WaitForRequests(n));
  const auto entries = JournalEntries(path);
  if (entries.size() != static_cast<size_t>(n))
    return "not the entry of request " + std::to_string(n);
  nlohmann::ordered_json e = entries.back();
  static const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
  EXPECT_TRUE(std::regex_match(e.value("time", ""), time)) << e;
  EXPECT_TRUE(e["ms"].is_number() && e["ms"] >= 0) << e;
  EXPECT_EQ(e.value("peer", "").rfind("127.0.0.1:", 0), 0u) << e;
  for (const char *varies : {"time", "ms", "peer"}) e.erase(varies);
  return e;
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
