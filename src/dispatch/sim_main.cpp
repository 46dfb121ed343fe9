#include "dispatch/sim_main.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "ifcsim_config.hpp"

int append_log(char *data, int len) {
  const int fd = open(kCgiLogFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  // Nothing is reported; a short write only goes on with the rest.
  for (int done = 0; done < len;) {
    const ssize_t n = write(fd, data + done, static_cast<size_t>(len - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int>(n);
  }
  close(fd);
  return 0;
}
