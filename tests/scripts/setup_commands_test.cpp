// The README's two set-up commands: CI runs the test command as written, and
// the other one starts a server that answers. That one builds in the tree of
// this test run (IFCSIM_BUILD_DIR) and runs the server on port 9000 in a
// network namespace of its own, with a temporary working directory.
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
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

// Reads fd into *out until it holds needle, fd closes or the deadline passes.
bool read_until(int fd, std::string *out, const char *needle,
                std::chrono::steady_clock::time_point deadline) {
  while (out->find(needle) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    out->append(buf, static_cast<std::size_t>(n));
  }
  return true;
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
  int out[2];
  if (pipe(out) != 0) return 1;
  const pid_t script = fork();
  if (script < 0) return 1;
  if (script == 0) {
    setpgid(0, 0);  // the server and whatever the script starts, stopped as one
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    if (chdir(IFCSIM_SOURCE_DIR) != 0) _exit(126);
    setenv("IFCSIM_BUILD_DIR", IFCSIM_BUILD_DIR, 1);
    setenv("IFCSIM_RUN_DIR", work_dir.c_str(), 1);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string printed;
  // Bounds the script's build step as well as the server's start.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(45);
  bool waiting = read_until(out[0], &printed, "waiting... ", deadline);
  ifc::get_result got;
  if (waiting) got = ifc::get(ifc::endpoint{}, "IFC_get_stat");
  kill(-script, SIGTERM);
  int status = 0;
  waitpid(script, &status, 0);
  std::printf("get: %s \"%s\"\nserver: %s\n", ifc::client_error_name(got.error),
              got.reply.c_str(), waiting ? "waiting" : "never waited for clients");
  if (!waiting) std::printf("--- output:\n%s", printed.c_str());
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
