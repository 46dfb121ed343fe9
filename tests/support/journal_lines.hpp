// The traffic journal as a test reads it: every line parsed by a real JSON
// parser (nlohmann-json), its strings turned back into the bytes they stand
// for; and a server child with the journal on.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/server_process.hpp"

namespace testing_support {

// Each line of the journal at path, parsed with its fields in file order. A
// line that is not one JSON object, or not ended by a line end, fails the
// test and is left out.
std::vector<nlohmann::ordered_json> JournalEntries(const std::string &path);

// The bytes a journal string stands for: one byte per character (Latin-1);
// a character above U+00FF fails the test.
std::string JournalBytes(const nlohmann::ordered_json &s);

// A ServerProcess whose journal is journal_path (absolute), opened in the
// child as the server's start-up does.
std::unique_ptr<ServerProcess> JournalServer(const std::string &journal_path,
                                             const std::string &dir = "");

}  // namespace testing_support
