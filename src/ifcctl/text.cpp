#include "ifcctl/text.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ifcctl {

void trim_trailing_blanks(std::string *s) {
  std::size_t end = s->find_last_not_of(' ');
  s->erase(end == std::string::npos ? 0 : end + 1);
}

std::string printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

bool replace_file(const std::string &path, const std::string &text) {
  std::string tmp = path + ".XXXXXX";
  const int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  int err = 0;
  for (std::size_t done = 0; err == 0 && done < text.size();) {
    const ssize_t w = write(fd, text.data() + done, text.size() - done);
    if (w > 0) done += static_cast<std::size_t>(w);
    if (w <= 0 && !(w < 0 && errno == EINTR)) err = w < 0 ? errno : ENOSPC;
  }
  if (err == 0 && (fchmod(fd, 0644) != 0 || fsync(fd) != 0)) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err == 0) return true;
  unlink(tmp.c_str());
  errno = err;
  return false;
}

}  // namespace ifcctl
