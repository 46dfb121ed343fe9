#include "valve/mletoff_net.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace {

// Runs the handler with its standard output sent to a file; returns what it
// printed.
std::string printed_by(std::vector<char> &data, int len) {
  testing_support::TempDir dir;
  std::string path = dir.file("stdout");
  std::fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  FILE *out = std::fopen(path.c_str(), "w");
  dup2(fileno(out), STDOUT_FILENO);
  MLETOFF_set_btnstat(data.data(), len);
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::fclose(out);
  return testing_support::read_file(path);
}

TEST(MletoffSetBtnstat, PrintsTextUpToFirstNulAndALineEnd) {
  static const struct {
    const char *name;
    std::string data;
    std::string printed;
  } cases[] = {
      {"three characters", "abc", "abc\n"},
      {"empty text", "", "\n"},
      {"NUL inside", std::string("ab\0cd", 5), "ab\n"},
      {"spaces and colons kept", "btn:1 stat:0 ", "btn:1 stat:0 \n"},
  };
  for (const auto &c : cases) {
    // The byte behind the data part belongs to the handler; fill it with
    // text that must not be printed.
    std::vector<char> data(c.data.begin(), c.data.end());
    data.push_back('Z');
    EXPECT_EQ(printed_by(data, static_cast<int>(c.data.size())), c.printed) << c.name;
    EXPECT_EQ(data.back(), '\0') << c.name;
  }
}

}  // namespace
