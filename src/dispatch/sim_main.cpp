#include "dispatch/sim_main.hpp"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dispatch/exchange.hpp"
#include "ifcsim_config.hpp"

namespace {

// One line per file and request: the change is lost, the client has had its
// "FIN" all the same, and the next request tries again.
void report_failure(const char *path, const char *what, int err) {
  if (exchange_failed(path)) printf("%s: %s (%s)\n", path, what, strerror(err));
}

}  // namespace

int append_log(char *data, int len) {
  const int fd = open(kCgiLogFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    report_failure(kCgiLogFile, "not appended to", errno);
    return 0;
  }
  for (int done = 0; done < len;) {
    const ssize_t n = write(fd, data + done, static_cast<size_t>(len - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      // The part that went in is taken back: the log holds whole texts only.
      const off_t at = lseek(fd, 0, SEEK_CUR);
      if (done > 0 && at >= done) (void)!ftruncate(fd, at - done);
      close(fd);
      report_failure(kCgiLogFile, "not appended to", err);
      return 0;
    }
    done += static_cast<int>(n);
  }
  close(fd);
  if (len > 0) exchange_saved(kCgiLogFile);
  return 0;
}

// Set files: load, save and load-or-reset of a table image.

namespace {

// path followed by suffix into out; false when it does not fit.
bool with_suffix(char (&out)[PATH_MAX], const char *path, const char *suffix) {
  size_t n = strlen(path);
  size_t m = strlen(suffix);
  if (n + m + 1 > sizeof out) return false;
  memcpy(out, path, n);
  memcpy(out + n, suffix, m + 1);
  return true;
}

// Makes a finished rename durable. Failing here loses at most the newest
// image after a power cut, never the file, and the new file is already in
// place, so the result is not reported.
void sync_parent_dir(const char *path) {
  char dir[PATH_MAX];
  const char *slash = strrchr(path, '/');
  if (slash == nullptr) {
    memcpy(dir, ".", 2);
  } else {
    size_t n = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (n + 1 > sizeof dir) return;
    memcpy(dir, path, n);
    dir[n] = '\0';
  }
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// What load_image gives for a file that is neither a regular file nor a
// directory (whose read fails as it always did).
constexpr int kNotRegular = -2;

// hfp_load_data2, but kNotRegular for a FIFO, a device or a socket: reading
// one may block for good or never end. O_NONBLOCK keeps the open of a FIFO
// from waiting for a writer.
int load_image(const char *path, void *buf, int size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    close(fd);
    return kNotRegular;
  }
  ssize_t n = read(fd, buf, static_cast<size_t>(size));
  int read_errno = errno;
  close(fd);
  // The caller reports why a read failed.
  errno = read_errno;
  return static_cast<int>(n);
}

// Whether resolved (a path without links) lies in the directory that holds
// the link path, or below it.
bool inside_own_directory(const char *path, const char *resolved) {
  char dir[PATH_MAX], real_dir[PATH_MAX];
  const char *slash = strrchr(path, '/');
  const size_t n = slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
  if (n + 2 > sizeof dir) return false;
  memcpy(dir, path, n);
  memcpy(dir + n, ".", 2);
  if (realpath(dir, real_dir) == nullptr) return false;
  const size_t m = strlen(real_dir);
  if (m == 1) return true;  // the root holds everything
  return strncmp(resolved, real_dir, m) == 0 && resolved[m] == '/';
}

// The first save of a file longer than its table would cut it: the whole
// file is kept as "<file>.long" first (a hard link, no copy). false, with one
// line, when it cannot be kept: then nothing may be saved over it.
bool keep_long_file(const char *name, const char *file, long long length, int size) {
  char kept[PATH_MAX];
  int err = ENAMETOOLONG;
  if (with_suffix(kept, file, ".long")) {
    if ((unlink(kept) == 0 || errno == ENOENT) && link(file, kept) == 0) {
      printf("%s: %lld bytes, expected %d; kept as %s before the save shortens it\n",
             name, length, size, kept);
      return true;
    }
    err = errno;
  }
  if (exchange_failed(name)) {
    printf("%s: %lld bytes, expected %d; could not keep it as %s.long (%s), not saved\n",
           name, length, size, file, strerror(err));
  }
  return false;
}

}  // namespace

int hfp_load_data2(const char *path, void *buf, int size) {
  if (size < 0) return -1;
  const int n = load_image(path, buf, size);
  return n == kNotRegular ? -1 : n;
}

// Writing the set file in place would leave a short or empty file behind a
// crash or a full disk, and the next load would throw every setting away.
// The image goes to a temporary file beside it instead, which replaces the
// set file only once it is whole and on disk.
int hfp_save_data2(const char *path, const void *buf, int size) {
  if (size < 0) return -1;
  const char *name = path;  // as the caller knows it: for the lines below
  // A set file that is a link to the real one stays a link: the real file is
  // replaced, in its own directory, as an in-place write would have changed
  // it. A link planted to make the server rewrite a file elsewhere is not
  // followed: only one that leads into its own directory (or below) is.
  char resolved[PATH_MAX];
  struct stat old;
  bool exists = lstat(path, &old) == 0;
  if (exists && S_ISLNK(old.st_mode) && realpath(path, resolved) != nullptr) {
    if (!inside_own_directory(path, resolved)) {
      if (exchange_failed(name))
        printf("%s: not saved (a link to %s, outside its directory)\n", name, resolved);
      return -1;
    }
    path = resolved;
    exists = stat(path, &old) == 0;
  }
  if (exists && S_ISREG(old.st_mode) && old.st_size > size &&
      !keep_long_file(name, path, static_cast<long long>(old.st_size), size))
    return -1;
  char tmp[PATH_MAX];
  if (!with_suffix(tmp, path, ".tmp")) {
    report_failure(name, "not saved", ENAMETOOLONG);
    return -1;
  }
  // O_NOFOLLOW: a link left under the temporary name must not redirect the
  // write to some other file.
  int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    report_failure(name, "not saved", errno);
    return -1;
  }
  // A set file that someone narrowed (say to 0600) keeps its permissions, as
  // it did when it was rewritten in place.
  if (exists && S_ISREG(old.st_mode)) fchmod(fd, old.st_mode & 07777);
  int err = 0;
  if (!write_all(fd, static_cast<const char *>(buf), static_cast<size_t>(size)) ||
      fsync(fd) != 0)
    err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(tmp, path) == 0) {
    sync_parent_dir(path);
    exchange_saved(name);
    return 0;
  }
  if (err == 0) err = errno;
  unlink(tmp);
  report_failure(name, "not saved", err);
  return -1;
}

int hfp_load_table(const char *path, void *table, const void *defaults, int size) {
  errno = 0;
  int n = size < 0 ? -1 : load_image(path, table, size);
  int err = errno;
  if (n == size) return size;

  // A successful open and read leave errno alone, so with n == 0 a set errno
  // means the open failed; ENOENT is the first access, nothing to report.
  bool open_failed = n == 0 && err != 0;
  // Out of descriptors or memory the process cannot open any file, which
  // says nothing about this one. Setting it aside would lose every setting
  // once the shortage is over, so the file stays as it is and the table
  // keeps the image of its last load (the defaults if it never held one).
  if (open_failed && (err == EMFILE || err == ENFILE || err == ENOMEM)) {
    printf("%s: cannot be opened now (%s); last loaded settings used, file left alone\n",
           path, strerror(err));
    int32_t first_type;
    memcpy(&first_type, table, sizeof first_type);
    if (first_type == 0) memcpy(table, defaults, static_cast<size_t>(size));
    return -1;
  }
  if (!(open_failed && err == ENOENT)) {
    char reason[96];
    if (n == kNotRegular) {
      snprintf(reason, sizeof reason, "not a regular file");
    } else if (n < 0 || open_failed) {
      snprintf(reason, sizeof reason, "unreadable (%s)", strerror(err));
    } else {
      snprintf(reason, sizeof reason, "%d bytes, expected %d", n, size);
    }
    // The rejected file may be the only copy of the settings: keep it aside
    // before the defaults replace it.
    char bad[PATH_MAX];
    int kept =
        with_suffix(bad, path, ".bad") ? rename(path, bad) : (errno = ENAMETOOLONG, -1);
    if (kept != 0) {
      // Saving now would destroy the file that could not be kept: serve the
      // defaults from memory and leave the file as it is.
      int rename_err = errno;
      printf("%s: %s; could not keep it as %s.bad (%s), defaults used, file left alone\n",
             path, reason, path, strerror(rename_err));
      memcpy(table, defaults, static_cast<size_t>(size));
      return -1;
    }
    printf("%s: %s; kept as %s, defaults restored\n", path, reason, bad);
  }
  memcpy(table, defaults, static_cast<size_t>(size));
  hfp_save_data2(path, table, size);
  return 0;
}
