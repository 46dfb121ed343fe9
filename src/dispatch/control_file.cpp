#include "dispatch/control_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool same_file(const control_file &f, const struct stat &st) {
  return f.present && f.dev == st.st_dev && f.ino == st.st_ino && f.size == st.st_size &&
         f.mtime.tv_sec == st.st_mtim.tv_sec && f.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

void remember(control_file *f, const struct stat &st) {
  f->present = true;
  f->dev = st.st_dev;
  f->ino = st.st_ino;
  f->size = st.st_size;
  f->mtime = st.st_mtim;
}

}  // namespace

int control_file_check(control_file *f) {
  const bool first = !f->checked;
  f->checked = true;
  struct stat st;
  if (f->path == nullptr || stat(f->path, &st) != 0) {
    const bool was_there = f->present;
    f->present = false;
    return first || was_there ? kControlGone : kControlUnchanged;
  }
  if (!first && same_file(*f, st)) return kControlUnchanged;
  remember(f, st);
  return kControlChanged;
}

long control_file_read(control_file *f, char *buf, std::size_t capacity,
                       const char **reason) {
  static char too_large[64];
  std::snprintf(too_large, sizeof too_large, "larger than %zu bytes", capacity - 1);
  // O_NONBLOCK: a FIFO put in the file's place must not hold the server up.
  const int fd = open(f->path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *reason = std::strerror(errno);
    close(fd);
    return -1;
  }
  remember(f, st);
  long length = -1;
  // errno as well as the reason, so a caller can tell "no file" (ENOENT)
  // from a file it must not take.
  if (!S_ISREG(st.st_mode)) {
    *reason = "not a regular file";
    errno = EINVAL;
  } else if (static_cast<unsigned long long>(st.st_size) >= capacity) {
    *reason = too_large;
    errno = EFBIG;
  } else {
    // Read to the end: the file may have grown since the fstat.
    std::size_t got = 0;
    ssize_t n = 1;
    while (got < capacity && n != 0) {
      n = read(fd, buf + got, capacity - got);
      if (n < 0 && errno != EINTR) break;
      if (n > 0) got += static_cast<std::size_t>(n);
    }
    if (n < 0) {
      *reason = std::strerror(errno);
    } else if (got >= capacity) {
      *reason = too_large;
      errno = EFBIG;
    } else {
      buf[got] = '\0';
      length = static_cast<long>(got);
    }
  }
  close(fd);
  return length;
}

int control_file_replace(const char *path, const char *text, std::size_t length) {
  char tmp[PATH_MAX];
  if (std::snprintf(tmp, sizeof tmp, "%s.XXXXXX", path) >= static_cast<int>(sizeof tmp)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  // mkostemp: a name of its own, so two writers never share a temporary file.
  const int fd = mkostemp(tmp, O_CLOEXEC);
  if (fd < 0) return -1;
  int err = 0;
  for (std::size_t done = 0; err == 0 && done < length;) {
    const ssize_t w = write(fd, text + done, length - done);
    if (w > 0) done += static_cast<std::size_t>(w);
    if (w <= 0 && !(w < 0 && errno == EINTR)) err = w < 0 ? errno : ENOSPC;
  }
  if (err == 0 && (fchmod(fd, 0644) != 0 || fsync(fd) != 0)) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(tmp, path) != 0) err = errno;
  if (err == 0) return 0;
  unlink(tmp);
  errno = err;
  return -1;
}

const char *control_file_shown(std::string_view word, std::size_t max) {
  constexpr std::size_t kLongest = 24;
  static char out[kLongest * 4 + 4];
  if (max > kLongest) max = kLongest;
  std::size_t n = 0;
  for (std::size_t i = 0; i < word.size() && i < max; ++i) {
    const unsigned char c = static_cast<unsigned char>(word[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\')
      out[n++] = static_cast<char>(c);
    else
      n += static_cast<std::size_t>(std::snprintf(out + n, 5, "\\x%02x", c));
  }
  if (word.size() > max) {
    std::memcpy(out + n, "...", 3);
    n += 3;
  }
  out[n] = '\0';
  return out;
}
