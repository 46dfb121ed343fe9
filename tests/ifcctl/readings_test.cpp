// `ifcctl readings`: the built tool on files in a temporary directory, with
// nothing of the test's environment but what a case gives it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/program_run.hpp"
#include "support/temp_dir.hpp"

namespace {

using testing_support::file_exists;
using testing_support::read_file;
using testing_support::write_file;

constexpr char kGood[] =
    "every 2s\nmeasured 1 to:5\nframe\nleft bins 0-1 7\nright decimal:-0.05\nframe\n";

TEST(IfcctlReadings, ShowSetClear) {
  testing_support::TempDir dir;
  write_file(dir.file("g"), kGood);
  write_file(dir.file("b"), "measured 1 to:5\naverage 9 to:1\n");
  const std::string ramp = read_file(IFCSIM_READY_MADE_DIR "/ramp");
  // "@" stands for the directory and a slash; before/after: the file's
  // content, or null when there is none.
  static const struct {
    const char *name;
    std::vector<std::string> args;
    const char *env;
    const char *before;
    int status;
    std::string out, err;
    const char *after;
  } cases[] = {
      {"set", {"readings", "--file", "@r", "set", "@g"}, "", nullptr, 0, "", "", kGood},
      {"set over a longer file",
       {"readings", "--file", "@r", "set", "@g"},
       "",
       "# a file longer than the one that replaces it\nmeasured all to:1 tw:2\n",
       0,
       "",
       "",
       kGood},
      {"ramp", {"readings", "set", "ramp", "--file", "@r"}, "", "x", 0, "", "", "=ramp"},
      {"set refuses what the server refuses",
       {"readings", "set", "@b"},
       "IFCSIM_READINGS=@r",
       "old",
       2,
       "",
       "ifcctl: @b:2: '9' is no colour number: 1 to 6, a range such as 3-6, or all; "
       "@r is left as it was\n",
       "old"},
      {"show, frame by frame",
       {"readings", "show"},
       "IFCSIM_READINGS=@r",
       kGood,
       0,
       "@r: 2 frames, in turn, the next every 2s\n"
       "frame 1 (line 3):\n"
       "  measured 1  to:5\n"
       "  left        bins 0-1:7\n"
       "  right       decimal:-0.05\n"
       "frame 2 (line 6):\n"
       "  measured 1  to:5\n",
       "",
       kGood},
      {"clear", {"readings", "clear", "--file", "@r"}, "", kGood, 0, "", "", nullptr},
  };
  auto fill = [&dir](std::string s) {
    for (std::size_t at; (at = s.find('@')) != std::string::npos;)
      s.replace(at, 1, dir.path() + "/");
    return s;
  };
  for (const auto &c : cases) {
    std::remove(dir.file("r").c_str());
    if (c.before != nullptr) write_file(dir.file("r"), c.before);
    std::vector<std::string> args, env;
    for (const std::string &a : c.args) args.push_back(fill(a));
    if (*c.env != '\0') env.push_back(fill(c.env));
    const auto r = testing_support::run_program(IFCCTL_PATH, args, env, false);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.out, fill(c.out)) << c.name;
    EXPECT_EQ(r.err, fill(c.err)) << c.name;
    EXPECT_EQ(file_exists(dir.file("r")), c.after != nullptr) << c.name;
    EXPECT_FALSE(file_exists(dir.file("r.long")))
        << c.name << ": a readings file is no set file";
    if (c.after != nullptr) {
      EXPECT_EQ(read_file(dir.file("r")),
                std::string(c.after) == "=ramp" ? ramp : c.after)
          << c.name;
    }
  }
}

}  // namespace
