// The traffic journal end to end: the real server loop on a free port with
// the journal on, real clients over real sockets, and every line read back
// with a JSON parser.
#include "net/journal.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <regex>
#include <string>

#include "support/journal_lines.hpp"
#include "support/server_process.hpp"
#include "support/small_disk.hpp"
#include "support/temp_dir.hpp"

namespace {

using nlohmann::ordered_json;
using testing_support::CountOccurrences;
using testing_support::JournalBytes;
using testing_support::JournalEntries;
using testing_support::JournalServer;
using testing_support::PutHeader;
using testing_support::RawConnection;
using testing_support::RequestHeader;
using testing_support::ServerProcess;
using testing_support::SmallDisk;
using testing_support::TempDir;
using namespace std::string_literals;

// One request: a GET through the project's client, a PUT of a payload
// through it (it waits for every "NEXT"), or raw bytes sent at once, after
// which the client shuts its sending side and reads to the close.
struct request {
  const char *get;
  std::string payload;
  std::string raw;
};

void send(const ServerProcess &server, const request &r) {
  if (r.get != nullptr) {
    server.Get(r.get);
  } else if (r.raw.empty()) {
    server.PutPayload(r.payload);
  } else {
    RawConnection conn(server.port());
    conn.Send(r.raw);
    conn.ShutdownWrite();
    conn.ReadToClose();
  }
}

// The entry without the fields that differ from run to run, which must have
// their form all the same.
ordered_json stable(ordered_json e) {
  static const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
  EXPECT_TRUE(std::regex_match(e.value("time", ""), time)) << e.dump();
  EXPECT_TRUE(e["ms"].is_number() && e["ms"] >= 0) << e.dump();
  EXPECT_EQ(e.value("peer", "").rfind("127.0.0.1:", 0), 0u) << e.dump();
  for (const char *varies : {"time", "ms", "peer"}) e.erase(varies);
  return e;
}

// Every outcome of the protocol's table of what a client sees, one
// connection each, with the fields of its line in their fixed order.
TEST(Journal, EveryResultAsTheClientMetIt) {
  TempDir journal_dir;
  const std::string journal = journal_dir.file("journal.jsonl");
  const auto server = JournalServer(journal);
  const std::string to_tw = "IFC_set_to_tw_1\0to:95 tw:250"s;
  const std::string reply = R"("reply":"color:1 mode:0 totw_sw:0 ",)";
  const struct {
    const char *name;
    request req;
    std::string entry;
  } cases[] = {
      {"GET",
       {"IFC_get_stat", "", ""},
       R"({"verb":"GET","command":"IFC_get_stat",)" + reply +
           R"("result":"ok","saved":["ifc_set.set"],"notes":[]})"},
      {"PUT that changes a value",
       {nullptr, to_tw, ""},
       R"({"verb":"PUT","length":28,"command":"IFC_set_to_tw_1","text":"to:95 tw:250",)"
       R"("result":"ok","saved":["ifc_set.set"],"notes":[]})"},
      {"GET of a name no command carries",
       {"no_such_command", "", ""},
       R"({"verb":"GET","command":"no_such_command","result":"unknown","saved":[],"notes":[]})"},
      {"PUT of a name no command carries",
       {nullptr, "no_such\0x"s, ""},
       R"({"verb":"PUT","length":9,"command":"no_such","text":"x","result":"not-found",)"
       R"("saved":[],"notes":[]})"},
      {"PUT without a NUL",
       {nullptr, "abcd", ""},
       R"({"verb":"PUT","length":4,"text":"abcd","result":"no-name","saved":[],"notes":[]})"},
      {"PUT of length 0",
       {nullptr, "", PutHeader(0)},
       R"({"verb":"PUT","length":0,"result":"empty","saved":[],"notes":[]})"},
      {"PUT length refused",
       {nullptr, "", PutHeader(256001)},
       R"({"verb":"PUT","length":256001,"result":"refused","saved":[],"notes":[]})"},
      {"verb neither GET nor PUT",
       {nullptr, "", RequestHeader("DEL", "x")},
       R"({"header":")" + RequestHeader("DEL", "x") +
           R"(","result":"bad-header","saved":[],"notes":[]})"},
      {"header cut short by a close",
       {nullptr, "", "GETIFC"},
       R"({"header":"GETIFC","result":"bad-header","saved":[],"notes":[]})"},
      {"PUT closed before its payload",
       {nullptr, "", PutHeader(28)},
       R"({"verb":"PUT","length":28,"result":"closed","saved":[],"notes":[]})"},
      {"GET answered by next",
       {nullptr, "", RequestHeader("GET", "IFC_get_stat") + "next"},
       R"({"verb":"GET","command":"IFC_get_stat",)" + reply +
           R"("result":"bad-next","saved":[],"notes":["early-bytes"]})"},
      {"PUT in one piece with bytes behind it",
       {nullptr, "", PutHeader(28) + to_tw + "zz"},
       R"({"verb":"PUT","length":28,"command":"IFC_set_to_tw_1","text":"to:95 tw:250",)"
       R"("result":"ok","saved":["ifc_set.set"],"notes":["early-bytes","extra-bytes"]})"},
  };
  size_t n = 0;
  for (const auto &c : cases) {
    send(*server, c.req);
    ASSERT_TRUE(server->WaitForRequests(static_cast<int>(++n))) << c.name;
    const auto entries = JournalEntries(journal);
    ASSERT_EQ(entries.size(), n) << c.name;
    EXPECT_EQ(stable(entries.back()).dump(), ordered_json::parse(c.entry).dump())
        << c.name;
  }
}

// PUT texts the server reads otherwise than they are written, and what it
// saved of them.
TEST(Journal, NotesOnTextsReadOtherwiseThanWritten) {
  TempDir journal_dir;
  const std::string journal = journal_dir.file("journal.jsonl");
  const auto server = JournalServer(journal);
  // Both set files exist from here on: "saved" shows writes only.
  ASSERT_EQ(server->Get("IFC_get_stat"), "color:1 mode:0 totw_sw:0 ");
  ASSERT_NE(server->Get("IFC_get_on_off_1")[0], '<');
  static const struct {
    const char *name;
    const char *command;
    std::string text;
    const char *saved;
    const char *notes;
  } cases[] = {
      {"as written", "IFC_set_to_tw_1", "to:95 tw:250", "ifc", ""},
      {"keys in another order", "IFC_set_to_tw_1", "tw:250 to:95", "", "key-order"},
      {"a key missing", "IFC_set_to_tw_1", "to:95", "", "key-missing"},
      {"empty value", "IFC_set_to_tw_1", "to: tw:250", "", "no-number"},
      {"commas", "IFC_set_to_tw_1", "to:95, tw:250", "ifc", "rest-ignored"},
      {"one item per line", "IFC_set_stat", "color:3\nmode:1\ntotw_sw:1", "ifc",
       "line-end"},
      {"a number beyond 32 bits", "IFC_set_stat", "color:3 mode:1 totw_sw:4294967296",
       "ifc", "beyond-32-bits"},
      {"two items for one", "IFC_set_select_item", "pin:1 abs:1", "ifc", "rest-ignored"},
      {"a name in capitals", "IFC_set_select_item", "PIN:1", "", "unknown-item"},
      {"all with a value", "IFC_set_select_item", "all:1", "ifc", "all-is-zero"},
      {"on/off value that is no number", "IFC_set_on_off_1", "main_on:abc", "valve",
       "no-number"},
      {"on/off item of no command", "IFC_set_on_off_1", "cutter_on:5", "",
       "unknown-item"},
      {"on/off piece without a colon", "IFC_set_on_off_1", "main_on 5", "",
       "item-skipped"},
      {"on/off text ended by :7", "IFC_set_on_off_1", "main_on:95 :7 main_off:1", "valve",
       "rest-ignored"},
      {"lower-case side", "IFC_hst_select_item", "left 3 tb2", "ifc", "side-word"},
      {"colour out of range", "IFC_hst_select_item", "LEFT 7 tb2", "ifc", "bad-colour"},
      {"histogram text too long", "IFC_hst_clear", "2 tw_tbw xyz", "", "too-long"},
      {"a NUL in the text", "MLETOFF_set_btnstat", "btn\0:1"s, "", "nul-in-text"},
      {"a log text", "append_log", "line\n", "log", ""},
  };
  static const struct {
    const char *key, *file;
  } files[] = {{"ifc", "ifc_set.set"}, {"valve", "valve_fp.set"}, {"log", "cgi.log"}};
  int n = 2;
  for (const auto &c : cases) {
    ASSERT_TRUE(server->Put(c.command, c.text)) << c.name;
    ASSERT_TRUE(server->WaitForRequests(++n)) << c.name;
    const ordered_json e = JournalEntries(journal).back();
    EXPECT_EQ(e["result"], "ok") << c.name;
    ordered_json saved = ordered_json::array(), notes = ordered_json::array();
    for (const auto &f : files)
      if (std::string(c.saved) == f.key) saved.push_back(f.file);
    if (*c.notes != '\0') notes.push_back(c.notes);
    EXPECT_EQ(e["saved"], saved) << c.name;
    EXPECT_EQ(e["notes"], notes) << c.name;
  }
}

// Names, texts and headers of any bytes come back byte for byte, cut at 4096
// with the whole length beside; the file holds printable ASCII lines only.
TEST(Journal, EveryByteComesBackAsItWasSent) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  std::mt19937 rng(20);
  std::string big(256000 - 11, '\0');
  for (char &ch : big) ch = static_cast<char>(rng());
  const std::string odd = "\"\\\n\r\t\0\xff/"s;
  const struct {
    const char *name;
    request req;
    const char *field;
    std::string bytes;
    size_t whole;  // the length given beside a cut field, else 0
  } cases[] = {
      {"every byte value in a text",
       {nullptr, "append_log\0"s + every_byte, ""},
       "text",
       every_byte,
       0},
      {"quotes, backslashes, line ends, NUL, 0xFF",
       {nullptr, "append_log\0"s + odd, ""},
       "text",
       odd,
       0},
      {"256000 random bytes, cut",
       {nullptr, "append_log\0"s + big, ""},
       "text",
       big.substr(0, 4096),
       big.size()},
      {"a name of odd bytes",
       {nullptr, "\x01\xff\"\\n"s + "\0x"s, ""},
       "command",
       "\x01\xff\"\\n",
       0},
      {"a header of odd bytes",
       {nullptr, "", "\xff\0\"\\\r\n"s},
       "header",
       "\xff\0\"\\\r\n"s,
       0},
  };
  TempDir journal_dir;
  const std::string journal = journal_dir.file("journal.jsonl");
  const auto server = JournalServer(journal);
  int n = 0;
  for (const auto &c : cases) {
    send(*server, c.req);
    ASSERT_TRUE(server->WaitForRequests(++n)) << c.name;
    const ordered_json e = JournalEntries(journal).back();
    EXPECT_TRUE(JournalBytes(e[c.field]) == c.bytes) << c.name << ": " << e[c.field];
    const std::string length_key = std::string(c.field) + "_bytes";
    if (c.whole > 0) {
      EXPECT_EQ(e[length_key], c.whole) << c.name;
    } else {
      EXPECT_FALSE(e.contains(length_key)) << c.name;
    }
  }
  for (const char ch : testing_support::read_file(journal))
    ASSERT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7f)) << "byte " << int(ch);
}

TEST(Journal, RenamedAwayItStartsAgainAtItsPath) {
  TempDir journal_dir;
  const std::string journal = journal_dir.file("journal.jsonl");
  const auto server = JournalServer(journal);
  ASSERT_EQ(server->Get("IFC_get_Tot_Twt_1"), "to:90 tw:240 ");
  ASSERT_TRUE(server->WaitForRequests(1));
  ASSERT_EQ(std::rename(journal.c_str(), (journal + ".1").c_str()), 0);
  ASSERT_EQ(server->Get("IFC_get_Tot_Twt_2"), "to:90 tw:240 ");
  ASSERT_TRUE(server->WaitForRequests(2));
  const auto old_entries = JournalEntries(journal + ".1");
  const auto new_entries = JournalEntries(journal);
  ASSERT_EQ(old_entries.size(), 1u);
  ASSERT_EQ(new_entries.size(), 1u);
  EXPECT_EQ(old_entries[0]["command"], "IFC_get_Tot_Twt_1");
  EXPECT_EQ(new_entries[0]["command"], "IFC_get_Tot_Twt_2");
}

// A full disk: an entry that does not fit is lost whole (the first one
// begins in the room left in the journal's last page), said once on stderr;
// serving goes on, and writing resumes once there is room.
TEST(Journal, OnAFullDiskEntriesAreLostWholeAndWritingResumes) {
  SmallDisk disk(64 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  const std::string journal = disk.file("journal.jsonl");
  const auto server = JournalServer(journal);
  ASSERT_EQ(server->Get("IFC_get_stat"), "color:1 mode:0 totw_sw:0 ");
  ASSERT_TRUE(server->WaitForRequests(1));
  disk.Fill();
  const std::string text(5000, 'x');
  EXPECT_TRUE(server->Put("append_log", text));
  EXPECT_TRUE(server->Put("append_log", text));
  ASSERT_TRUE(server->WaitForRequests(3));
  EXPECT_EQ(JournalEntries(journal).size(), 1u);
  // stderr is read apart from stdout: wait for the line itself.
  EXPECT_EQ(server->WaitForStderr("can\n"),
            "ifcsim: journal " + journal +
                ": cannot be written (No space left on device); "
                "entries are lost until it can\n");
  disk.Free();
  EXPECT_EQ(server->Get("IFC_get_stat"), "color:1 mode:0 totw_sw:0 ");
  ASSERT_TRUE(server->WaitForRequests(4));
  EXPECT_EQ(JournalEntries(journal).size(), 2u);
  EXPECT_EQ(CountOccurrences(server->WaitForStderr("lost\n"),
                             "written again, 2 entries lost\n"),
            1);
}

}  // namespace
