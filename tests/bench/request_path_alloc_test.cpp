// The request path allocates nothing: the server loop runs in a child process
// whose heap allocations are counted (into a shared page the test reads), and
// after one warm-up round of every request a steady stream of the same
// requests must not allocate a single byte.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dispatch/ether_parse.hpp"
#include "net/ether_com.hpp"
#include "net/tcp1_main.hpp"
#include "support/temp_dir.hpp"

// g++ says __SANITIZE_ADDRESS__, clang says __has_feature(address_sanitizer).
#if defined(__SANITIZE_ADDRESS__)
#define IFCSIM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IFCSIM_ASAN 1
#endif
#endif

namespace {

// One word shared with the server child; only the child counts into it.
std::atomic<std::uint64_t> *shared_allocs = nullptr;
volatile bool counting = false;

inline void note_alloc() {
  if (counting && shared_allocs) shared_allocs->fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

#ifdef IFCSIM_ASAN
// The sanitizer runtime owns malloc; it calls these hooks on every allocation.
// (Declared here: g++ does not ship the sanitizer interface headers.)
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void *, std::size_t),
    void (*free_hook)(const volatile void *));
namespace {
void on_malloc(const volatile void *, std::size_t) { note_alloc(); }
void on_free(const volatile void *) {}
const int hooks_installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
}  // namespace
#else
// Wrappers that count and forward to the C library's allocator (operator new
// and the library's own internal allocations come through malloc too).
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t n, std::size_t size);
void *__libc_realloc(void *p, std::size_t size);
void *__libc_memalign(std::size_t align, std::size_t size);
void __libc_free(void *p);

void *malloc(std::size_t size) noexcept {
  note_alloc();
  return __libc_malloc(size);
}
void *calloc(std::size_t n, std::size_t size) noexcept {
  note_alloc();
  return __libc_calloc(n, size);
}
void *realloc(void *p, std::size_t size) noexcept {
  note_alloc();
  return __libc_realloc(p, size);
}
void free(void *p) noexcept { __libc_free(p); }
void *memalign(std::size_t align, std::size_t size) noexcept {
  note_alloc();
  return __libc_memalign(align, size);
}
void *aligned_alloc(std::size_t align, std::size_t size) noexcept {
  note_alloc();
  return __libc_memalign(align, size);
}
int posix_memalign(void **out, std::size_t align, std::size_t size) noexcept {
  if (align < sizeof(void *) || (align & (align - 1)) != 0) return EINVAL;
  note_alloc();
  void *p = __libc_memalign(align, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
}  // extern "C"
#endif

namespace {

using testing_support::TempDir;

int connect_to(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool read_full(int fd, char *buf, int n) {
  for (int got = 0; got < n;) {
    ssize_t r = recv(fd, buf + got, static_cast<size_t>(n - got), 0);
    if (r <= 0) return false;
    got += static_cast<int>(r);
  }
  return true;
}

bool send_full(int fd, const char *buf, int n) {
  return send(fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
}

// Reads until the server closes; returns the bytes that came before the close,
// or "<no close>" when the wait ran out.
std::string rest_until_close(int fd) {
  std::string rest;
  char buf[256];
  for (;;) {
    ssize_t r = recv(fd, buf, sizeof buf, 0);
    if (r == 0) return rest;
    if (r < 0) return "<no close>";
    rest.append(buf, static_cast<size_t>(r));
  }
}

// One whole exchange, ended by the server's close. For a GET the result is the
// reply length from the header, for anything else what the server sent besides
// the "NEXT"s that released the payload's blocks ("FIN", "ERR!", ""); it starts
// with '<' when the exchange broke off.
std::string exchange(int port, const std::string &header, const std::string &payload) {
  int fd = connect_to(port);
  if (fd < 0) return "<connect>";
  std::string result = "<send>";
  if (!send_full(fd, header.data(), static_cast<int>(header.size()))) {
    // result stays
  } else if (header.compare(0, 3, "GET") == 0) {
    char len[14] = {};
    int n = 0;
    result = "<length header>";
    if (read_full(fd, len, 13) && std::sscanf(len, "LEN%d", &n) == 1) {
      std::string reply(static_cast<size_t>(n > 0 ? n : 0), '\0');
      bool ok = true;
      for (int done = 0; ok && done < n; done += 1024) {
        int block = n - done < 1024 ? n - done : 1024;
        ok = send_full(fd, "NEXT", 4) && read_full(fd, reply.data() + done, block);
      }
      result = ok && rest_until_close(fd).empty() ? std::to_string(n) : "<reply>";
    }
  } else {
    const int n = static_cast<int>(payload.size());
    bool ok = true;
    for (int done = 0; ok && done < n; done += 1024) {
      int block = n - done < 1024 ? n - done : 1024;
      char token[4];
      ok = read_full(fd, token, 4) && std::memcmp(token, "NEXT", 4) == 0 &&
           send_full(fd, payload.data() + done, block);
    }
    result = ok ? rest_until_close(fd) : "<payload>";
  }
  close(fd);
  return result;
}

std::string get_header(const std::string &name) {
  char h[24];
  std::snprintf(h, sizeof h, "GET%-20.20s", name.c_str());
  return h;
}

std::string put_header(size_t len) {
  char h[24];
  std::snprintf(h, sizeof h, "PUT%-20zu", len);
  return h;
}

std::string payload(const std::string &name, const std::string &text) {
  return name + std::string(1, '\0') + text;
}

// The IFC_set_on_off_1 text with all 45 items at their default values, so the
// replies keep their lengths however often it runs.
std::string on_off_defaults() {
  static const char *const items[] = {
      "pin_on:70",    "abs_on:215",     "abs_off:255",  "main_on:90",    "main_off:160",
      "tandem_on:95", "tandem_off:150", "stretch_on:0", "stretch_off:0", "sub1_on:95",
      "sub1_off:135", "sub2_on:115",    "sub2_off:155", "sub3_on:135",   "sub3_off:175",
      "sub4_on:150",  "sub4_off:190",   "sub5_on:165",  "sub5_off:205",  "sub6_on:185",
      "sub6_off:280", "sub7_on:200",    "sub7_off:300", "sub8_on:220",   "sub8_off:300",
      "sub9_on:0",    "sub9_off:0",     "sub10_on:0",   "sub10_off:0",   "sub11_on:0",
      "sub11_off:0",  "sub12_on:0",     "sub12_off:0",  "sub13_on:0",    "sub13_off:0",
      "sub14_on:0",   "sub14_off:0",    "sub15_on:0",   "sub15_off:0",   "sub16_on:0",
      "sub16_off:0",  "sub17_on:0",     "sub17_off:0",  "sub18_on:0",    "sub18_off:0"};
  std::string text;
  for (const char *item : items) text += std::string(item) + " ";
  return text;
}

class RequestPathAllocTest : public ::testing::Test {
 protected:
  void SetUp() override {
    void *page = mmap(nullptr, sizeof(std::atomic<std::uint64_t>), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    shared_allocs = new (page) std::atomic<std::uint64_t>(0);
    int listen_fd = -1;
    ASSERT_EQ(ether_init(&listen_fd, 0), 1);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(listen_fd, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    port_ = ntohs(addr.sin_port);
    std::fflush(nullptr);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      int out = open((dir_.path() + "/server.out").c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (chdir(dir_.path().c_str()) != 0 || out < 0 || dup2(out, STDOUT_FILENO) < 0)
        _exit(1);
      signal(SIGPIPE, SIG_IGN);
      counting = true;
      tcp1_serve(listen_fd);
    }
    close(listen_fd);
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (shared_allocs) munmap(shared_allocs, sizeof(std::atomic<std::uint64_t>));
    shared_allocs = nullptr;
  }

  std::uint64_t allocs() const { return shared_allocs->load(); }

  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

TEST_F(RequestPathAllocTest, CounterSeesAllocations) {
  // The control: the same wrappers count a plain malloc in this process.
  void *(*volatile do_malloc)(std::size_t) = std::malloc;
  const std::uint64_t before = allocs();
  counting = true;
  void *p = do_malloc(64);
  counting = false;
  std::free(p);
  EXPECT_EQ(allocs(), before + 1);
}

TEST_F(RequestPathAllocTest, NoAllocationAfterWarmUp) {
  static const std::string big_log(256000 - 11, 'x');
  // A header of "" is made from the request: GET and the name, or PUT and the
  // payload's length. expect: the reply length of a GET, else what the server
  // sends besides the "NEXT"s; nullptr takes any whole exchange.
  static const struct {
    const char *name;
    std::string header;
    std::string payload;
    const char *expect;
    int repeat;
  } cases[] = {
      {"unknown GET name", get_header("no_such_command"), "", "-1", 40},
      {"IFC_get_To_Tw_1", get_header("IFC_get_To_Tw_1"), "", "13", 40},
      {"IFC_get_stat", get_header("IFC_get_stat"), "", "25", 40},
      {"IFC_get_select_item", get_header("IFC_get_select_item"), "", "189", 40},
      {"IFC_get_on_off_1", get_header("IFC_get_on_off_1"), "", "554", 40},
      {"IFC_get_hist_cntdatL", get_header("IFC_get_hist_cntdatL"), "", "144", 40},
      {"IFC_get_hst_select", get_header("IFC_get_hst_select"), "", "9", 40},
      {"IFC_get_histo_ave_3", get_header("IFC_get_histo_ave_3"), "", nullptr, 40},
      {"PUT IFC_set_to_tw_1", "", payload("IFC_set_to_tw_1", "to:90 tw:240"), "FIN", 20},
      {"PUT IFC_set_on_off_1, 45 items", "",
       payload("IFC_set_on_off_1", on_off_defaults()), "FIN", 4},
      {"PUT append_log, 256000 bytes", "", payload("append_log", big_log), "FIN", 4},
      {"PUT IFC_set_select_item", "", payload("IFC_set_select_item", "pin:0"), "FIN", 20},
      {"PUT IFC_set_stat", "", payload("IFC_set_stat", "color:1 mode:0 totw_sw:0"), "FIN",
       20},
      {"PUT IFC_hst_select_item", "", payload("IFC_hst_select_item", "LEFT 1 tw"), "FIN",
       20},
      {"PUT IFC_hst_clear (prints)", "", payload("IFC_hst_clear", "2 tw"), "FIN", 20},
      {"PUT IFC_hst_set (prints)", "", payload("IFC_hst_set", "1 tw 10 2 tbw 10 500"),
       "FIN", 20},
      {"PUT MLETOFF_set_btnstat (prints)", "", payload("MLETOFF_set_btnstat", "btn:1"),
       "FIN", 20},
      {"PUT of an unknown name (prints)", "", payload("no_such", "x"), "FIN", 20},
      {"PUT without a NUL (prints)", "", "abcd", "FIN", 20},
      {"PUT length too big (prints)", put_header(256001), "", "ERR!", 20},
      {"unknown verb (prints)", "DEL" + std::string(20, ' '), "", "", 20},
  };
  auto run = [&](const auto &c) {
    const std::string header =
        !c.header.empty() ? c.header : put_header(c.payload.size());
    const std::string got = exchange(port_, header, c.payload);
    if (c.expect != nullptr) {
      EXPECT_EQ(got, c.expect) << c.name;
    } else {
      EXPECT_NE(got.substr(0, 1), "<") << c.name;
    }
  };

  // Warm-up: the first use of stdio, the time zone and the set files may allocate.
  for (const auto &c : cases) {
    run(c);
    run(c);
  }
  ASSERT_FALSE(HasFailure()) << "the server does not answer as expected";
  const std::uint64_t start = allocs();
  for (const auto &c : cases) {
    const std::uint64_t before = allocs();
    for (int i = 0; i < c.repeat; ++i) run(c);
    EXPECT_EQ(allocs() - before, 0u)
        << c.name << ": allocations in " << c.repeat << " requests";
  }
  // Every GET command, as the table lists them.
  for (const auto *row = get_commands; row->name != nullptr; ++row) {
    std::string name(row->name, strnlen(row->name, 20));
    name.erase(name.find_last_not_of(' ') + 1);
    const std::uint64_t before = allocs();
    for (int i = 0; i < 5; ++i)
      EXPECT_NE(exchange(port_, get_header(name), "").substr(0, 1), "<") << name;
    EXPECT_EQ(allocs() - before, 0u) << name;
  }
  // One more exchange, so that whatever the server did after the last close is counted.
  EXPECT_EQ(exchange(port_, get_header("IFC_get_stat"), ""), "25");
  EXPECT_EQ(allocs() - start, 0u) << "allocations after warm-up in total";
}

}  // namespace
