#include "support/stdout_capture.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace testing_support {

namespace {

int make_unlinked_temp_file() {
  const char *base = std::getenv("TMPDIR");
  std::string templ =
      std::string(base && *base ? base : "/tmp") + "/ifcsim-stdout-XXXXXX";
  int fd = mkstemp(templ.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(templ.c_str());
  return fd;
}

std::string read_all(int fd) {
  std::string out;
  if (lseek(fd, 0, SEEK_SET) < 0) throw std::runtime_error("lseek failed");
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) throw std::runtime_error("read failed");
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

StdoutCapture::StdoutCapture() : saved_fd_(-1), file_fd_(make_unlinked_temp_file()) {
  std::fflush(stdout);
  saved_fd_ = dup(STDOUT_FILENO);
  if (saved_fd_ < 0 || dup2(file_fd_, STDOUT_FILENO) < 0) {
    throw std::runtime_error("redirecting stdout failed");
  }
}

StdoutCapture::~StdoutCapture() {
  std::fflush(stdout);
  dup2(saved_fd_, STDOUT_FILENO);
  close(saved_fd_);
  close(file_fd_);
}

std::string StdoutCapture::take() {
  std::fflush(stdout);
  std::string out = read_all(file_fd_);
  // fd 1 shares this file's offset: rewinding here rewinds the writer too.
  if (ftruncate(file_fd_, 0) != 0 || lseek(file_fd_, 0, SEEK_SET) < 0) {
    throw std::runtime_error("truncating capture file failed");
  }
  return out;
}

std::string run_in_child_capturing_stdout(void (*fn)(const void *arg), const void *arg) {
  int fd = make_unlinked_temp_file();
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (dup2(fd, STDOUT_FILENO) < 0) _exit(3);
    fn(arg);
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  std::string out = read_all(fd);
  close(fd);
  return out;
}

std::string run_in_child_flushed_stdout(const std::function<void()> &child,
                                        const std::function<void()> &parent) {
  int fd = make_unlinked_temp_file();
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (dup2(fd, STDOUT_FILENO) < 0) _exit(3);
    // A file is fully buffered anyway; this holds even where stdout began
    // as a terminal.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    child();
    _exit(0);  // no flush: what is still buffered is lost
  }
  if (parent) parent();
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  std::string out = read_all(fd);
  close(fd);
  return out;
}

}  // namespace testing_support
