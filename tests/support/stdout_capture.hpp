// Captures what the process writes to standard output (stdio and fd 1).
#pragma once

#include <functional>
#include <string>

namespace testing_support {

// While alive, standard output goes to an unlinked temporary file (a file,
// not a pipe, so large outputs cannot block the writer). take() flushes
// stdout and returns everything written since the last take().
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture &) = delete;
  StdoutCapture &operator=(const StdoutCapture &) = delete;

  std::string take();

 private:
  int saved_fd_;
  int file_fd_;
};

// Runs fn in a forked child whose standard output is captured, and returns
// that output: for code whose process-wide state must start fresh. The
// child's exit status is checked (fails the test when it is not 0).
std::string run_in_child_capturing_stdout(void (*fn)(const void *arg), const void *arg);

// Runs child in a forked child whose standard output goes, fully buffered,
// to a file, and ends that child without flushing: the result is only what
// child flushed itself. parent, if given, runs meanwhile in this process
// (e.g. to play the peer). The child's exit status is checked.
std::string run_in_child_flushed_stdout(const std::function<void()> &child,
                                        const std::function<void()> &parent = {});

}  // namespace testing_support
