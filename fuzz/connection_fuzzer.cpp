// The bytes a client sends on one connection: the 23-byte header, the
// GET/PUT routing, "NEXT" answers and PUT payload blocks. The input goes into
// one end of a socketpair, whose write side is then shut down, so that the
// server sees end-of-file at once where an input stops short instead of
// waiting out the 5 s time-out.
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.hpp"
#include "net/tcp1_main.hpp"

namespace {

struct feed {
  int fd;
  const std::uint8_t *data;
  std::size_t size;
};

// Writes the input and shuts down the write side. Runs beside the server so
// that an input larger than the socket buffer does not block: the server
// reads as it goes, and when it closes early the send fails with EPIPE.
void *write_input(void *arg) {
  const feed *f = static_cast<const feed *>(arg);
  std::size_t off = 0;
  while (off < f->size) {
    ssize_t n = send(f->fd, f->data + off, f->size - off, MSG_NOSIGNAL);
    if (n <= 0) break;
    off += static_cast<std::size_t>(n);
  }
  shutdown(f->fd, SHUT_WR);
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_support::init_process();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz_support::scratch_dir in_scratch;

  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
  // Most inputs fit into the socket buffer at once; only the rest needs the
  // writer thread.
  std::size_t first = 0;
  while (first < size) {
    ssize_t n = send(sv[1], data + first, size - first, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    first += static_cast<std::size_t>(n);
  }
  feed f{sv[1], data + first, size - first};
  pthread_t writer;
  bool threaded = first < size;
  if (threaded) {
    if (pthread_create(&writer, nullptr, write_input, &f) != 0) std::abort();
  } else {
    shutdown(sv[1], SHUT_WR);
  }

  // Closes sv[0] itself.
  tcp1_handle_connection(sv[0]);

  if (threaded) pthread_join(writer, nullptr);
  close(sv[1]);
  return 0;
}
