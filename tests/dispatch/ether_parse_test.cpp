// Command tables, name matching and dispatch, and append_log.
#include "dispatch/ether_parse.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/ifc_client.hpp"
#include "dispatch/sim_main.hpp"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace std::string_literals;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using testing_support::file_exists;
using testing_support::read_file;
using testing_support::ScopedWorkDir;
using testing_support::ServerProcess;

constexpr size_t kField = 20;
constexpr size_t kMaxRows = 100;  // far more than any table has

template <typename Handler>
std::vector<const command_entry<Handler> *> rows_of(const command_entry<Handler> *table) {
  std::vector<const command_entry<Handler> *> rows;
  for (size_t i = 0; i < kMaxRows && table[i].name != nullptr; ++i)
    rows.push_back(&table[i]);
  return rows;
}

// The rules every row must keep, whoever adds it: GET names stored with 20
// blanks behind them, PUT names shorter than 20 and unpadded, handlers and
// summaries present, and no two rows of a table alike in their first 20
// characters (so that no name could match two rows).
TEST(EtherParse, CommandTablesKeepTheirRowRules) {
  const auto gets = rows_of(get_commands);
  const auto puts = rows_of(put_commands);
  ASSERT_LT(gets.size(), kMaxRows) << "get_commands has no end row";
  ASSERT_LT(puts.size(), kMaxRows) << "put_commands has no end row";

  for (const auto *row : gets) {
    const std::string name = row->name;
    const size_t len = name.find(' ');
    ASSERT_NE(len, std::string::npos) << name;
    EXPECT_LE(len, kField) << name;
    EXPECT_EQ(name.substr(len), std::string(20, ' ')) << name;
    EXPECT_NE(row->handler, nullptr) << name;
    EXPECT_NE(row->summary, nullptr) << name;
  }
  bool has_append_log = false;
  for (const auto *row : puts) {
    const std::string name = row->name;
    EXPECT_LT(name.size(), kField) << name;
    EXPECT_EQ(name.find(' '), std::string::npos) << name;
    EXPECT_NE(row->handler, nullptr) << name;
    EXPECT_NE(row->summary, nullptr) << name;
    if (name == "append_log") {
      has_append_log = true;
      EXPECT_EQ(row->handler, &append_log);
    }
  }
  EXPECT_TRUE(has_append_log);

  auto distinct = [](const auto &rows, const char *table) {
    for (size_t i = 0; i < rows.size(); ++i) {
      for (size_t j = 0; j < i; ++j) {
        EXPECT_NE(std::strncmp(rows[i]->name, rows[j]->name, kField), 0)
            << table << " rows " << j + 1 << " and " << i + 1 << ": " << rows[i]->name;
      }
    }
  };
  distinct(gets, "get_commands");
  distinct(puts, "put_commands");
}

// Names that no GET row carries: -1, nothing printed, the buffer untouched.
TEST(EtherParse, GetOfAnUnknownNameReturnsMinusOne) {
  static const struct {
    const char *name;
    std::string field;
  } cases[] = {
      {"empty", ""},
      {"blanks only", std::string(20, ' ')},
      {"a PUT name", "append_log"},
      {"a PUT name filled with blanks", "append_log          "},
      {"unknown", "no_such_command"},
  };
  for (const auto &c : cases) {
    static char buf[256001];
    std::memset(buf, 'x', 64);
    CaptureStdout();
    EXPECT_EQ(ether_get_data(c.field.c_str(), buf), -1) << c.name;
    EXPECT_EQ(GetCapturedStdout(), "") << c.name;
    EXPECT_EQ(std::string(buf, 64), std::string(64, 'x')) << c.name;
  }
}

// A GET field runs its row only when it holds the name filled with blanks
// (or a name of exactly 20 characters); every row, called so, keeps the
// handler contract: a NUL-terminated reply of the returned length.
TEST(EtherParse, GetMatchesOnlyTheNameFilledWithBlanks) {
  static const struct {
    const char *name;
    std::string field;
    bool runs;
  } cases[] = {
      {"name and 8 blanks", "IFC_get_stat        ", true},
      {"name cut by a NUL", "IFC_get_stat", false},
      {"name, line end, blanks", "IFC_get_stat\n       ", false},
      {"lower case", "ifc_get_stat        ", false},
      {"20 characters, left", "IFC_get_hist_cntdatL", true},
      {"20 characters, right", "IFC_get_hist_cntdatR", true},
      {"19 characters and a blank", "IFC_get_hist_cntdat ", false},
  };
  ScopedWorkDir dir;
  static char buf[256001];
  CaptureStdout();
  for (const auto &c : cases) {
    const int n = ether_get_data(c.field.c_str(), buf);
    if (c.runs) {
      EXPECT_GE(n, 0) << c.name;
    } else {
      EXPECT_EQ(n, -1) << c.name;
    }
  }
  for (const auto *row : rows_of(get_commands)) {
    const std::string field(row->name, kField);
    const int n = ether_get_data(field.c_str(), buf);
    EXPECT_GE(n, 0) << row->name;
    if (n < 0) continue;
    EXPECT_LT(n, 256000) << row->name;
    EXPECT_EQ(std::strlen(buf), static_cast<size_t>(n)) << row->name;
  }
  GetCapturedStdout();
}

// PUT names match only exactly: the data part behind the first NUL reaches
// append_log as it came; every near miss runs nothing and says so while the
// switch is on.
TEST(EtherParse, PutDispatchesByTheNameBeforeTheFirstNul) {
  static const struct {
    const char *name;
    std::string payload;
    bool runs;  // cgi.log holds the data part afterwards
    std::string data;
    std::string printed;
  } cases[] = {
      {"append_log with text", "append_log\0abc"s, true, "abc", ""},
      {"NUL is the last byte: empty data part", "append_log\0"s, true, "", ""},
      {"data part with NULs and a line end", "append_log\0a\0b\n"s, true, "a\0b\n"s, ""},
      {"trailing blank", "append_log \0x"s, false, "", "not found\n"},
      {"longer name", "append_logX\0x"s, false, "", "not found\n"},
      {"shorter name", "append_lo\0x"s, false, "", "not found\n"},
      {"upper case", "APPEND_LOG\0x"s, false, "", "not found\n"},
      {"empty name", "\0append_log"s, false, "", "not found\n"},
      {"no NUL at all", "append_log", false, "", "COMMAND END not found\n"},
  };
  for (int debug : {1, 0}) {
    deb_ether_parse = static_cast<std::int16_t>(debug);
    for (const auto &c : cases) {
      ScopedWorkDir dir;
      std::vector<char> buf(c.payload.begin(), c.payload.end());
      buf.push_back('#');  // the byte behind the payload
      CaptureStdout();
      ether_put_data(buf.data(), static_cast<int>(c.payload.size()));
      EXPECT_EQ(GetCapturedStdout(), debug ? c.printed : "")
          << c.name << " debug " << debug;
      EXPECT_EQ(file_exists("cgi.log"), c.runs) << c.name;
      if (c.runs) {
        EXPECT_EQ(read_file("cgi.log"), c.data) << c.name;
      }
      EXPECT_EQ(buf.back(), '#') << c.name;
    }
  }
  deb_ether_parse = 1;
}

// A full 256000-byte payload: the search for the NUL stays within the
// payload, and the byte reserved behind it is left alone by append_log.
TEST(EtherParse, FullPayloadStaysWithinItsBytes) {
  constexpr int kFull = 256000;
  static const struct {
    const char *name;
    bool with_name;
    std::string printed;
  } cases[] = {
      // A NUL right behind the payload must not count as its name's end.
      {"no NUL inside", false, "COMMAND END not found\n"},
      {"append_log of the rest", true, ""},
  };
  for (const auto &c : cases) {
    ScopedWorkDir dir;
    std::vector<char> buf(kFull + 1, 'a');
    std::string data;
    if (c.with_name) {
      std::memcpy(buf.data(), "append_log", 11);
      for (int i = 11; i < kFull; ++i) buf[i] = static_cast<char>(i % 251);
      data.assign(buf.data() + 11, kFull - 11);
    }
    buf[kFull] = c.with_name ? 'Z' : '\0';
    CaptureStdout();
    ether_put_data(buf.data(), kFull);
    EXPECT_EQ(GetCapturedStdout(), c.printed) << c.name;
    EXPECT_EQ(buf[kFull], c.with_name ? 'Z' : '\0') << c.name;
    if (c.with_name) {
      const std::string log = read_file("cgi.log");
      EXPECT_EQ(log.size(), data.size()) << c.name;
      EXPECT_TRUE(log == data) << c.name;
    } else {
      EXPECT_FALSE(file_exists("cgi.log")) << c.name;
    }
  }
}

TEST(AppendLog, AppendsExactlyTheBytesAndCreatesTheFileReadableByAll) {
  ScopedWorkDir dir;
  const mode_t old_mask = umask(0);
  char first[] = "line 1\n#";
  char second[] = "no line end#";
  append_log(first, 7);
  append_log(second, 11);
  umask(old_mask);
  EXPECT_EQ(read_file("cgi.log"), "line 1\nno line end");
  struct stat st;
  ASSERT_EQ(stat("cgi.log", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(first[7], '#');
  EXPECT_EQ(second[11], '#');
}

// A text that cannot be appended is lost: the client has had its "FIN", so
// the server says so in one line.
TEST(AppendLog, UnopenableLogIsReportedInOneLine) {
  ScopedWorkDir dir;
  ASSERT_EQ(mkdir("cgi.log", 0755), 0);
  char data[] = "abc";
  CaptureStdout();
  append_log(data, 3);
  EXPECT_EQ(GetCapturedStdout(), "cgi.log: not appended to (Is a directory)\n");
  struct stat st;
  ASSERT_EQ(stat("cgi.log", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// End to end: dispatch failures are printed by the server after the header
// line, the client still gets "FIN", and cgi.log grows only by the data parts
// of real append_log requests.
TEST(EtherParse, PutsThroughTheServer) {
  static const struct {
    const char *name;
    std::string payload;
    std::string printed;  // behind the header line
  } cases[] = {
      {"append_log", "append_log\0abc"s, ""},
      {"unknown name", "append_log \0zzz"s, "not found\n"},
      {"no NUL", "append_log", "COMMAND END not found\n"},
      {"append_log again", "append_log\0de\n"s, ""},
  };
  ServerProcess server;
  const ifc::endpoint ep = server.endpoint();
  int requests = 0;
  for (const auto &c : cases) {
    const ifc::put_result r = ifc::put_payload(ep, c.payload);
    EXPECT_EQ(r.error, ifc::client_error::none) << c.name << ": " << r.message;
    ASSERT_TRUE(server.WaitForRequests(++requests)) << c.name;
    std::string head = "PUT" + std::to_string(c.payload.size());
    head.resize(23, ' ');
    EXPECT_EQ(server.RequestOutput(requests), "connected... " + head + "\n" + c.printed)
        << c.name;
  }
  EXPECT_EQ(read_file(server.file("cgi.log")), "abcde\n");
}

}  // namespace
