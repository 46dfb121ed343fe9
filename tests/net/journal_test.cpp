// The traffic journal end to end: the real server loop on a free port with
// the journal on, real clients over real sockets, every line read back with
// a JSON parser.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "support/journal_lines.hpp"
#include "support/server_process.hpp"
#include "support/small_disk.hpp"
#include "support/temp_dir.hpp"

namespace {

using nlohmann::ordered_json;
using testing_support::JournalBytes;
using testing_support::JournalEntries;
using testing_support::JournalServer;
using testing_support::PutHeader;
using testing_support::RequestHeader;
using testing_support::TempDir;
using namespace std::string_literals;

// A GET (name) or PUT (payload) through the project's client, which waits for
// every "NEXT"; or raw bytes sent at once, the sending side then shut.
struct request {
  const char *get;
  std::string payload{}, raw{};
};

void send(const testing_support::ServerProcess &server, const request &r) {
  if (r.get != nullptr) {
    server.Get(r.get);
  } else if (r.raw.empty()) {
    server.PutPayload(r.payload);
  } else {
    testing_support::RawConnection conn(server.port());
    conn.Send(r.raw);
    conn.ShutdownWrite();
    conn.ReadToClose();
  }
}

class Journal : public ::testing::Test {
 protected:
  // Sends r and returns its entry (JournalEntry).
  ordered_json Entry(const request &r) {
    send(*server_, r);
    return testing_support::JournalEntry(*server_, path_, ++requests_);
  }

  TempDir dir_;
  const std::string path_ = dir_.file("journal.jsonl");
  std::unique_ptr<testing_support::ServerProcess> server_ = JournalServer(path_);
  int requests_ = 0;
};

// Every outcome of the protocol's table of what a client sees, with the
// fields of its line in their fixed order.
TEST_F(Journal, EveryResultAsTheClientMetIt) {
  const std::string to_tw = "IFC_set_to_tw_1\0to:95 tw:250"s;
  const std::string get = R"({"verb":"GET","command":"IFC_get_stat",)"
                          R"("reply":"color:1 mode:0 totw_sw:0 ",)";
  const std::string put =
      R"({"verb":"PUT","length":28,"command":"IFC_set_to_tw_1",)"
      R"("text":"to:95 tw:250","result":"ok","saved":["ifc_set.set"],)";
  const std::string nothing = R"("saved":[],"notes":[]})";
  const struct {
    const char *name;
    request req;
    std::string entry;
  } cases[] = {
      {"GET",
       {"IFC_get_stat"},
       get + R"("result":"ok","saved":["ifc_set.set"],"notes":[]})"},
      {"PUT that changes a value", {nullptr, to_tw}, put + R"("notes":[]})"},
      {"GET of an unknown name",
       {"no_such"},
       R"({"verb":"GET","command":"no_such","result":"unknown",)" + nothing},
      {"PUT of an unknown name",
       {nullptr, "no_such\0x"s},
       R"({"verb":"PUT","length":9,"command":"no_such","text":"x","result":"not-found",)" +
           nothing},
      {"PUT without a NUL",
       {nullptr, "abcd"},
       R"({"verb":"PUT","length":4,"text":"abcd","result":"no-name",)" + nothing},
      {"PUT of length 0",
       {nullptr, "", PutHeader(0)},
       R"({"verb":"PUT","length":0,"result":"empty",)" + nothing},
      {"PUT length refused",
       {nullptr, "", PutHeader(256001)},
       R"({"verb":"PUT","length":256001,"result":"refused",)" + nothing},
      {"verb neither GET nor PUT",
       {nullptr, "", RequestHeader("DEL", "x")},
       R"({"header":")" + RequestHeader("DEL", "x") + R"(","result":"bad-header",)" +
           nothing},
      {"PUT closed before its payload",
       {nullptr, "", PutHeader(28)},
       R"({"verb":"PUT","length":28,"result":"closed",)" + nothing},
      {"GET answered by next",
       {nullptr, "", RequestHeader("GET", "IFC_get_stat") + "next"},
       get + R"("result":"bad-next","saved":[],"notes":["early-bytes"]})"},
      {"PUT in one piece with bytes behind it",
       {nullptr, "", PutHeader(28) + to_tw + "zz"},
       put + R"("notes":["early-bytes","extra-bytes"]})"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(Entry(c.req).dump(), ordered_json::parse(c.entry).dump()) << c.name;
}

// One text for each note on a text the server reads otherwise than written.
TEST_F(Journal, NotesOnTextsReadOtherwiseThanWritten) {
  static const struct {
    const char *command;
    std::string text;
    const char *note;
  } cases[] = {
      {"IFC_set_to_tw_1", "tw:250 to:95", "key-order"},
      {"IFC_set_to_tw_1", "to:95", "key-missing"},
      {"IFC_set_to_tw_1", "to:95, tw:250", "rest-ignored"},
      {"IFC_set_stat", "color:3\nmode:1\ntotw_sw:1", "line-end"},
      {"IFC_set_stat", "color:3 mode:1 totw_sw:4294967296", "beyond-32-bits"},
      {"IFC_set_select_item", "PIN:1", "unknown-item"},
      {"IFC_set_select_item", "all:1", "all-is-zero"},
      {"IFC_set_on_off_1", "main_on:abc", "no-number"},
      {"IFC_set_on_off_1", "main_on 5", "item-skipped"},
      {"IFC_hst_select_item", "left 3 tb2", "side-word"},
      {"IFC_hst_select_item", "LEFT 7 tb2", "bad-colour"},
      {"IFC_hst_clear", "2 tw_tbw xyz", "too-long"},
      {"MLETOFF_set_btnstat", "btn\0:1"s, "nul-in-text"},
  };
  for (const auto &c : cases) {
    const ordered_json e = Entry({nullptr, c.command + "\0"s + c.text});
    EXPECT_EQ(e["result"], "ok") << c.text;
    EXPECT_EQ(e["notes"], ordered_json::array({c.note})) << c.text;
  }
}

// Every byte value comes back as it was sent, and a 256000-byte text up to
// the cut at 4096; the file holds printable ASCII lines only.
TEST_F(Journal, EveryByteComesBackAsItWasSent) {
  std::string every_byte, big(256000 - 11, '\0');
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  std::mt19937 rng(20);
  for (char &ch : big) ch = static_cast<char>(rng());
  for (const std::string &text : {every_byte + every_byte, big}) {
    const ordered_json e = Entry({nullptr, "append_log\0"s + text});
    EXPECT_TRUE(JournalBytes(e["text"]) == text.substr(0, 4096)) << e["text"];
    EXPECT_EQ(e.value("text_bytes", 0u), text.size() > 4096 ? text.size() : 0u);
  }
  for (const char ch : testing_support::read_file(path_))
    ASSERT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7f)) << "byte " << int{ch};
}

TEST_F(Journal, RenamedAwayItStartsAgainAtItsPath) {
  ASSERT_EQ(Entry({"IFC_get_Tot_Twt_1"})["result"], "ok");
  ASSERT_EQ(std::rename(path_.c_str(), (path_ + ".1").c_str()), 0);
  ASSERT_TRUE(server_->Put("IFC_set_to_tw_1", "to:95 tw:250"));
  ASSERT_TRUE(server_->WaitForRequests(2));
  ASSERT_EQ(JournalEntries(path_ + ".1").size(), 1u);
  ASSERT_EQ(JournalEntries(path_).size(), 1u);
  EXPECT_EQ(JournalEntries(path_)[0]["command"], "IFC_set_to_tw_1");
}

// On a full disk an entry is lost whole (the first one begins in the room
// left in the journal's last page), said once; writing resumes with room.
TEST(JournalWrite, OnAFullDiskEntriesAreLostWholeAndWritingResumes) {
  testing_support::SmallDisk disk(64 * 1024);
  if (!disk.why().empty()) GTEST_SKIP() << disk.why();
  const std::string path = disk.file("journal.jsonl");
  const auto server = JournalServer(path);
  ASSERT_EQ(server->Get("IFC_get_stat"), "color:1 mode:0 totw_sw:0 ");
  ASSERT_TRUE(server->WaitForRequests(1));
  disk.Fill();
  EXPECT_TRUE(server->Put("append_log", std::string(5000, 'x')));
  EXPECT_TRUE(server->Put("append_log", std::string(5000, 'x')));
  ASSERT_TRUE(server->WaitForRequests(3));
  EXPECT_EQ(JournalEntries(path).size(), 1u);
  // stderr is read apart from stdout: wait for the line itself.
  EXPECT_EQ(server->WaitForStderr("can\n"),
            "ifcsim: journal " + path +
                ": cannot be written (No space left on device); entries are lost until "
                "it can\n");
  disk.Free();
  EXPECT_EQ(server->Get("IFC_get_stat"), "color:1 mode:0 totw_sw:0 ");
  ASSERT_TRUE(server->WaitForRequests(4));
  EXPECT_EQ(JournalEntries(path).size(), 2u);
  EXPECT_NE(server->WaitForStderr("lost\n").find("written again, 2 entries lost\n"),
            std::string::npos);
}

}  // namespace
