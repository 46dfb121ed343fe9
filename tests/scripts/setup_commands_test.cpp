// The README's two set-up commands: CI runs the test command as written, and
// the other one starts a server that answers. That one builds in the tree of
// this test run (IFCSIM_BUILD_DIR) and runs the server on port 9000 in a
// network namespace of its own, with a temporary working directory.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "client/ifc_client.hpp"
#include "support/server_process.hpp"

#ifndef IFCSIM_SOURCE_DIR
#error "IFCSIM_SOURCE_DIR must name the repository root"
#endif
#ifndef IFCSIM_BUILD_DIR
#error "IFCSIM_BUILD_DIR must name the build tree of this test"
#endif

namespace {

using testing_support::ChildProcess;
using testing_support::read_file;

constexpr int kSkip = 77;

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The command lines of the first sh block of the README's Set-up section.
std::vector<std::string> setup_commands() {
  std::vector<std::string> commands;
  bool in_section = false, in_block = false;
  for (const std::string &line : lines_of(read_file(IFCSIM_SOURCE_DIR "/README.md"))) {
    if (line.rfind("## ", 0) == 0) {
      if (in_section) break;
      in_section = line == "## Set-up";
    } else if (in_section && !in_block && line == "```sh") {
      in_block = true;
    } else if (in_block && line.rfind("```", 0) == 0) {
      break;
    } else if (in_block && !line.empty() && line[0] != '#') {
      commands.push_back(line);
    }
  }
  return commands;
}

bool ci_runs(const std::string &command) {
  for (const std::string &line : lines_of(read_file(IFCSIM_SOURCE_DIR "/.ci/run")))
    if (line == command) return true;
  return false;
}

// The set-up command that CI does not run.
std::string run_command() {
  for (const std::string &c : setup_commands())
    if (!ci_runs(c)) return c;
  return "";
}

TEST(SetupCommands, CiRunsTheReadmeTestCommandAsWritten) {
  std::vector<std::string> commands = setup_commands();
  ASSERT_EQ(commands.size(), 2u) << "README Set-up block";
  int run_by_ci = 0;
  for (const std::string &c : commands) run_by_ci += ci_runs(c);
  EXPECT_EQ(run_by_ci, 1) << commands[0] << " / " << commands[1];
}

// In the child: a network namespace of its own, the command in it, one GET
// once the server waits for clients, then the server stopped. Prints what
// happened for the test.
int run_in_namespace(const std::string &command, const std::string &work_dir) {
  if (unshare(CLONE_NEWNET) != 0) {
    std::printf("unshare(CLONE_NEWNET): %s", std::strerror(errno));
    return kSkip;
  }
  if (std::system("ip link set lo up") != 0) {
    std::printf("cannot bring up lo in the new namespace");
    return kSkip;
  }
  ChildProcess script([&] {
    setpgid(0, 0);  // the server and whatever the script starts, stopped as one
    if (chdir(IFCSIM_SOURCE_DIR) != 0) return 126;
    setenv("IFCSIM_BUILD_DIR", IFCSIM_BUILD_DIR, 1);
    setenv("IFCSIM_RUN_DIR", work_dir.c_str(), 1);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    return 127;
  });
  // Bounds the script's build step as well as the server's start.
  bool waiting =
      script.WaitForOutput("waiting... ", std::chrono::seconds(45)).find("waiting... ") !=
      std::string::npos;
  ifc::get_result got;
  if (waiting) got = ifc::get(ifc::endpoint{}, "IFC_get_stat");
  kill(-script.pid(), SIGKILL);
  script.Stop();
  std::printf("get: %s \"%s\"\nserver: %s\n", ifc::client_error_name(got.error),
              got.reply.c_str(), waiting ? "waiting" : "never waited for clients");
  if (!waiting)
    std::printf("--- output:\n%s%s", script.Output().c_str(), script.Stderr().c_str());
  return 0;
}

TEST(SetupCommands, RunCommandStartsAServerThatAnswers) {
  const std::string command = run_command();
  ASSERT_NE(command, "") << "no run command in the README's Set-up block";
  // The child's working directory is a fresh one: the server's, too.
  ChildProcess child([&] {
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) ? run_in_namespace(command, cwd) : 1;
  });
  const auto status = child.WaitForExit(std::chrono::seconds(55));
  ASSERT_TRUE(status.has_value()) << child.Output();
  ASSERT_TRUE(WIFEXITED(*status)) << child.Output();
  if (WEXITSTATUS(*status) == kSkip)
    GTEST_SKIP() << "no private network namespace for the server: " << child.Output();
  ASSERT_EQ(WEXITSTATUS(*status), 0) << child.Output() << child.Stderr();
  EXPECT_EQ(child.Output(),
            "get: none \"color:1 mode:0 totw_sw:0 \"\n"
            "server: waiting\n");
  EXPECT_EQ(read_file(child.file("ifc_set.set")).size(), 800u);
}

}  // namespace
