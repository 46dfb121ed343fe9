#include "support/small_disk.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testing_support {

SmallDisk::SmallDisk(std::size_t bytes) {
  const std::string size = "size=" + std::to_string(bytes);
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("ifcsim-test", path().c_str(), "tmpfs", 0, size.c_str()) != 0)
    why_ = std::string("no tmpfs in a mount namespace: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
  if (why_.empty()) umount2(path().c_str(), MNT_DETACH);
}

bool SmallDisk::SetReadOnly(bool read_only) {
  return mount(nullptr, path().c_str(), nullptr, MS_REMOUNT | (read_only ? MS_RDONLY : 0),
               nullptr) == 0;
}

void SmallDisk::Fill() {
  const int fd = open(file("filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  static const char block[4096] = {};
  // Whole pages, then what is left of the last one.
  for (size_t n = sizeof block; fd >= 0 && n > 0; n /= 2)
    while (write(fd, block, n) == static_cast<ssize_t>(n)) {
    }
  if (fd >= 0) close(fd);
}

void SmallDisk::Free() { unlink(file("filler").c_str()); }

}  // namespace testing_support
