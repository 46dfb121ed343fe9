// Fault rules: the parser's refusals, and every action end to end: the built
// server with --faults on a free port, the support library's calls as a page
// makes them, the journal's entries read back.
#include "net/faults.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ifcsim/lib_commands.h"
#include "support/journal_lines.hpp"
#include "support/server_process.hpp"

#ifndef IFCSIM_BINARY
#error "IFCSIM_BINARY must name the built server program"
#endif

namespace {

using testing_support::ChildProcess;
using testing_support::read_file;
using testing_support::write_file;
using namespace std::string_literals;

TEST(FaultRules, RefusedWithTheirLineAndReason) {
  std::string many;
  for (int i = 0; i <= kFaultsMaxRules; ++i) many += "* lose\n";
  // clang-format off
  static const struct {
    const char *name;
    std::string text;
    int line;
    const char *reason;
  } cases[] = {
    {"unknown action", "* explode", 1, "'explode' is no action (refuse, delay"},
    {"negative delay", "* delay -5 before len", 1, "'-5' is no delay in milliseconds (0 to 60000)"},
    {"huge delay", "* delay 99999999999999999999999 before len", 1, "is no delay in milliseconds"},
    {"delay past its bound", "* delay 60001 before len", 1, "'60001' is no delay"},
    {"a step that is none", "* close before end", 1, "close takes 'before' and a step"},
    {"down of no time", "* down 0", 1, "'0' is no time down in seconds (1 to 3600)"},
    {"times 0", "* refuse times 0", 1, "'0' is no number of times (1 to 1000000000)"},
    {"times twice", "* lose times 1 times 2", 1, "'times' is not understood here"},
    {"a PUT by name before next", "IFC_set_* close before next", 1, "'IFC_set_*' before next: a PUT's name comes"},
    {"PUT commands refused by name", "IFC_*_tw_? refuse", 1, "'IFC_*_tw_?' matches PUT commands"},
    {"a verb's rule that never acts", "GET:* lose", 1, "'GET:*': lose does not act on a GET"},
    {"a verb without a pattern", "PUT: refuse", 1, "'PUT:' is no pattern"},
    {"a reply without quotes", "* reply to:1", 1, "reply takes a text in double quotes"},
    {"a text left open", "* reply \"to:1 # no comment", 1, "without its closing quote"},
    {"an escape C does not know", "* reply \"a\\qb\"", 1, "'\\x5cqb\"' holds no escape"},
    {"a control byte", "* refuse\x01", 1, "a control byte (0x01) outside a comment"},
    {"a NUL byte", "* refuse\n#\0"s, 2, "a NUL byte: this is no text file"},
    {"a pattern too long", std::string(65, 'a') + " refuse", 1, "is no pattern"},
    {"a line of 100000 characters", "* reply \"" + std::string(100000, 'x') + "\"", 0, "larger than 65535 bytes"},
    {"more than 1000 rules", many, kFaultsMaxRules + 1, "more than 1000 rules"},
    {"lines counted", "# lose\n\n* lose\r\n* lose x", 4, "'x' is not understood"},
  };
  // clang-format on
  auto table = std::make_unique<fault_table>();
  for (const auto &c : cases) {
    fault_error err{};
    EXPECT_EQ(faults_parse(c.text.data(), c.text.size(), table.get(), &err), -1)
        << c.name;
    EXPECT_EQ(err.line, c.line) << c.name;
    EXPECT_NE(std::string(err.reason).find(c.reason), std::string::npos)
        << c.name << ": " << err.reason;
  }
}

// The built server with --faults and --journal, relative to where it
// starts, and --dir; the rules file written only once it listens.
struct server {
  ChildProcess process{[] {
    if (mkdir("state", 0755) != 0) return 3;
    execl(IFCSIM_BINARY, "ifcsim", "--port", "0", "--bind", "127.0.0.1", "--port-file",
          "port", "--dir", "state", "--faults", "faults.txt", "--journal", "j.jsonl",
          nullptr);
    return 127;
  }};
  ifc_endpoint ep{"127.0.0.1", 0, 5000, 0};

  server() {
    process.WaitForOutput("waiting... ");
    ep.port = static_cast<unsigned short>(std::stoi(read_file(process.file("port"))));
  }
};

// G reads the targets of colour 1, S sets them to 95 and 250, W waits until
// the server listens again, then reads them; R writes the rules again
// without their last line.
enum op { G, S, W, R };

int run(const server &s, op o, ifc_to_tw *t) {
  if (o == S) return ifc_set_targets(&s.ep, 1, 95, 250);
  int rc = ifc_get_targets(&s.ep, 1, t);
  for (int i = 0; o == W && rc == IFC_ECONNECT && i < 500; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    rc = ifc_get_targets(&s.ep, 1, t);
  }
  return rc;
}

TEST(FaultRules, EveryActionAsAPageMeetsIt) {
  struct step {
    op o;
    int code = IFC_OK;
    const char *result = nullptr;  // in the journal; nullptr: no entry
    int line = 0;                  // of the rule in the entry's fault field
    int to = 0;                    // G, W: the target TO read
  };
  // clang-format off
  static const struct {
    const char *name;
    std::string rules;
    std::vector<step> steps;
    const char *err = nullptr;  // on standard error
  } cases[] = {
    {"refuse by name: GETs only", "IFC_get_Tot_Twt_? refuse", {{G, IFC_EUNKNOWN, "unknown", 1}, {S, IFC_OK, "ok"}}},
    {"refuse a PUT", "* refuse", {{S, IFC_EREFUSED, "refused", 1}}},
    {"refuse the next save only", "PUT:* refuse times 1",
     {{G, IFC_OK, "ok", 0, 90}, {S, IFC_EREFUSED, "refused", 1}, {S, IFC_OK, "ok"}}},
    {"delays within the client's time-out", "* delay 20 before block\n* delay 20 before fin",
     {{G, IFC_OK, "ok", 1, 90}, {S, IFC_OK, "ok", 2}}},
    {"delays past it", "* delay 300 before len\n* delay 300 before next",
     {{G, IFC_ETIMEOUT, "closed", 1}, {S, IFC_ETIMEOUT, "closed", 2}}},
    {"close before len; a PUT has none", "* close before len", {{G, IFC_ECLOSED, "dropped", 1}, {S, IFC_OK, "ok"}}},
    {"close before block", "* close before block", {{G, IFC_ECLOSED, "dropped", 1}}},
    {"close before next, before fin: nothing runs", "* close before next times 1\n* close before fin",
     {{S, IFC_ECLOSED, "dropped", 1}, {S, IFC_ECLOSED, "dropped", 2}, {G, IFC_OK, "ok", 0, 90}}},
    {"reset before len, before fin", "* reset before len\n* reset before fin",
     {{G, IFC_ECLOSED, "dropped", 1}, {S, IFC_ECLOSED, "dropped", 2}}},
    {"lose", "IFC_set_to_tw_? lose", {{S, IFC_OK, "lost", 1}, {G, IFC_OK, "ok", 0, 90}}},
    {"reply", "IFC_get_Tot_Twt_1 reply \"to:7\\x20tw:8 \"", {{G, IFC_OK, "ok", 1, 7}}},
    {"garble", "* garble", {{G, IFC_EPROTO, "garbled", 1}}},
    {"down, then listening again", "* down 1 times 1", {{G, IFC_OK, "ok", 1}, {G, IFC_ECONNECT}, {W, IFC_OK, "ok", 0, 90}}},
    {"after and times count; a new file counts again", "* refuse after 1 times 2\n#",
     {{G, IFC_OK, "ok"}, {G, IFC_EUNKNOWN, "unknown", 1}, {S, IFC_EREFUSED, "refused", 1}, {G, IFC_OK, "ok"},
      {R}, {G, IFC_OK, "ok"}, {G, IFC_EUNKNOWN, "unknown", 1}}},
    {"the first rule that matches, one per request", "IFC_get_Tot_Twt_1 close before len times 1\n* garble",
     {{G, IFC_ECLOSED, "dropped", 1}, {G, IFC_EPROTO, "garbled", 2}}},
    {"a PUT: a rule * after the payload, above one before it", "* lose times 1\n* refuse",
     {{S, IFC_OK, "lost", 1}, {S, IFC_EREFUSED, "refused", 2}}},
    {"a PUT: a rule before the payload goes first", "IFC_set_to_tw_1 lose\n* refuse", {{S, IFC_EREFUSED, "refused", 2}}},
    {"a file that does not read: no rule until it is fixed", "* refuse\n* explode",
     {{G, IFC_OK, "ok"}, {R}, {G, IFC_EUNKNOWN, "unknown", 1}}, "faults.txt:2: 'explode' is no action"},
    {"a file of 10 MB", std::string(10 << 20, '#'), {{G, IFC_OK, "ok"}},
     "faults.txt: larger than 65535 bytes (faults refused, no rule applies)"},
  };
  // clang-format on
  for (const auto &c : cases) {
    server s;
    const std::string path = s.process.file("faults.txt");
    write_file(path, c.rules);
    std::vector<const step *> logged;
    for (const step &st : c.steps) {
      if (st.o == R) {
        write_file(path, c.rules.substr(0, c.rules.rfind('\n')));
        continue;
      }
      // A short time-out where it is the point.
      s.ep.timeout_ms = st.code == IFC_ETIMEOUT ? 100 : 5000;
      ifc_to_tw t{};
      EXPECT_EQ(run(s, st.o, &t), st.code) << c.name << ", step " << &st - &c.steps[0];
      EXPECT_EQ(st.to != 0 ? t.to : 0, st.to) << c.name;
      if (st.result != nullptr) logged.push_back(&st);
    }
    const int n = static_cast<int>(logged.size());
    const std::string out =
        s.process.WaitForOutput("waiting... ", testing_support::kDefaultWait, n + 1);
    const auto entries = testing_support::JournalEntries(s.process.file("j.jsonl"));
    ASSERT_EQ(entries.size(), logged.size()) << c.name << "\n" << out;
    int refused = 0;
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(entries[i]["result"], logged[i]->result) << c.name << ", entry " << i;
      // The fault field: the rule's line and its text, where one acted.
      const int line = logged[i]->line;
      std::string rule = "\n" + c.rules + "\n";
      for (int k = 0; k < line; ++k) rule.erase(0, rule.find('\n') + 1);
      const nlohmann::ordered_json fault = {{"line", line},
                                            {"rule", rule.substr(0, rule.find('\n'))}};
      EXPECT_EQ(entries[i].value("fault", nlohmann::ordered_json()),
                line > 0 ? fault : nlohmann::ordered_json())
          << c.name << ", entry " << i;
      refused += logged[i]->code == IFC_EREFUSED;
    }
    // A refused PUT prints what a refused length prints; nothing else is new.
    EXPECT_EQ(testing_support::CountOccurrences(out, "error: TOO BIG DATA"), refused)
        << c.name;
    const std::string err = s.process.Stderr();
    EXPECT_TRUE(c.err != nullptr ? err.find(c.err) != std::string::npos : err.empty())
        << c.name << ": " << err;
  }
}

}  // namespace
