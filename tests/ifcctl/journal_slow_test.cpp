// ifcctl journal --follow and wait while the journal is rotated under them,
// and a wait that runs out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ifcctl/run_tool.hpp"
#include "support/journal_lines.hpp"
#include "support/temp_dir.hpp"

namespace {

// ifcctl journal ARGS... PATH in a child whose output the test can wait for.
std::unique_ptr<testing_support::ChildProcess> journal_child(
    std::vector<std::string> args) {
  args.insert(args.begin(), {"ifcctl", "journal"});
  return std::make_unique<testing_support::ChildProcess>([args] {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(IFCCTL_PATH, argv.data());
    return 127;
  });
}

// Whether process pid has path open, waiting for it at most 10 seconds.
bool holds_open(pid_t pid, const std::string &path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  const auto file = std::filesystem::canonical(path);
  do {
    std::error_code ec;
    for (const auto &fd : std::filesystem::directory_iterator(fds, ec))
      if (std::filesystem::read_symlink(fd.path(), ec) == file) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

TEST(IfcctlJournalSlow, FollowAndWaitAcrossARotation) {
  testing_support::TempDir dir;
  const std::string path = dir.file("journal.jsonl");
  const auto server = testing_support::JournalServer(path);
  server->Get("IFC_get_To_Tw_1");
  ASSERT_TRUE(server->WaitForRequests(1));
  const auto wait = journal_child(
      {"wait", "--count", "3", "--command", "IFC_get_To_Tw_?", "--timeout", "20", path});
  const auto follow = journal_child({"--follow", "--json", path});
  ASSERT_TRUE(holds_open(wait->pid(), path));
  ASSERT_NE(follow->WaitForOutput("IFC_get_To_Tw_1").find("IFC_get_To_Tw_1"),
            std::string::npos);

  ASSERT_EQ(std::rename(path.c_str(), (path + ".1").c_str()), 0);
  server->Get("IFC_get_To_Tw_2");
  ASSERT_EQ(ifcctl_test::run_tool({"journal", "mark", "rotated", path}).status, 0);
  server->Get("IFC_get_To_Tw_3");
  ASSERT_TRUE(server->WaitForRequests(3));
  EXPECT_EQ(wait->WaitForExit(), 0);
  EXPECT_EQ(follow->WaitForOutput("IFC_get_To_Tw_3"),
            testing_support::read_file(path + ".1") + testing_support::read_file(path));

  // The new file holds two of them.
  const auto r = ifcctl_test::run_tool({"journal", "wait", "--count", "3", "--command",
                                        "IFC_get_To_Tw_?", "--timeout", "0.2", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ifcctl: " + path + ": 2 of 3 entries within 0.2 s\n");
}

}  // namespace
