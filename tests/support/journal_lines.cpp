#include "support/journal_lines.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "net/journal.hpp"
#include "support/temp_dir.hpp"

namespace testing_support {

std::vector<nlohmann::ordered_json> JournalEntries(const std::string &path) {
  const std::string text = read_file(path);
  std::vector<nlohmann::ordered_json> entries;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      ADD_FAILURE() << path << ": a line without its line end: " << text.substr(at);
      break;
    }
    auto entry = nlohmann::ordered_json::parse(text.substr(at, end - at), nullptr, false);
    if (entry.is_object()) {
      entries.push_back(std::move(entry));
    } else {
      ADD_FAILURE() << path << ": not a JSON object: " << text.substr(at, end - at);
    }
    at = end + 1;
  }
  return entries;
}

std::string JournalBytes(const nlohmann::ordered_json &s) {
  std::string bytes;
  if (!s.is_string()) {
    ADD_FAILURE() << "not a string: " << s.dump();
    return bytes;
  }
  // The parser gives the characters as UTF-8: one or two bytes each here.
  const std::string &utf8 = s.get_ref<const std::string &>();
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else if ((c == 0xc2 || c == 0xc3) && i + 1 < utf8.size()) {
      bytes.push_back(static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3f)));
    } else {
      ADD_FAILURE() << "a character above U+00FF in " << s.dump();
      break;
    }
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
