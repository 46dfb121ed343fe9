// The request path allocates nothing: the server loop runs in a child process
// whose heap allocations are counted (into a shared page the test reads), and
// after one warm-up round of every request a steady stream of the same
// requests must not allocate a single byte; with the traffic journal off and
// on (its line formatted and written after every request); and with readings
// and fault rules in place.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "client/ifc_client.hpp"
#include "dispatch/ether_parse.hpp"
#include "ifc/readings.hpp"
#include "net/faults.hpp"
#include "net/journal.hpp"
#include "support/server_process.hpp"
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

using testing_support::CountOccurrences;
using testing_support::kDefaultWait;
using testing_support::PutHeader;
using testing_support::RawConnection;
using testing_support::RequestHeader;
using testing_support::ServerProcess;

// One request. A GET gives the reply length from its header, a PUT what the
// server sent besides the "NEXT"s that released the payload's blocks ("FIN",
// "ERR!"); a raw header (the client does not send those) gives everything up
// to the server's close. The result starts with '<' when the exchange broke off.
struct request {
  const char *get;      // a GET of this name, or
  std::string payload;  // a PUT of this payload, unless
  std::string raw;      // this header goes out as it is
};

int exchanges = 0;  // connections made by exchange()

std::string exchange(const ServerProcess &server, const request &r) {
  ++exchanges;
  if (!r.raw.empty()) {
    RawConnection conn(server.port());
    if (!conn.Send(r.raw)) return "<send>";
    return conn.ReadToClose().value_or("<no close>");
  }
  if (r.get != nullptr) {
    const ifc::get_result got = ifc::get(server.endpoint(), r.get);
    if (got.error != ifc::client_error::none) return "<" + got.message + ">";
    return std::to_string(got.length);
  }
  const ifc::put_result put = ifc::put_payload(server.endpoint(), r.payload);
  if (put.error == ifc::client_error::refused) return "ERR!";
  return put.error == ifc::client_error::none ? "FIN" : "<" + put.message + ">";
}

std::string payload(const std::string &name, const std::string &text) {
  return name + std::string(1, '\0') + text;
}

// The parameter: whether the journal is on.
class RequestPathAllocTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    void *page = mmap(nullptr, sizeof(std::atomic<std::uint64_t>), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    shared_allocs = new (page) std::atomic<std::uint64_t>(0);
    exchanges = 0;
    const std::string journal = GetParam() ? journal_dir_.file("journal.jsonl") : "";
    // Only the server child counts into the shared page.
    server_ = std::make_unique<ServerProcess>([journal] {
      if (!journal.empty() && journal_open(journal.c_str()) != 0) std::_Exit(3);
      counting = true;
    });
  }

  void TearDown() override {
    server_.reset();
    if (shared_allocs) munmap(shared_allocs, sizeof(std::atomic<std::uint64_t>));
    shared_allocs = nullptr;
  }

  std::uint64_t allocs() const { return shared_allocs->load(); }

  testing_support::TempDir journal_dir_;
  std::unique_ptr<ServerProcess> server_;
};

INSTANTIATE_TEST_SUITE_P(JournalOffOn, RequestPathAllocTest, ::testing::Bool());

// The control: the same wrappers count a plain malloc in this process. No
// server runs beside it, since a server child counts into the same word
// whenever it allocates.
TEST(RequestPathAllocCounter, SeesAnAllocation) {
  std::atomic<std::uint64_t> count{0};
  shared_allocs = &count;
  void *(*volatile do_malloc)(std::size_t) = std::malloc;
  counting = true;
  void *p = do_malloc(64);
  counting = false;
  std::free(p);
  shared_allocs = nullptr;
  EXPECT_EQ(count.load(), 1u);
}

TEST_P(RequestPathAllocTest, NoAllocationAfterWarmUp) {
  const ServerProcess &server = *server_;
  const std::string big_log(256000 - 11, 'x');
  // The on/off text of every item at its stored value, so that the replies
  // keep their lengths however often it runs: the server's own reply, without
  // its fixed first piece.
  std::string on_off = ifc::get(server.endpoint(), "IFC_get_on_off_1").reply;
  ASSERT_EQ(on_off.rfind("ATC_TO_DELAY:0 ", 0), 0u) << on_off;
  on_off.erase(0, 15);
  // expect: the reply length of a GET, else what the server sends besides the
  // "NEXT"s; nullptr takes any whole exchange.
  const struct {
    const char *name;
    request req;
    const char *expect;
    int repeat;
  } cases[] = {
      {"unknown GET name", {"no_such_command", "", ""}, "-1", 40},
      {"IFC_get_To_Tw_1", {"IFC_get_To_Tw_1", "", ""}, "13", 40},
      {"IFC_get_stat", {"IFC_get_stat", "", ""}, "25", 40},
      {"IFC_get_select_item", {"IFC_get_select_item", "", ""}, "189", 40},
      {"IFC_get_on_off_1", {"IFC_get_on_off_1", "", ""}, "554", 40},
      {"IFC_get_hist_cntdatL", {"IFC_get_hist_cntdatL", "", ""}, "144", 40},
      {"IFC_get_hst_select", {"IFC_get_hst_select", "", ""}, "9", 40},
      {"IFC_get_histo_ave_3", {"IFC_get_histo_ave_3", "", ""}, nullptr, 40},
      {"PUT IFC_set_to_tw_1",
       {nullptr, payload("IFC_set_to_tw_1", "to:90 tw:240"), ""},
       "FIN",
       20},
      {"PUT IFC_set_on_off_1, 45 items",
       {nullptr, payload("IFC_set_on_off_1", on_off), ""},
       "FIN",
       4},
      {"PUT append_log, 256000 bytes",
       {nullptr, payload("append_log", big_log), ""},
       "FIN",
       4},
      {"PUT IFC_set_select_item",
       {nullptr, payload("IFC_set_select_item", "pin:0"), ""},
       "FIN",
       20},
      {"PUT IFC_set_stat",
       {nullptr, payload("IFC_set_stat", "color:1 mode:0 totw_sw:0"), ""},
       "FIN",
       20},
      {"PUT IFC_hst_select_item",
       {nullptr, payload("IFC_hst_select_item", "LEFT 1 tw"), ""},
       "FIN",
       20},
      {"PUT IFC_hst_clear (prints)",
       {nullptr, payload("IFC_hst_clear", "2 tw"), ""},
       "FIN",
       20},
      {"PUT IFC_hst_set (prints)",
       {nullptr, payload("IFC_hst_set", "1 tw 10 2 tbw 10 500"), ""},
       "FIN",
       20},
      {"PUT MLETOFF_set_btnstat (prints)",
       {nullptr, payload("MLETOFF_set_btnstat", "btn:1"), ""},
       "FIN",
       20},
      {"PUT of an unknown name (prints)",
       {nullptr, payload("no_such", "x"), ""},
       "FIN",
       20},
      {"PUT without a NUL (prints)", {nullptr, "abcd", ""}, "FIN", 20},
      {"PUT length too big (prints)", {nullptr, "", PutHeader(256001)}, "ERR!", 20},
      {"unknown verb (prints)", {nullptr, "", RequestHeader("DEL", "")}, "", 20},
  };
  auto run = [&](const auto &c) {
    const std::string got = exchange(server, c.req);
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
      EXPECT_NE(exchange(server, {name.c_str(), "", ""}).substr(0, 1), "<") << name;
    EXPECT_EQ(allocs() - before, 0u) << name;
  }
  // One more exchange, so that whatever the server did after the last close is counted.
  EXPECT_EQ(exchange(server, {"IFC_get_stat", "", ""}), "25");
  EXPECT_EQ(allocs() - start, 0u) << "allocations after warm-up in total";
  if (GetParam()) {
    // The journal was written all along: a line for every connection, the
    // one before the cases included.
    ASSERT_TRUE(server_->WaitForRequests(exchanges + 1));
    const std::string lines =
        testing_support::read_file(journal_dir_.file("journal.jsonl"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), exchanges + 1);
  }
}

// With a readings file: frames by request and by time, the file read again,
// refused and removed, between the measurement requests.
TEST_P(RequestPathAllocTest, NoAllocationWithReadings) {
  const std::string journal = GetParam() ? journal_dir_.file("readings.jsonl") : "";
  server_ = std::make_unique<ServerProcess>([journal] {
    readings_configure("readings");
    if (!journal.empty() && journal_open(journal.c_str()) != 0) std::_Exit(3);
    counting = true;
  });
  const std::string path = server_->file("readings");
  static const char *const files[] = {
      "frame\nmeasured all to:1\nboth bins 0-45 7\nright decimal:1.5\nframe\nleft n1:-1",
      "every 1ms\nframe\naverage all tbw:3\nframe\nleft bins 3 1 2 3\n",
      "measured 9 to:1\n",  // refused: a line on stderr
      nullptr,              // no file
  };
  auto round = [&] {
    for (const char *text : files) {
      std::remove(path.c_str());
      if (text != nullptr) testing_support::write_file(path, text);
      for (const char *g :
           {"IFC_get_To_Tw_1", "IFC_get_histo_ave_4", "IFC_get_hist_cntdatL",
            "IFC_get_hist_cntdatR", "IFC_get_hist_cntdatL"})
        EXPECT_NE(exchange(*server_, {g, "", ""}).substr(0, 1), "<") << g << ": " << text;
    }
  };
  round();
  ASSERT_FALSE(HasFailure()) << "the server does not answer as expected";
  const std::uint64_t before = allocs();
  for (int i = 0; i < 10; ++i) round();
  EXPECT_EQ(exchange(*server_, {"IFC_get_stat", "", ""}), "25");
  EXPECT_EQ(allocs() - before, 0u) << "allocations with readings after warm-up";
  // The server's stderr is read by a thread: wait for the lines, then count.
  const std::string err = server_->WaitForStderr("'9' is no colour number",
                                                 testing_support::kDefaultWait, 11);
  EXPECT_EQ(CountOccurrences(err, "'9' is no colour number"), 11);
}

// With fault rules: every action but `down` acting, the file read again,
// refused and removed between the requests, and unchanged across them.
TEST_P(RequestPathAllocTest, NoAllocationWithFaults) {
  const std::string journal = GetParam() ? journal_dir_.file("faults.jsonl") : "";
  server_ = std::make_unique<ServerProcess>([journal] {
    faults_configure("faults");
    if (!journal.empty() && journal_open(journal.c_str()) != 0) std::_Exit(3);
    counting = true;
  });
  const std::string path = server_->file("faults");
  static const char *const files[] = {
      "IFC_get_stat delay 1 before block\nIFC_get_Tot_Twt_? reply \"to:1\\ttw:2\"\n"
      "* lose times 2\n* close before fin",
      "* refuse after 1\n",
      "IFC_get_stat garble\nIFC_get_Tot_Twt_1 reset before len\n* delay 1 before next",
      "* explode\n",  // refused: a line on stderr
      nullptr,        // no file
  };
  const request requests[] = {{"IFC_get_stat", "", ""},
                              {"IFC_get_Tot_Twt_1", "", ""},
                              {nullptr, payload("IFC_set_to_tw_1", "to:90 tw:240"), ""}};
  auto round = [&] {
    for (const char *text : files) {
      std::remove(path.c_str());
      if (text != nullptr) testing_support::write_file(path, text);
      for (int i = 0; i < 3; ++i)
        for (const request &r : requests) exchange(*server_, r);
    }
  };
  round();
  const std::uint64_t before = allocs();
  for (int i = 0; i < 10; ++i) round();
  EXPECT_EQ(exchange(*server_, {"IFC_get_stat", "", ""}), "25");
  EXPECT_EQ(allocs() - before, 0u) << "allocations with fault rules after warm-up";
  const std::string err =
      server_->WaitForStderr("'explode' is no action", kDefaultWait, 11);
  EXPECT_EQ(CountOccurrences(err, "'explode' is no action"), 11);
}

}  // namespace
