// Runs a built program as a child process with arguments, an environment
// and standard input, and collects its output and exit status, bounded in
// time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

struct program_result {
  int status = -1;  // exit status; -1 when it did not exit normally in time
  std::string out, err;
};

class program_run {
 public:
  // Starts path with args (argv[0] is path). env: "NAME=value" entries
  // making up the whole environment (the sanitizers' options kept), or,
  // with inherit_env, added to the test's. Standard input gets input and is
  // then closed. Under the sanitizers a finding exits with 86, so that it
  // does not pass for the program's own failure.
  program_run(const std::string &path, const std::vector<std::string> &args,
              const std::vector<std::string> &env, bool inherit_env,
              std::string input = "");
  ~program_run();
  program_run(const program_run &) = delete;
  program_run &operator=(const program_run &) = delete;

  // Feeds stdin, reads stdout and stderr until both close, and reaps the
  // child; kills it when that takes longer than the timeout.
  program_result finish(std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  void close_in();

  std::string input_;
  size_t written_ = 0;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int in_ = -1, out_ = -1, err_ = -1;
};

inline program_result run_program(const std::string &path,
                                  const std::vector<std::string> &args,
                                  const std::vector<std::string> &env, bool inherit_env,
                                  std::string input = "") {
  return program_run(path, args, env, inherit_env, std::move(input)).finish();
}

}  // namespace testing_support
