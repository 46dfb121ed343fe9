// Bench launcher: the real server loop, tcp1_serve(), on an ephemeral port,
// so a benchmark never needs port 9000 or a private network namespace.
// Everything else (working directory, standard output) is the caller's.
//
// usage: ifcsim_bench_server [--readings FILE] [--faults FILE] PORTFILE
//                            [ALLOCFILE [JOURNAL]]
//   FILE       a readings file or a fault rules file, as ifcsim takes them
//   PORTFILE   receives the port once the socket listens
//   ALLOCFILE  an 8-byte file that holds the process's heap allocation count
//              from then on (a shared mapping: read it at any time, e.g. with
//              od -An -tu8 ALLOCFILE); "-" for none
//   JOURNAL    turns the traffic journal on, as ifcsim --journal does
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "alloc_count.hpp"
#include "ifc/readings.hpp"
#include "net/ether_com.hpp"
#include "net/faults.hpp"
#include "net/journal.hpp"
#include "net/port_file.hpp"
#include "net/tcp1_main.hpp"

namespace {

#ifdef IFCSIM_ALLOC_COUNT
int attach_counter_file(const char *path) {
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ftruncate(fd, sizeof(std::uint64_t)) != 0) {
    std::perror(path);
    return -1;
  }
  void *map =
      mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) {
    std::perror("mmap");
    return -1;
  }
  alloc_count_attach(static_cast<volatile std::uint64_t *>(map));
  return 0;
}
#else
int attach_counter_file(const char *) {
  std::fprintf(stderr, "ifcsim_bench_server: no allocation count in sanitizer builds\n");
  return -1;
}
#endif

}  // namespace

int main(int argc, char **argv) {
  for (; argc >= 3 && std::strncmp(argv[1], "--", 2) == 0; argv += 2, argc -= 2) {
    if (std::strcmp(argv[1], "--readings") == 0) readings_configure(argv[2]);
    if (std::strcmp(argv[1], "--faults") == 0) faults_configure(argv[2]);
  }
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr,
                 "usage: ifcsim_bench_server [--readings FILE] [--faults FILE] PORTFILE "
                 "[ALLOCFILE [JOURNAL]]\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);  // as the server's own start-up does
  if (argc >= 3 && std::strcmp(argv[2], "-") != 0 && attach_counter_file(argv[2]) != 0)
    return 1;
  if (argc == 4 && journal_open(argv[3]) != 0) {
    std::perror(argv[3]);
    return 1;
  }
  int listen_fd = -1;
  if (ether_init(&listen_fd, 0) != 1) return 1;
  if (write_port_file(listen_fd, argv[1]) < 0) {
    std::perror(argv[1]);
    return 1;
  }
  tcp1_serve(listen_fd);
}
