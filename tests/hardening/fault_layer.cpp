#include "hardening/fault_layer.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {
int __real_open(const char *path, int flags, ...);
int __real_open64(const char *path, int flags, ...);
ssize_t __real_write(int fd, const void *buf, size_t n);
ssize_t __real_read(int fd, void *buf, size_t n);
int __real_fsync(int fd);
int __real_fdatasync(int fd);
int __real_close(int fd);
int __real_rename(const char *from, const char *to);
}

namespace fault_layer {
namespace {

constexpr int kMaxFd = 4096;
constexpr int kSteps = static_cast<int>(step::count_);

// Plain globals: the layer must work in a forked child and from within
// the server's request path, where nothing may allocate.
// 0: not a set file; 1: opened for reading; 2: opened for writing.
unsigned char watched[kMaxFd];
int counts[kSteps];
step armed_step = step::count_;
int armed_nth = 0;
fault armed_fault = fault::none;
bool has_fired = false;

bool is_set_path(const char *path) {
  return path != nullptr && std::strstr(path, ".set");
}

bool is_watched(int fd) { return fd >= 0 && fd < kMaxFd && watched[fd]; }

// Counts a call of step s and tells which fault, if any, it gets.
fault next(step s) {
  int n = ++counts[static_cast<int>(s)];
  if (s == armed_step && n == armed_nth && !has_fired) {
    has_fired = true;
    return armed_fault;
  }
  return fault::none;
}

[[noreturn]] void die() {
  raise(SIGKILL);
  _exit(137);
}

// Applies the faults that replace the call. Returns true when the call is
// not to be made (errno set); kill_after is left to the caller.
bool refuse(fault f) {
  switch (f) {
    case fault::kill_before:
      die();
    case fault::eio:
      errno = EIO;
      return true;
    case fault::enospc:
      errno = ENOSPC;
      return true;
    case fault::emfile:
      errno = EMFILE;
      return true;
    default:
      return false;
  }
}

template <typename Real>
int open_common(Real real, const char *path, int flags, mode_t mode) {
  if (!is_set_path(path)) return real(path, flags, mode);
  bool for_write = (flags & O_ACCMODE) != O_RDONLY;
  fault f = next(for_write ? step::open_write : step::open_read);
  if (refuse(f)) return -1;
  int fd = real(path, flags, mode);
  if (fd >= 0 && fd < kMaxFd) watched[fd] = for_write ? 2 : 1;
  if (f == fault::kill_after) die();
  return fd;
}

}  // namespace

const char *step_name(step s) {
  static const char *const names[] = {"open_write", "open_read", "write", "read",
                                      "fsync",      "close",     "rename"};
  int i = static_cast<int>(s);
  return i >= 0 && i < kSteps ? names[i] : "?";
}

const char *fault_name(fault f) {
  static const char *const names[] = {"none",   "kill_before", "kill_after", "eio",
                                      "enospc", "emfile",      "short_io"};
  return names[static_cast<int>(f)];
}

void arm(step s, int nth, fault f) {
  reset_counts();
  armed_step = s;
  armed_nth = nth;
  armed_fault = f;
  has_fired = false;
}

void disarm() { arm(step::count_, 0, fault::none); }

int calls(step s) { return counts[static_cast<int>(s)]; }

void reset_counts() { std::memset(counts, 0, sizeof counts); }

bool fired() { return has_fired; }

}  // namespace fault_layer

using fault_layer::fault;
using fault_layer::step;

extern "C" {

int __wrap_open(const char *path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  return fault_layer::open_common(
      [](const char *p, int fl, mode_t m) { return __real_open(p, fl, m); }, path, flags,
      mode);
}

int __wrap_open64(const char *path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  return fault_layer::open_common(
      [](const char *p, int fl, mode_t m) { return __real_open64(p, fl, m); }, path,
      flags, mode);
}

ssize_t __wrap_write(int fd, const void *buf, size_t n) {
  if (!fault_layer::is_watched(fd)) return __real_write(fd, buf, n);
  fault f = fault_layer::next(step::write);
  if (fault_layer::refuse(f)) return -1;
  if (f == fault::short_io && n > 1) return __real_write(fd, buf, n / 2);
  ssize_t r = __real_write(fd, buf, n);
  if (f == fault::kill_after) fault_layer::die();
  return r;
}

ssize_t __wrap_read(int fd, void *buf, size_t n) {
  if (!fault_layer::is_watched(fd)) return __real_read(fd, buf, n);
  fault f = fault_layer::next(step::read);
  if (fault_layer::refuse(f)) return -1;
  if (f == fault::short_io && n > 1) return __real_read(fd, buf, n / 2);
  ssize_t r = __real_read(fd, buf, n);
  if (f == fault::kill_after) fault_layer::die();
  return r;
}

static int sync_common(int (*real)(int), int fd) {
  if (!fault_layer::is_watched(fd)) return real(fd);
  fault f = fault_layer::next(step::fsync);
  if (fault_layer::refuse(f)) return -1;
  int r = real(fd);
  if (f == fault::kill_after) fault_layer::die();
  return r;
}

int __wrap_fsync(int fd) { return sync_common(__real_fsync, fd); }
int __wrap_fdatasync(int fd) { return sync_common(__real_fdatasync, fd); }

int __wrap_close(int fd) {
  // Only the close of a file being written is a step of a save.
  if (!fault_layer::is_watched(fd) || fault_layer::watched[fd] != 2) {
    if (fault_layer::is_watched(fd)) fault_layer::watched[fd] = 0;
    return __real_close(fd);
  }
  fault_layer::watched[fd] = 0;
  fault f = fault_layer::next(step::close);
  if (f == fault::eio || f == fault::enospc) {
    // A close that reports an error has still released the descriptor.
    __real_close(fd);
    errno = f == fault::eio ? EIO : ENOSPC;
    return -1;
  }
  if (f == fault::kill_before) fault_layer::die();
  int r = __real_close(fd);
  if (f == fault::kill_after) fault_layer::die();
  return r;
}

int __wrap_rename(const char *from, const char *to) {
  if (!fault_layer::is_set_path(from) && !fault_layer::is_set_path(to))
    return __real_rename(from, to);
  fault f = fault_layer::next(step::rename);
  if (fault_layer::refuse(f)) return -1;
  int r = __real_rename(from, to);
  if (f == fault::kill_after) fault_layer::die();
  return r;
}

}  // extern "C"
