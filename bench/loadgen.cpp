// Load generator: one fresh connection per request, as the CGI clients do it.
// Every reply is checked (length header, blocks, "FIN", the server's close);
// latency is the whole transaction, from before connect() to the close.
//
// Two or more targets are measured in alternating chunks (A B, B A, A B, ...)
// so that both see the same noise of this shared machine; only their ratio
// is worth quoting. A target marked --lib talks through the support
// library's client (ifc_get, ifc_put_payload) instead of the generator's
// own code, to measure that client against this one.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ifcsim/lib_client.h"

namespace {

constexpr int kHeaderSize = 23;
constexpr int kFieldSize = 20;
constexpr int kBlock = 1024;
constexpr int kIoTimeoutSec = 15;

using clock_type = std::chrono::steady_clock;

struct target {
  std::string label;
  int port = 0;
  bool put = false;
  std::string name;     // GET: the command name
  std::string payload;  // PUT: the whole payload (name, NUL, data)
  int expect = -2;      // GET: the reply length every reply must have (-2: any)
  bool lib = false;     // through the support library's client

  // Filled by the run.
  std::vector<std::int64_t> ns;  // latency of each good transaction
  long errors = 0;
  double busy_seconds = 0;          // wall time of this target's chunks
  std::vector<double> chunk_rates;  // requests per second of each chunk
  std::string first_error;
  std::mutex error_mutex;
};

struct options {
  int concurrency = 1;
  long requests = 10000;
  long warmup = 200;
  double max_seconds = 0;  // 0: no cap
  int chunks = 10;
  std::string tag = "run";
};

[[noreturn]] void usage(const char *why) {
  if (why) std::fprintf(stderr, "ifcsim_loadgen: %s\n", why);
  std::fprintf(
      stderr,
      "usage: ifcsim_loadgen [-c CONC] [-n REQUESTS] [-w WARMUP] [-T MAX_SECONDS]\n"
      "                      [-k CHUNKS] [--tag TAG] TARGET [TARGET...]\n"
      "TARGET: --target LABEL PORT then --get NAME [--expect LEN]\n"
      "        or --put NAME (--text TEXT | --text-file FILE | --size PAYLOAD_BYTES),\n"
      "        and --lib to use the support library's client\n"
      "A baseline server takes the reply length as the GET name (--get 554).\n");
  std::exit(2);
}

// Reads exactly n bytes; returns n, the count before an orderly close, or -1.
int read_full(int fd, char *buf, int n) {
  int got = 0;
  while (got < n) {
    ssize_t r = recv(fd, buf + got, static_cast<size_t>(n - got), 0);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<int>(r);
  }
  return got;
}

bool send_full(int fd, const char *buf, int n) {
  int sent = 0;
  while (sent < n) {
    ssize_t r = send(fd, buf + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    sent += static_cast<int>(r);
  }
  return true;
}

// After the exchange the server closes: anything but an orderly close is an error.
bool expect_close(int fd) {
  char extra;
  ssize_t r;
  do r = recv(fd, &extra, 1, 0);
  while (r < 0 && errno == EINTR);
  return r == 0;
}

// The same through the support library's client; scratch has room for the
// largest reply.
const char *lib_transaction(const target &t, char *scratch, int capacity) {
  ifc_endpoint ep{};
  std::strcpy(ep.host, "127.0.0.1");
  ep.port = static_cast<unsigned short>(t.port);
  ep.timeout_ms = kIoTimeoutSec * 1000;
  if (t.put) {
    const int rc =
        ifc_put_payload(&ep, t.payload.data(), static_cast<int>(t.payload.size()));
    return rc == 0 ? nullptr : ifc_strerror(rc);
  }
  int n = ifc_get(&ep, t.name.c_str(), scratch, capacity);
  if (n < 0 && n != IFC_EUNKNOWN) return ifc_strerror(n);
  if (n == IFC_EUNKNOWN) n = -1;
  return t.expect != -2 && n != t.expect ? "unexpected reply length" : nullptr;
}

// One request on a fresh connection. Returns nullptr on success, else what failed.
const char *transaction(const sockaddr_in &addr, const target &t, char *scratch) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "socket";
  timeval tv{kIoTimeoutSec, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  const char *err = nullptr;
  char header[kHeaderSize + 1];
  if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
    err = "connect";
  } else if (!t.put) {
    std::snprintf(header, sizeof header, "GET%-20.20s", t.name.c_str());
    char len[14] = {};
    int n = 0;
    if (!send_full(fd, header, kHeaderSize)) {
      err = "send header";
    } else if (read_full(fd, len, 13) != 13) {
      err = "length header";
    } else if (std::memcmp(len, "LEN", 3) != 0 || std::sscanf(len + 3, "%d", &n) != 1) {
      err = "bad length header";
    } else if (t.expect != -2 && n != t.expect) {
      err = "unexpected reply length";
    } else {
      for (int done = 0; done < n && !err;) {
        int block = std::min(kBlock, n - done);
        if (!send_full(fd, "NEXT", 4))
          err = "send NEXT";
        else if (read_full(fd, scratch, block) != block)
          err = "short block";
        done += block;
      }
      if (!err && !expect_close(fd)) err = "no close after reply";
    }
  } else {
    const int n = static_cast<int>(t.payload.size());
    std::snprintf(header, sizeof header, "PUT%-20d", n);
    char token[4];
    if (!send_full(fd, header, kHeaderSize)) err = "send header";
    for (int done = 0; done < n && !err;) {
      int block = std::min(kBlock, n - done);
      if (read_full(fd, token, 4) != 4 || std::memcmp(token, "NEXT", 4) != 0)
        err = "no NEXT";
      else if (!send_full(fd, t.payload.data() + done, block))
        err = "send block";
      done += block;
    }
    if (!err && (read_full(fd, token, 3) != 3 || std::memcmp(token, "FIN", 3) != 0))
      err = "no FIN";
    // The handler runs after "FIN"; the close tells that it is done.
    if (!err && !expect_close(fd)) err = "no close after FIN";
  }
  close(fd);
  return err;
}

// Runs count requests against t with conc clients, starting none after
// max_seconds (0: no limit); records latencies unless it is a warm-up.
void run_chunk(target &t, long count, int conc, bool record, double max_seconds) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(t.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::atomic<long> left{count};
  std::vector<std::vector<std::int64_t>> per_thread(static_cast<size_t>(conc));
  std::atomic<long> errors{0};
  const auto start = clock_type::now();
  const auto stop = start + std::chrono::duration_cast<clock_type::duration>(
                                std::chrono::duration<double>(max_seconds));
  auto worker = [&](int id) {
    std::vector<char> scratch(256001);
    auto &mine = per_thread[static_cast<size_t>(id)];
    mine.reserve(static_cast<size_t>(count / conc + 1));
    while (left.fetch_sub(1) > 0) {
      auto t0 = clock_type::now();
      if (max_seconds > 0 && t0 > stop) break;
      const char *err =
          t.lib ? lib_transaction(t, scratch.data(), static_cast<int>(scratch.size()))
                : transaction(addr, t, scratch.data());
      auto t1 = clock_type::now();
      if (err) {
        errors.fetch_add(1);
        std::lock_guard<std::mutex> lock(t.error_mutex);
        if (t.first_error.empty()) t.first_error = err;
      } else {
        mine.push_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count());
      }
    }
  };
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < conc; ++i) threads.emplace_back(worker, i);
  }
  double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
  if (!record) return;
  long finished = errors.load();
  for (auto &v : per_thread) finished += static_cast<long>(v.size());
  t.busy_seconds += seconds;
  t.chunk_rates.push_back(seconds > 0 ? static_cast<double>(finished) / seconds : 0);
  t.errors += errors.load();
  for (auto &v : per_thread) t.ns.insert(t.ns.end(), v.begin(), v.end());
}

double percentile_us(const std::vector<std::int64_t> &sorted, double p) {
  if (sorted.empty()) return 0;
  // Nearest rank: the smallest sample with at least p of all at or below it.
  auto rank = static_cast<size_t>(p * static_cast<double>(sorted.size()) + 0.999999);
  rank = std::clamp<size_t>(rank, 1, sorted.size());
  return static_cast<double>(sorted[rank - 1]) / 1000.0;
}

void report(const options &o, target &t) {
  std::sort(t.ns.begin(), t.ns.end());
  const auto good = static_cast<long>(t.ns.size());
  double sum = 0;
  for (auto v : t.ns) sum += static_cast<double>(v);
  const double avg = good ? sum / static_cast<double>(good) / 1000.0 : 0;
  const double rps =
      t.busy_seconds > 0 ? static_cast<double>(good + t.errors) / t.busy_seconds : 0;
  const double p50 = percentile_us(t.ns, 0.50), p95 = percentile_us(t.ns, 0.95),
               p99 = percentile_us(t.ns, 0.99), p999 = percentile_us(t.ns, 0.999),
               max = good ? static_cast<double>(t.ns.back()) / 1000.0 : 0;
  const int bytes = t.put ? static_cast<int>(t.payload.size()) : t.expect;
  std::printf(
      "%-10s c=%-3d requests=%-6ld errors=%-4ld %9.1f req/s  us: avg %.1f p50 %.1f "
      "p95 %.1f p99 %.1f p99.9 %.1f max %.1f%s%s\n",
      t.label.c_str(), o.concurrency, good + t.errors, t.errors, rps, avg, p50, p95, p99,
      p999, max, t.first_error.empty() ? "" : "  first error: ", t.first_error.c_str());
  // tag,label,kind,name,bytes,conc,requests,errors,rps,avg,p50,p95,p99,p999,max (us)
  std::printf("CSV,%s,%s,%s,%s,%d,%d,%ld,%ld,%.1f,%.1f,%.1f,%.1f,%.1f,%.1f,%.1f\n",
              o.tag.c_str(), t.label.c_str(), t.put ? "PUT" : "GET", t.name.c_str(),
              bytes, o.concurrency, good + t.errors, t.errors, rps, avg, p50, p95, p99,
              p999, max);
}

long to_long(const char *s, const char *what) {
  char *end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || v < 0) usage(what);
  return v;
}

}  // namespace

int main(int argc, char **argv) {
  options o;
  std::vector<std::unique_ptr<target>> targets;
  auto need = [&](int &i) -> const char * {
    if (i + 1 >= argc) usage("missing value");
    return argv[++i];
  };
  auto current = [&]() -> target & {
    if (targets.empty()) usage("--get/--put/--expect/--text/--size before --target");
    return *targets.back();
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-c") {
      o.concurrency = static_cast<int>(to_long(need(i), "bad -c"));
    } else if (a == "-n") {
      o.requests = to_long(need(i), "bad -n");
    } else if (a == "-w") {
      o.warmup = to_long(need(i), "bad -w");
    } else if (a == "-T") {
      o.max_seconds = std::atof(need(i));
    } else if (a == "-k") {
      o.chunks = static_cast<int>(to_long(need(i), "bad -k"));
    } else if (a == "--tag") {
      o.tag = need(i);
    } else if (a == "--target") {
      auto t = std::make_unique<target>();
      t->label = need(i);
      t->port = static_cast<int>(to_long(need(i), "bad port"));
      targets.push_back(std::move(t));
    } else if (a == "--get") {
      current().name = need(i);
      if (current().name.size() > kFieldSize) usage("GET name longer than 20");
    } else if (a == "--lib") {
      current().lib = true;
    } else if (a == "--expect") {
      const char *v = need(i);
      current().expect = std::atoi(v);
    } else if (a == "--put") {
      current().put = true;
      current().name = need(i);
      current().payload = current().name + '\0';
    } else if (a == "--text") {
      current().payload += need(i);
    } else if (a == "--text-file") {
      std::ifstream in(need(i), std::ios::binary);
      if (!in) usage("cannot read --text-file");
      current().payload.append(std::istreambuf_iterator<char>(in), {});
    } else if (a == "--size") {
      long size = to_long(need(i), "bad --size");
      auto &p = current().payload;
      if (size < static_cast<long>(p.size())) usage("--size smaller than name");
      // Printable filler with a line end now and then, as a log would have.
      while (static_cast<long>(p.size()) < size) p += (p.size() % 64 == 63) ? '\n' : 'x';
    } else {
      usage(("unknown argument " + a).c_str());
    }
  }
  if (targets.empty() || o.concurrency < 1 || o.chunks < 1) usage(nullptr);
  for (auto &t : targets)
    if (t->put && t->payload.size() > 256000) usage("payload above 256000 bytes");

  for (auto &t : targets) run_chunk(*t, o.warmup, o.concurrency, false, 0);

  // Chunks alternate, and the order flips every round (A B, B A, ...), so a
  // drift in the machine's load hits every target alike. A time cap is shared
  // out evenly: no chunk starts a request after its share of it.
  const long chunk = std::max<long>(1, (o.requests + o.chunks - 1) / o.chunks);
  const double chunk_seconds = o.max_seconds / o.chunks;
  long done = 0;
  for (int round = 0; done < o.requests; ++round) {
    long n = std::min(chunk, o.requests - done);
    for (size_t j = 0; j < targets.size(); ++j) {
      size_t k = (round % 2 == 0) ? j : targets.size() - 1 - j;
      run_chunk(*targets[k], n, o.concurrency, true, chunk_seconds);
    }
    done += n;
  }
  int failed = 0;
  for (auto &t : targets) {
    report(o, *t);
    if (t->errors) failed = 1;
  }
  // The ratio of each target to the first, round by round: its median is what
  // to quote, since a burst of load elsewhere spoils a round, not the whole run.
  for (size_t j = 1; j < targets.size(); ++j) {
    std::vector<double> ratios;
    const auto &a = targets[0]->chunk_rates, &b = targets[j]->chunk_rates;
    for (size_t r = 0; r < a.size() && r < b.size(); ++r)
      if (b[r] > 0) ratios.push_back(a[r] / b[r]);
    std::sort(ratios.begin(), ratios.end());
    if (ratios.empty()) continue;
    const size_t m = ratios.size();
    const double median = m % 2 ? ratios[m / 2] : (ratios[m / 2 - 1] + ratios[m / 2]) / 2;
    std::printf(
        "%s/%s: rate ratio per round, median %.3f (%.3f to %.3f over %zu rounds)\n",
        targets[0]->label.c_str(), targets[j]->label.c_str(), median, ratios.front(),
        ratios.back(), m);
    // RATIO,tag,first,other,conc,median,min,max,rounds
    std::printf("RATIO,%s,%s,%s,%d,%.3f,%.3f,%.3f,%zu\n", o.tag.c_str(),
                targets[0]->label.c_str(), targets[j]->label.c_str(), o.concurrency,
                median, ratios.front(), ratios.back(), m);
  }
  return failed;
}
