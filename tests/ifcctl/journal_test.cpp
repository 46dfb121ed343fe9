// ifcctl journal end to end: a journal written by the real server loop over
// real connections, with markers, garbage and a half line, read through the
// built tool.
#include <gtest/gtest.h>

#include <regex>

#include "ifcctl/run_tool.hpp"
#include "support/journal_lines.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace std::string_literals;

// The output with what differs from run to run as words, blanks as one.
std::string steady(const std::string &s) {
  std::string t = std::regex_replace(
      s, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})"), "TIME");
  t = std::regex_replace(t, std::regex(R"(127\.0\.0\.1:\d+)"), "PEER");
  t = std::regex_replace(t, std::regex(R"( \d+\.\d{3}( |\n))"), " MS$1");
  return std::regex_replace(t, std::regex(" +"), " ");
}

TEST(IfcctlJournal, TableJsonAndCountsOfARealJournal) {
  testing_support::TempDir dir;
  const std::string path = dir.file("journal.jsonl");
  const auto server = testing_support::JournalServer(path);
  const auto mark = [&](const std::string &text) {
    EXPECT_EQ(ifcctl_test::run_tool({"journal", "mark", text, path}).status, 0) << text;
  };
  mark("test one");
  server->Get("IFC_get_stat");
  server->Put("IFC_set_to_tw_1", "tw:250 to:95");
  ASSERT_TRUE(server->WaitForRequests(2));
  mark("test \"two\"\n\xff");
  server->PutPayload("append_log\0\x1b[2Jred\n\xff"s);
  server->Get("no_such");
  testing_support::RawConnection(server->port())
      .Send(testing_support::RequestHeader("DEL", "x"));
  ASSERT_TRUE(server->WaitForRequests(5));
  std::string lines = testing_support::read_file(path);
  testing_support::write_file(path, lines + "not json\n{\"time\":");

  const std::string head = "TIME PEER REQUEST RESULT MS TEXT OR REPLY\n",
                    one = "TIME -- mark: test one\n",
                    get = "TIME PEER GET IFC_get_stat ok MS color:1 mode:0 totw_sw:0\n",
                    put =
                        "TIME PEER PUT IFC_set_to_tw_1 ok MS tw:250 to:95 (key-order)\n",
                    two = "TIME -- mark: test \"two\"\\x0a\\xff\n",
                    log = "TIME PEER PUT append_log ok MS \\x1b[2Jred\\x0a\\xff\n",
                    unknown = "TIME PEER GET no_such unknown MS\n",
                    bad = "TIME PEER DEL x bad-header MS\n";
  std::vector<std::string> line;
  for (std::size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos;
       at = end + 1)
    line.push_back(lines.substr(at, end + 1 - at));
  ASSERT_EQ(line.size(), 7u);
  const std::string skipped =
      "ifcctl: " + path + ": 2 lines are no journal entries (skipped)\n";
  const struct {
    const char *name;
    std::vector<std::string> args;
    int status;
    std::string out, err_tail;
  } cases[] = {
      {"everything", {}, 0, head + one + get + put + two + log + unknown + bad, ""},
      {"a glob on the command, with the marker before",
       {"--command", "IFC_*"},
       0,
       head + one + get + put,
       ""},
      {"a result", {"--result", "unknown"}, 0, head + two + unknown, ""},
      {"the last three, with the marker before",
       {"--last", "3"},
       0,
       head + two + log + unknown + bad,
       ""},
      {"the lines as they are, without markers when filtered",
       {"--json", "--command", "append*"},
       0,
       line[4],
       ""},
      {"count", {"count"}, 0, "5\n", ""},
      {"count as expected", {"count", "--result", "ok", "--expect", "3"}, 0, "3\n", ""},
      {"count not as expected",
       {"count", "--command", "IFC_get_*", "--expect", "2"},
       1,
       "1\n",
       "ifcctl: " + path + ": 1 entry matches, not 2\n"},
  };
  for (const auto &c : cases) {
    for (bool from_env : {false, true}) {
      std::vector<std::string> args = {"journal"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      if (!from_env) args.push_back(path);
      const auto r = testing_support::run_program(
          IFCCTL_PATH, args, {from_env ? "IFCSIM_JOURNAL=" + path : "IFCSIM_JOURNAL="},
          true);
      const std::string name = c.name + (from_env ? " ($IFCSIM_JOURNAL)"s : ""s);
      EXPECT_EQ(r.status, c.status) << name << ": " << r.err;
      EXPECT_EQ(steady(r.out), steady(c.out)) << name;
      EXPECT_EQ(r.err, skipped + c.err_tail) << name;
    }
  }
}

}  // namespace
