// The journal's line against a real JSON parser (nlohmann-json). Whatever
// bytes the fields hold, the line is one line of printable ASCII that parses
// to one object, its fields in the fixed order, and every string gives back
// its bytes (one per character), cut at 4096 with the whole length beside.
//
// Byte 0 picks the entry: a header that is none, a GET (name, then reply) or
// a PUT (payload); bytes 1 and 2 the notes, the files and where the GET's
// name ends; the rest is the bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "net/journal.hpp"

namespace {

using nlohmann::ordered_json;

journal_entry entry;
char line[kJournalLineMax];

const char *const kOrder[] = {"time",        "ms",      "peer",  "verb",       "header",
                              "length",      "command", "text",  "text_bytes", "reply",
                              "reply_bytes", "result",  "saved", "notes"};

void expect(bool ok) {
  if (!ok) __builtin_trap();
}

// The bytes of the string j[key]: the parser gives U+0000..U+00FF as UTF-8.
std::string bytes_of(const ordered_json &j, const char *key) {
  expect(j.contains(key) && j.at(key).is_string());
  const std::string &s = j.at(key).get_ref<const std::string &>();
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    expect(c < 0x80 || ((c == 0xc2 || c == 0xc3) && i + 1 < s.size()));
    out.push_back(c < 0x80 ? static_cast<char>(c)
                           : static_cast<char>(((c & 3) << 6) | (s[++i] & 0x3f)));
  }
  return out;
}

// field holds the first 4096 of n bytes at p, and field_bytes n where cut
// (a name has no such field).
void expect_cut(const ordered_json &j, const char *field, const char *p, int n) {
  const int kept = n < kJournalCut ? n : kJournalCut;
  expect(bytes_of(j, field) == std::string(p, static_cast<std::size_t>(kept)));
  const std::string whole = std::string(field) + "_bytes";
  if (std::strcmp(field, "command") == 0) return;
  expect(n > kJournalCut ? j.contains(whole) && j.at(whole) == n : !j.contains(whole));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3 || size > 3 + 3 * kJournalCut) return 0;
  const char *bytes = reinterpret_cast<const char *>(data) + 3;
  const int n = static_cast<int>(size - 3);
  journal_start(entry, nullptr);
  const int shape = data[0] % 3;
  int name_len = 0;
  if (shape == 0) {
    journal_keep_header(entry, bytes, n);
  } else if (shape == 1) {
    entry.verb = "GET";
    name_len = data[2] % 21 < n ? data[2] % 21 : n;
    journal_keep_get_name(entry, bytes, name_len);
    entry.reply = bytes + name_len;
    entry.reply_bytes = n - name_len;
  } else {
    entry.verb = "PUT";
    entry.has_length = true;
    entry.length = n;
    journal_keep_payload(entry, bytes, n);
  }
  const exchange_record x{static_cast<std::uint32_t>(data[1] | data[2] << 8) & 0x7fff,
                          data[1] & 7u, 0};
  const int len = journal_format(entry, x, data[1] * 1000LL + data[2], line, sizeof line);

  // One line of printable ASCII, parsed by a real parser.
  expect(len > 0 && line[len - 1] == '\n');
  for (int i = 0; i + 1 < len; ++i) expect(line[i] >= 0x20 && line[i] < 0x7f);
  const ordered_json j = ordered_json::parse(line, line + len, nullptr, false);
  expect(j.is_object());
  std::size_t at = 0;
  for (const auto &item : j.items()) {
    while (at < std::size(kOrder) && item.key() != kOrder[at]) ++at;
    expect(at < std::size(kOrder));
  }
  if (shape == 0) {
    expect(bytes_of(j, "header") ==
           std::string(bytes, n < kHeaderSize ? n : kHeaderSize));
  } else if (shape == 1) {
    std::string name(bytes, static_cast<std::size_t>(name_len));
    name.erase(name.find_last_not_of(' ') + 1);
    expect(bytes_of(j, "command") == name);
    expect_cut(j, "reply", bytes + name_len, n - name_len);
  } else if (n == 0) {
    expect(!j.contains("command") && !j.contains("text"));  // nothing came
  } else {
    const char *nul = static_cast<const char *>(std::memchr(bytes, '\0', n));
    const char *text = nul != nullptr ? nul + 1 : bytes;
    if (nul != nullptr) expect_cut(j, "command", bytes, static_cast<int>(nul - bytes));
    expect_cut(j, "text", text, static_cast<int>(bytes + n - text));
  }
  expect(j.at("saved").size() == static_cast<std::size_t>(__builtin_popcount(x.saved)));
  expect(j.at("notes").size() == static_cast<std::size_t>(__builtin_popcount(x.notes)));
  return 0;
}
