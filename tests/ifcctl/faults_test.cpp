// `ifcctl fault`: the built tool on a rules file in a temporary directory,
// with nothing of the test's environment but what a case gives it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/program_run.hpp"
#include "support/temp_dir.hpp"

namespace {

using testing_support::file_exists;
using testing_support::read_file;
using testing_support::write_file;

TEST(IfcctlFault, CheckAddRemoveListClear) {
  testing_support::TempDir dir;
  const char *const rules = "# mine\n* lose\n\nIFC_get_stat garble # why\n";
  // "@" stands for the directory and a slash; before/after: the file's
  // content, or null when there is none.
  // clang-format off
  static const struct {
    const char *name;
    std::vector<std::string> args;
    const char *before;
    int status;
    std::string out, err;
    const char *after;
  } cases[] = {
    {"add to no file", {"fault", "--file", "@f", "add", "*", "refuse", "times", "1"}, nullptr, 0, "", "",
     "* refuse times 1\n"},
    {"add refuses what the server refuses", {"fault", "add", "*", "down", "0"}, rules, 2, "",
     "ifcctl: fault: '* down 0': '0' is no time down in seconds (1 to 3600)\n", rules},
    {"add to a file the server refuses", {"fault", "add", "*", "lose"}, "* down 0\n", 1, "",
     "ifcctl: @f:1: '0' is no time down in seconds (1 to 3600) (the server refuses this file)\n", "* down 0\n"},
    {"list", {"fault", "list"}, rules, 0, "1  * lose\n2  IFC_get_stat garble\n", "", rules},
    {"list as JSON", {"fault", "list", "--json"}, "* garble\n", 0,
     "[\n  {\n    \"rule\": 1,\n    \"line\": 1,\n    \"text\": \"* garble\"\n  }\n]\n", "", "* garble\n"},
    {"remove keeps the other lines", {"fault", "remove", "1"}, rules, 0, "", "",
     "# mine\n\nIFC_get_stat garble # why\n"},
    {"remove a rule that is not there", {"fault", "remove", "3"}, rules, 2, "",
     "ifcctl: fault: no rule 3: @f holds 2 rules\n", rules},
    {"check takes no file", {"fault", "check", "IFC_set_*", "lose"}, nullptr, 0, "", "", nullptr},
    {"clear", {"fault", "clear"}, rules, 0, "", "", nullptr},
  };
  // clang-format on
  auto fill = [&dir](std::string s) {
    for (std::size_t at; (at = s.find('@')) != std::string::npos;)
      s.replace(at, 1, dir.path() + "/");
    return s;
  };
  for (const auto &c : cases) {
    std::remove(dir.file("f").c_str());
    if (c.before != nullptr) write_file(dir.file("f"), c.before);
    std::vector<std::string> args;
    for (const std::string &a : c.args) args.push_back(fill(a));
    const auto r = testing_support::run_program(IFCCTL_PATH, args,
                                                {fill("IFCSIM_FAULTS=@f")}, false);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.out, fill(c.out)) << c.name;
    EXPECT_EQ(r.err, fill(c.err)) << c.name;
    EXPECT_EQ(file_exists(dir.file("f")), c.after != nullptr) << c.name;
    if (c.after != nullptr) {
      EXPECT_EQ(read_file(dir.file("f")), c.after) << c.name;
    }
  }
}

}  // namespace
