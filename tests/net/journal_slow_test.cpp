// The journal's results that take real time: a client silent where the
// server waits (5 s), and a PUT whose first block is trickled past the
// transfer's deadline (10 s), so that the second one never starts.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/journal_lines.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace std::string_literals;

TEST(JournalSlow, TimeoutAndCut) {
  const std::string payload = "append_log\0"s + std::string(2048 - 11, 'x');
  const struct {
    const char *name;
    bool trickle;  // else 10 header bytes, then silence
    std::string entry;
  } cases[] = {
      {"silent within the header", false,
       R"({"header":"GETIFC_get","result":"timeout","saved":[],"notes":[]})"},
      {"first block past the deadline", true,
       R"({"verb":"PUT","length":2048,"command":"append_log","text":")" +
           std::string(1024 - 11, 'x') + R"(","result":"cut","saved":[],"notes":[]})"},
  };
  for (const auto &c : cases) {
    testing_support::TempDir dir;
    const auto server = testing_support::JournalServer(dir.file("journal.jsonl"));
    testing_support::RawConnection conn(server->port());
    if (c.trickle) {
      ASSERT_TRUE(conn.Send(testing_support::PutHeader(payload.size())));
      ASSERT_EQ(conn.Read(4), "NEXT") << c.name;
      // All but three bytes of the block, then one every 4 s (each wait under
      // 5 s): the block ends 12 s after it began.
      ASSERT_TRUE(conn.Send(payload.substr(0, 1021)));
      for (size_t i = 1021; i < 1024; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(4));
        ASSERT_TRUE(conn.Send(payload.substr(i, 1))) << c.name;
      }
    } else {
      ASSERT_TRUE(conn.Send("GETIFC_get"));
    }
    ASSERT_TRUE(conn.ReadToClose(std::chrono::seconds(30)).has_value()) << c.name;
    EXPECT_EQ(testing_support::JournalEntry(*server, dir.file("journal.jsonl"), 1).dump(),
              nlohmann::ordered_json::parse(c.entry).dump())
        << c.name;
  }
}

}  // namespace
