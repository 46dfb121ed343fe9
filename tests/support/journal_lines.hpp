// The traffic journal as a test reads it, with a real JSON parser
// (nlohmann-json), and a server child that writes one.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/server_process.hpp"

namespace testing_support {

// Each line of the journal at path, parsed with its fields in file order. A
// line that is no JSON object, or has no line end, fails the test.
std::vector<nlohmann::ordered_json> JournalEntries(const std::string &path);

// The entry of request n (from 1) once the server has finished it, without
// time, ms and peer, whose form is checked.
nlohmann::ordered_json JournalEntry(ServerProcess &server, const std::string &path,
                                    int n);

// The bytes a journal string stands for, one per character (Latin-1).
std::string JournalBytes(const nlohmann::ordered_json &s);

// A ServerProcess (in dir, or a fresh one) with the journal at the absolute
// journal_path, opened in the child as the server's start-up does.
std::unique_ptr<ServerProcess> JournalServer(const std::string &journal_path,
                                             const std::string &dir = "");

}  // namespace testing_support
