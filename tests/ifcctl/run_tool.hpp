// Runs the built ifcctl (IFCCTL_PATH) as a child process with arguments and
// standard input, and collects its output and exit status, bounded in time.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace ifcctl_test {

struct tool_result {
  int status = -1;  // exit status; -1 when it did not exit normally in time
  std::string out, err;
};

class tool_run {
 public:
  // Starts ifcctl; stdin gets `input` and is then closed.
  tool_run(const std::vector<std::string> &args, std::string input = "")
      : input_(std::move(input)) {
    // A tool that exits before reading all its input must not take the test down.
    signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      // Under the sanitizers a finding must not pass for the tool's own exit 1.
      setenv("ASAN_OPTIONS", "exitcode=86", 0);
      std::vector<char *> argv;
      argv.push_back(const_cast<char *>(IFCCTL_PATH));
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(IFCCTL_PATH, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    fcntl(in_, F_SETFL, O_NONBLOCK);
    if (input_.empty()) close_in();
  }

  ~tool_run() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close_in();
    for (int fd : {out_, err_})
      if (fd >= 0) close(fd);
  }

  // Feeds stdin, reads stdout and stderr until both close, and reaps the
  // child; kills it when that takes longer than the timeout.
  tool_result finish(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    tool_result r;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out_ >= 0 || err_ >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {in_, POLLOUT, 0}};
      if (poll(p, 3, static_cast<int>(left.count())) < 0) continue;
      drain(&out_, &r.out, p[0].revents);
      drain(&err_, &r.err, p[1].revents);
      if (in_ >= 0 && p[2].revents) {
        ssize_t n = write(in_, input_.data() + written_, input_.size() - written_);
        if (n > 0) written_ += static_cast<std::size_t>(n);
        if (n < 0 || written_ == input_.size()) close_in();
      }
    }
    if (out_ >= 0 || err_ >= 0) kill(pid_, SIGKILL);
    int ws = 0;
    waitpid(pid_, &ws, 0);
    reaped_ = true;
    if (WIFEXITED(ws) && (out_ < 0 && err_ < 0)) r.status = WEXITSTATUS(ws);
    return r;
  }

 private:
  static void drain(int *fd, std::string *to, short revents) {
    if (*fd < 0 || !revents) return;
    char buf[65536];
    ssize_t n = read(*fd, buf, sizeof buf);
    if (n > 0) {
      to->append(buf, static_cast<std::size_t>(n));
    } else {
      close(*fd);
      *fd = -1;
    }
  }
  void close_in() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  std::string input_;
  std::size_t written_ = 0;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int in_ = -1, out_ = -1, err_ = -1;
};

inline tool_result run_tool(const std::vector<std::string> &args,
                            std::string input = "") {
  return tool_run(args, std::move(input)).finish();
}

}  // namespace ifcctl_test
