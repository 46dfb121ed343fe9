// Times the web console's pages three ways, side by side in alternating
// rounds: fetched over HTTP through the console's web server (from before
// connect() to the last byte); the same CGI program run directly as a web
// server would run it (from the spawn to its exit, all its output read); and
// the page's GETs alone, sent back to back straight to the server, each on a
// connection of its own as the page sends them. Also times the spawn of
// /bin/true: what starting any program costs here.
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

struct series {
  std::string page, how;
  std::vector<double> us;
  std::vector<double> round_p50;  // the median of each round
  long errors = 0;
  long bytes = 0;
};

struct options {
  int http_port = 0;
  int server_port = 0;
  std::string cgi_dir;
  long requests = 200;
  int rounds = 5;
  std::vector<std::string> pages;
  std::vector<std::vector<std::string>> gets;  // each page's GETs, in order
};

[[noreturn]] void usage(const char *why) {
  std::fprintf(
      stderr,
      "ifcsim_page_bench: %s\n"
      "usage: ifcsim_page_bench --http PORT --server-port PORT --cgi-dir DIR\n"
      "                         [-n REQUESTS] [-k ROUNDS] PAGE[:GET,GET...]...\n",
      why);
  std::exit(2);
}

double since_us(clock_type::time_point t0) {
  return std::chrono::duration<double, std::micro>(clock_type::now() - t0).count();
}

// Reads fd to its end; returns the byte count, or -1.
long read_all(int fd, std::string *first) {
  char buf[65536];
  long total = 0;
  for (;;) {
    const ssize_t r = read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return total;
    if (first && first->size() < 64) first->append(buf, static_cast<size_t>(r));
    total += r;
  }
}

// One HTTP/1.0 GET; returns its length, or -1 unless the answer is a 200.
long fetch(const options &o, const std::string &page) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(o.http_port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  long n = -1;
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
    const std::string request =
        "GET /cgi-bin/" + page +
        ".cgi HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(o.http_port) + "\r\n\r\n";
    std::string head;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      n = read_all(fd, &head);
      if (head.compare(0, 13, "HTTP/1.0 200 ") != 0 &&
          head.compare(0, 13, "HTTP/1.1 200 ") != 0)
        n = -1;
    }
  }
  close(fd);
  return n;
}

// One GET straight to the server, to its close; returns the reply length, or
// -1 when the exchange is not a complete one.
long protocol_get(const options &o, const std::string &name) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(o.server_port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  long length = -1;
  char header[24], block[1024];
  std::snprintf(header, sizeof header, "GET%-20s", name.c_str());
  auto recv_full = [fd](char *buf, long n) {
    long got = 0;
    while (got < n) {
      const ssize_t r = recv(fd, buf + got, static_cast<size_t>(n - got), 0);
      if (r <= 0) return false;
      got += r;
    }
    return true;
  };
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      send(fd, header, 23, MSG_NOSIGNAL) == 23 && recv_full(block, 13) &&
      std::memcmp(block, "LEN", 3) == 0) {
    block[13] = '\0';
    length = std::atol(block + 3);
    for (long left = length; left > 0 && length >= 0;) {
      const long n = std::min(left, 1024L);
      if (send(fd, "NEXT", 4, MSG_NOSIGNAL) != 4 || !recv_full(block, n)) length = -1;
      left -= n;
    }
    if (length >= 0 && recv(fd, block, 1, 0) != 0) length = -1;  // then the close
  }
  close(fd);
  return length;
}

long protocol_gets(const options &o, const std::vector<std::string> &names) {
  long total = 0;
  for (const auto &name : names) {
    const long n = protocol_get(o, name);
    if (n < 0) return -1;
    total += n;
  }
  return total;
}

// Runs a program with the CGI environment of a GET; returns the length of
// its output, or -1 unless it exits with 0.
long run(const options &o, const std::string &path, const std::string &page) {
  const std::string port = std::to_string(o.http_port);
  std::vector<std::string> env = {"GATEWAY_INTERFACE=CGI/1.1",
                                  "REQUEST_METHOD=GET",
                                  "QUERY_STRING=",
                                  "SERVER_PROTOCOL=HTTP/1.0",
                                  "SCRIPT_NAME=/cgi-bin/" + page + ".cgi",
                                  "SERVER_NAME=127.0.0.1",
                                  "SERVER_PORT=" + port,
                                  "HTTP_HOST=127.0.0.1:" + port,
                                  "IFCSIM_HOST=127.0.0.1",
                                  "IFCSIM_PORT=" + std::to_string(o.server_port)};
  std::vector<char *> envp;
  for (auto &e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = path;
  char *argv[] = {arg0.data(), nullptr};

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addchdir_np(&fa, o.cgi_dir.c_str());  // as lighttpd does
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &fa, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  long n = rc == 0 ? read_all(out[0], nullptr) : -1;
  close(out[0]);
  int status = 0;
  if (rc == 0 &&
      (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0))
    n = -1;
  return n;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename F>
void measure(series &s, long count, F once) {
  const size_t first = s.us.size();
  for (long i = 0; i < count; ++i) {
    const auto t0 = clock_type::now();
    const long n = once();
    const double us = since_us(t0);
    if (n < 0) {
      ++s.errors;
      continue;
    }
    s.us.push_back(us);
    s.bytes = n;
  }
  s.round_p50.push_back(median({s.us.begin() + static_cast<long>(first), s.us.end()}));
}

// The median over the rounds of a's round median minus b's: measured side by
// side, a difference stays put where the machine's load moves both.
double cost(const series &a, const series &b) {
  std::vector<double> d;
  for (size_t r = 0; r < a.round_p50.size() && r < b.round_p50.size(); ++r)
    d.push_back(a.round_p50[r] - b.round_p50[r]);
  return median(d);
}

double pct(const std::vector<double> &v, double p) {
  if (v.empty()) return 0;
  return v[std::min(v.size() - 1,
                    static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void report(series &s) {
  std::sort(s.us.begin(), s.us.end());
  double sum = 0;
  for (double u : s.us) sum += u;
  const double avg = s.us.empty() ? 0 : sum / static_cast<double>(s.us.size());
  // PAGE,page,how,n,errors,bytes,avg,p50,p95,p99,max (microseconds)
  std::printf("PAGE,%s,%s,%zu,%ld,%ld,%.1f,%.1f,%.1f,%.1f,%.1f\n", s.page.c_str(),
              s.how.c_str(), s.us.size(), s.errors, s.bytes, avg, pct(s.us, 0.5),
              pct(s.us, 0.95), pct(s.us, 0.99), s.us.empty() ? 0 : s.us.back());
}

}  // namespace

int main(int argc, char **argv) {
  options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(("missing value after " + a).c_str());
      return argv[++i];
    };
    if (a == "--http") {
      o.http_port = std::atoi(value().c_str());
    } else if (a == "--server-port") {
      o.server_port = std::atoi(value().c_str());
    } else if (a == "--cgi-dir") {
      o.cgi_dir = value();
    } else if (a == "-n") {
      o.requests = std::atol(value().c_str());
    } else if (a == "-k") {
      o.rounds = std::atoi(value().c_str());
    } else if (!a.empty() && a[0] == '-') {
      usage(("unknown option " + a).c_str());
    } else {
      const size_t colon = a.find(':');
      o.pages.push_back(a.substr(0, colon));
      o.gets.emplace_back();
      for (size_t at = colon; at != std::string::npos && at + 1 < a.size();) {
        const size_t comma = a.find(',', at + 1);
        o.gets.back().push_back(a.substr(at + 1, comma - at - 1));
        at = comma;
      }
    }
  }
  if (o.http_port <= 0 || o.server_port <= 0 || o.cgi_dir.empty() || o.pages.empty() ||
      o.requests <= 0 || o.rounds <= 0)
    usage("--http, --server-port, --cgi-dir and a page are needed");

  std::vector<series> http(o.pages.size()), direct(o.pages.size()), gets(o.pages.size());
  series spawn;
  spawn.page = "-";
  spawn.how = "true";
  const long per_round = std::max(1L, o.requests / o.rounds);
  for (size_t p = 0; p < o.pages.size(); ++p) {
    http[p].page = direct[p].page = gets[p].page = o.pages[p];
    http[p].how = "http";
    direct[p].how = "direct";
    gets[p].how = "gets";
  }
  for (int r = 0; r < o.rounds; ++r) {
    for (size_t p = 0; p < o.pages.size(); ++p) {
      const std::string &page = o.pages[p];
      const std::string path = o.cgi_dir + "/" + page + ".cgi";
      // Rotate which way goes first, so none always follows another.
      for (int third = 0; third < 3; ++third) {
        switch ((third + r) % 3) {
          case 0:
            measure(http[p], per_round, [&] { return fetch(o, page); });
            break;
          case 1:
            measure(direct[p], per_round, [&] { return run(o, path, page); });
            break;
          default:
            measure(gets[p], per_round, [&] { return protocol_gets(o, o.gets[p]); });
        }
      }
    }
    measure(spawn, per_round, [&] { return run(o, "/bin/true", "-"); });
  }
  long errors = spawn.errors;
  for (size_t p = 0; p < o.pages.size(); ++p) {
    report(http[p]);
    report(direct[p]);
    report(gets[p]);
    // COST,page,web server (http - direct),start and own work (direct - gets)
    std::printf("COST,%s,%.1f,%.1f\n", o.pages[p].c_str(), cost(http[p], direct[p]),
                cost(direct[p], gets[p]));
    errors += http[p].errors + direct[p].errors + gets[p].errors;
  }
  report(spawn);
  return errors ? 1 : 0;
}
