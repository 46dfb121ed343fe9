#include "support/program_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char **environ;

namespace testing_support {

namespace {

void drain(int *fd, std::string *to) {
  char buf[65536];
  ssize_t n = read(*fd, buf, sizeof buf);
  if (n > 0) {
    to->append(buf, static_cast<size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    close(*fd);
    *fd = -1;
  }
}

}  // namespace

program_run::program_run(const std::string &path, const std::vector<std::string> &args,
                         const std::vector<std::string> &env, bool inherit_env,
                         std::string input)
    : input_(std::move(input)) {
  // A program that exits before reading all its input must not take the test down.
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> environment;
  for (char **e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    if (inherit_env || entry.find("SAN_OPTIONS=") != std::string::npos)
      environment.push_back(entry);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  bool asan_set = false;
  for (const std::string &e : environment) asan_set |= e.starts_with("ASAN_OPTIONS=");
  if (!asan_set) environment.push_back("ASAN_OPTIONS=exitcode=86");
  std::vector<char *> argv{const_cast<char *>(path.c_str())};
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char *> envp;
  for (const std::string &e : environment) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execve(path.c_str(), argv.data(), envp.data());
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

program_run::~program_run() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close_in();
  for (int fd : {out_, err_})
    if (fd >= 0) close(fd);
}

void program_run::close_in() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

program_result program_run::finish(std::chrono::milliseconds timeout) {
  program_result r;
  if (pid_ < 0) return r;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (out_ >= 0 || err_ >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {in_, POLLOUT, 0}};
    if (poll(p, 3, static_cast<int>(left.count())) < 0) continue;
    if (out_ >= 0 && p[0].revents) drain(&out_, &r.out);
    if (err_ >= 0 && p[1].revents) drain(&err_, &r.err);
    if (in_ >= 0 && p[2].revents) {
      ssize_t n = write(in_, input_.data() + written_, input_.size() - written_);
      if (n > 0) written_ += static_cast<size_t>(n);
      if (n < 0 || written_ == input_.size()) close_in();
    }
  }
  bool finished = out_ < 0 && err_ < 0;
  if (!finished) kill(pid_, SIGKILL);
  int ws = 0;
  waitpid(pid_, &ws, 0);
  reaped_ = true;
  if (finished && WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
  return r;
}

}  // namespace testing_support
