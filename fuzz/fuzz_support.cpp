#include "fuzz_support.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz_support {
namespace {

char scratch[256];

void remove_scratch() {
  if (scratch[0] == '\0') return;
  DIR *d = opendir(scratch);
  if (d != nullptr) {
    int dfd = dirfd(d);
    while (dirent *e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        unlinkat(dfd, e->d_name, 0);
    }
    closedir(d);
  }
  rmdir(scratch);
}

}  // namespace

void init_process() {
  static bool done = false;
  if (done) return;
  done = true;

  signal(SIGPIPE, SIG_IGN);

  struct stat st;
  const char *base = "/dev/shm";
  if (stat(base, &st) != 0 || !S_ISDIR(st.st_mode) || access(base, W_OK) != 0) {
    base = std::getenv("TMPDIR");
    if (base == nullptr || *base == '\0') base = "/tmp";
  }
  std::snprintf(scratch, sizeof scratch, "%s/ifcsim-fuzz-XXXXXX", base);
  if (mkdtemp(scratch) == nullptr) {
    std::perror("fuzz scratch directory");
    std::abort();
  }
  std::atexit(remove_scratch);

  if (std::getenv("IFCSIM_FUZZ_VERBOSE") == nullptr) {
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) {
      std::fflush(stdout);
      dup2(null_fd, STDOUT_FILENO);
      close(null_fd);
    }
  }
}

scratch_dir::scratch_dir() : old_cwd_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  init_process();
  if (chdir(scratch) != 0) std::abort();
  static const char *const files[] = {
      "ifc_set.set",      "ifc_set.set.tmp",  "ifc_set.set.bad", "valve_fp.set",
      "valve_fp.set.tmp", "valve_fp.set.bad", "cgi.log",
  };
  for (const char *f : files) unlink(f);
}

scratch_dir::~scratch_dir() {
  if (old_cwd_ >= 0) {
    if (fchdir(old_cwd_) != 0) std::abort();
    close(old_cwd_);
  }
}

}  // namespace fuzz_support
