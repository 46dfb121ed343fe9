#include "ifcctl/journal.hpp"

#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "ifcctl/text.hpp"
#include "net/journal.hpp"

namespace ifcctl {

namespace {

using json = nlohmann::json;

// With inotify a change wakes the reader at once; it still looks again
// this often, for a file system that does not report changes. Without
// inotify it looks at the shorter interval.
constexpr int kLookAgainMs = 1000;
constexpr int kUnwatchedMs = 100;

// Table columns, in characters.
constexpr std::size_t kPeerWidth = 21;  // 255.255.255.255:65535
constexpr std::size_t kRequestWidth = 24;
constexpr std::size_t kResultWidth = 11;  // save-failed
constexpr std::size_t kMsWidth = 9;
constexpr std::size_t kTextWidth = 40;

int fail(int status, const std::string &message) {
  std::fprintf(stderr, "ifcctl: %s\n", message.c_str());
  return status;
}

// A journal file read as it grows, and followed to a new file at its path
// when it is rotated (renamed away or removed, then made again) or begun
// anew when it is truncated.
class journal_source {
 public:
  using line_fn = std::function<void(std::string)>;

  journal_source(std::string path, bool watch) : path_(std::move(path)) {
    if (!watch) return;
    notify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const std::size_t slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path_.substr(0, slash);
    if (notify_ >= 0 &&
        inotify_add_watch(notify_, dir.c_str(),
                          IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                              IN_MOVED_TO | IN_ATTRIB) < 0) {
      close(notify_);
      notify_ = -1;
    }
  }
  ~journal_source() {
    for (int fd : {fd_, notify_})
      if (fd >= 0) close(fd);
  }
  journal_source(const journal_source &) = delete;
  journal_source &operator=(const journal_source &) = delete;

  // Hands each whole line that has come to line(). -1 with errno set when
  // the file cannot be opened or read; a rotated file whose successor is
  // not there yet is no error.
  int read(const line_fn &line) {
    for (;;) {
      if (fd_ < 0 && !open_file()) return -1;
      if (!drain(line)) return -1;
      struct stat st;
      if (stat(path_.c_str(), &st) != 0 || (st.st_dev == dev_ && st.st_ino == ino_))
        return 0;
      // Rotated: what the server wrote to the old file just before is read
      // first; a line left without its end there will never be finished.
      if (!drain(line)) return -1;
      drop_partial();
      close(fd_);
      fd_ = -1;
    }
  }

  // Lines dropped unfinished (at a rotation or truncation, or as too long),
  // and with finish, the unfinished last line too.
  int broken(bool finish) {
    if (finish) drop_partial();
    return broken_;
  }

  // Returns when the file may have changed, or after at most ms.
  void wait(int ms) {
    pollfd p{notify_, POLLIN, 0};
    (void)poll(&p, notify_ >= 0 ? 1 : 0,
               std::min(ms, notify_ >= 0 ? kLookAgainMs : kUnwatchedMs));
    char events[4096];
    while (notify_ >= 0 && ::read(notify_, events, sizeof events) > 0) {
    }
  }

 private:
  bool open_file() {
    // Not blocked by a FIFO without a writer.
    fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd_ < 0) return false;
    if (fstat(fd_, &st) != 0) {
      const int err = errno;
      close(fd_);
      fd_ = -1;
      errno = err;
      return false;
    }
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    at_ = 0;
    return true;
  }

  void drop_partial() {
    if (!partial_.empty() || overlong_) ++broken_;
    partial_.clear();
    overlong_ = false;
  }

  bool drain(const line_fn &line) {
    struct stat st;
    if (fstat(fd_, &st) == 0 && st.st_size < at_) {
      drop_partial();
      at_ = lseek(fd_, 0, SEEK_SET);
    }
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) return true;
      at_ += n;
      const char *p = buf, *end = buf + n;
      while (p < end) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', end - p));
        const char *stop = nl ? nl : end;
        // No line of the server is this long: garbage is not kept whole.
        if (!overlong_ && partial_.size() + (stop - p) > kJournalLineMax) {
          partial_.clear();
          overlong_ = true;
        }
        if (!overlong_) partial_.append(p, stop);
        if (!nl) break;
        if (overlong_) {
          drop_partial();
        } else {
          line(std::exchange(partial_, {}));
        }
        p = nl + 1;
      }
    }
  }

  std::string path_;
  int fd_ = -1;
  int notify_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  off_t at_ = 0;
  std::string partial_;
  bool overlong_ = false;
  int broken_ = 0;
};

// Tells on stderr how many lines were skipped, each time there are more.
class skip_count {
 public:
  explicit skip_count(const std::string &path) : path_(path) {}
  void add() { ++lines_; }
  void report(int broken) {
    const long n = lines_ + broken;
    if (n == reported_) return;
    reported_ = n;
    std::fprintf(stderr, "ifcctl: %s: %ld %s no journal %s (skipped)\n", path_.c_str(), n,
                 n == 1 ? "line is" : "lines are", n == 1 ? "entry" : "entries");
  }

 private:
  const std::string &path_;
  long lines_ = 0;
  long reported_ = 0;
};

struct journal_line {
  std::string raw;  // as in the file, without its line end
  json j;
  bool mark;
};

// An entry has a result, a marker its mark; anything else is no line of a
// journal.
std::optional<journal_line> parse_line(std::string raw) {
  json j = json::parse(raw, nullptr, false);
  if (!j.is_object()) return std::nullopt;
  auto is_string = [&j](const char *key) {
    auto it = j.find(key);
    return it != j.end() && it->is_string();
  };
  const bool mark = is_string("mark");
  if (!mark && !is_string("result")) return std::nullopt;
  return journal_line{std::move(raw), std::move(j), mark};
}

// The bytes a journal string stands for (each character one byte, so the
// parser's UTF-8 of U+0080..U+00FF is two); nullopt when the field is no
// string. Characters beyond U+00FF, which the server never writes, keep
// their UTF-8 bytes.
std::optional<std::string> field_bytes(const json &j, const char *key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return std::nullopt;
  const std::string &s = it->get_ref<const std::string &>();
  std::string bytes;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c == 0xc2 || c == 0xc3) && i + 1 < s.size()) {
      bytes.push_back(static_cast<char>((c & 3) << 6 | (s[++i] & 0x3f)));
    } else {
      bytes.push_back(static_cast<char>(c));
    }
  }
  return bytes;
}

bool matches(const journal_line &e, const journal_filter &f) {
  if (e.mark) return false;
  if (!f.result.empty() && e.j["result"].get_ref<const std::string &>() != f.result)
    return false;
  if (f.command.empty()) return true;
  const auto command = field_bytes(e.j, "command");
  return command && fnmatch(f.command.c_str(), command->c_str(), 0) == 0;
}

// bytes escaped for a terminal, in at most width characters: what does not
// fit (or was cut by the server) ends in "...".
std::string shown(const std::string &bytes, std::size_t width, bool cut = false) {
  std::string out = printable(bytes);
  if (out.size() <= width && !cut) return out;
  out.clear();
  for (const char &c : bytes) {
    const std::string piece = printable(std::string_view(&c, 1));
    if (out.size() + piece.size() > width - 3) break;
    out += piece;
  }
  return out + "...";
}

std::string padded(std::string s, std::size_t width, bool right = false) {
  if (s.size() >= width) return s;
  const std::string fill(width - s.size(), ' ');
  return right ? fill + s : s + fill;
}

// "2026-12-10T09:00:00.123456Z" as "2026-12-10 09:00:00.123"; anything else
// as it is.
std::string shown_time(const json &j) {
  std::string t = field_bytes(j, "time").value_or("-");
  if (t.size() == 27 && t[10] == 'T' && t[26] == 'Z')
    t = t.substr(0, 10) + " " + t.substr(11, 12);
  return shown(t, 23);
}

std::string table_header() {
  return padded("TIME", 23) + "  " + padded("PEER", kPeerWidth) + "  " +
         padded("REQUEST", kRequestWidth) + "  " + padded("RESULT", kResultWidth) + "  " +
         padded("MS", kMsWidth, true) + "  TEXT OR REPLY\n";
}

std::string table_row(const journal_line &e) {
  const json &j = e.j;
  if (e.mark)
    return shown_time(j) + "  -- mark: " + printable(*field_bytes(j, "mark")) + "\n";
  std::string request;
  if (const auto verb = field_bytes(j, "verb")) {
    request = *verb + " " + field_bytes(j, "command").value_or("");
  } else {
    // A header that is none: the bytes where the verb would be, then the rest.
    std::string header = field_bytes(j, "header").value_or("");
    trim_trailing_blanks(&header);
    request = header.substr(0, 3) + (header.size() > 3 ? " " + header.substr(3) : "");
  }
  char ms[32] = "-";
  if (j.contains("ms") && j["ms"].is_number())
    std::snprintf(ms, sizeof ms, "%.3f", j["ms"].get<double>());
  const char *text = j.contains("reply") ? "reply" : "text";
  const std::string row =
      shown_time(j) + "  " +
      padded(shown(field_bytes(j, "peer").value_or("-"), kPeerWidth), kPeerWidth) + "  " +
      padded(shown(request, kRequestWidth), kRequestWidth) + "  " +
      padded(shown(*field_bytes(j, "result"), kResultWidth), kResultWidth) + "  " +
      padded(ms, kMsWidth, true) + "  " +
      shown(field_bytes(j, text).value_or(""), kTextWidth,
            j.contains(std::string(text) + "_bytes"));
  std::string notes;
  if (j.contains("notes") && j["notes"].is_array())
    for (const json &n : j["notes"])
      if (n.is_string())
        notes += (notes.empty() ? "" : ", ") + printable(n.get<std::string>());
  std::string out = notes.empty() ? row : row + "  (" + notes + ")";
  trim_trailing_blanks(&out);
  return out + "\n";
}

// What a view shows of the lines as they come: the entries that match and
// the markers. With a filter the table shows only the marker last before
// an entry shown, so that its test is known without the names of all
// others; the lines as they are, none, since no marker matches a filter.
class journal_view {
 public:
  // last > 0: keeps only the last entries of what comes before print().
  journal_view(const journal_filter &f, bool as_json, int last)
      : f_(f), as_json_(as_json), last_(last), out_(as_json ? "" : table_header()) {}

  void add(journal_line l) {
    if (l.mark) {
      if (!f_.any())
        show(std::move(l));
      else if (!as_json_)
        held_ = std::move(l);
      return;
    }
    if (!matches(l, f_)) return;
    if (held_) show(*std::exchange(held_, std::nullopt));
    show(std::move(l));
  }

  // Prints what waits, the kept entries too, after which every line is
  // printed as it comes. False once stdout cannot be written.
  bool print() {
    for (const journal_line &l : window_) out_ += rendered(l);
    window_.clear();
    last_ = 0;
    write_out();
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
  }

 private:
  // Output is written in pieces of about this size, so that a long journal
  // is not held in memory.
  static constexpr std::size_t kPiece = 65536;

  std::string rendered(const journal_line &l) const {
    return as_json_ ? l.raw + "\n" : table_row(l);
  }
  void write_out() {
    std::fwrite(out_.data(), 1, out_.size(), stdout);
    out_.clear();
  }

  // With last, the window keeps the last entries, what falls between them
  // and the marker just before the first.
  void show(journal_line l) {
    if (last_ == 0) {
      out_ += rendered(l);
      if (out_.size() >= kPiece) write_out();
      return;
    }
    entries_ += l.mark ? 0 : 1;
    window_.push_back(std::move(l));
    if (entries_ <= last_) return;
    for (; entries_ > last_; window_.pop_front())
      entries_ -= window_.front().mark ? 0 : 1;
    while (window_.size() > 1 && window_[0].mark && window_[1].mark) window_.pop_front();
  }

  const journal_filter &f_;
  bool as_json_;
  int last_;
  std::string out_;
  std::optional<journal_line> held_;
  std::deque<journal_line> window_;
  int entries_ = 0;
};

std::string cannot_read(const std::string &path) {
  return path + ": cannot be read (" + std::strerror(errno) + ")";
}

}  // namespace

std::string journal_result_words() {
  std::string words;
  for (int i = 0; journal_result_word(i) != nullptr; ++i)
    words += (i ? ", " : "") + std::string(journal_result_word(i));
  return words;
}

bool is_journal_result(const std::string &word) {
  for (int i = 0; journal_result_word(i) != nullptr; ++i)
    if (word == journal_result_word(i)) return true;
  return false;
}

int journal_show(const std::string &path, const journal_filter &f, bool follow,
                 bool as_json, int last) {
  journal_source source(path, follow);
  skip_count skipped(path);
  journal_view view(f, as_json, last);
  auto take = [&](std::string raw) {
    if (auto l = parse_line(std::move(raw)))
      view.add(std::move(*l));
    else
      skipped.add();
  };
  // A journal the server has yet to make is followed once it is there.
  if (source.read(take) != 0 && !(follow && errno == ENOENT))
    return fail(1, cannot_read(path));
  bool writing = view.print();
  skipped.report(source.broken(!follow));
  while (follow && writing) {
    source.wait(kLookAgainMs);
    if (source.read(take) != 0 && errno != ENOENT) return fail(1, cannot_read(path));
    writing = view.print();
    skipped.report(source.broken(false));
  }
  return writing ? 0 : 1;
}

int journal_count(const std::string &path, const journal_filter &f, long expect) {
  journal_source source(path, false);
  skip_count skipped(path);
  long count = 0;
  const int read = source.read([&](std::string raw) {
    const auto l = parse_line(std::move(raw));
    if (!l) skipped.add();
    if (l && matches(*l, f)) ++count;
  });
  if (read != 0) return fail(1, cannot_read(path));
  skipped.report(source.broken(true));
  std::printf("%ld\n", count);
  if (expect >= 0 && count != expect)
    return fail(1, path + ": " + std::to_string(count) +
                       (count == 1 ? " entry matches" : " entries match") + ", not " +
                       std::to_string(expect));
  return 0;
}

int journal_wait(const std::string &path, const journal_filter &f, long count,
                 int timeout_ms) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
  journal_source source(path, true);
  skip_count skipped(path);
  long matching = 0;
  for (;;) {
    const int read = source.read([&](std::string raw) {
      const auto l = parse_line(std::move(raw));
      if (!l) skipped.add();
      if (l && matches(*l, f)) ++matching;
    });
    if (read != 0 && errno != ENOENT) return fail(1, cannot_read(path));
    skipped.report(source.broken(false));
    if (matching >= count) return 0;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    if (left.count() <= 0) break;
    source.wait(static_cast<int>(left.count()) + 1);
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", timeout_ms / 1000.0);
  return fail(1, path + ": " + std::to_string(matching) + " of " + std::to_string(count) +
                     " entries within " + seconds + " s");
}

int journal_mark(const std::string &path, const std::string &text) {
  if (text.size() > static_cast<std::size_t>(kJournalCut))
    return fail(2, "a mark has at most " + std::to_string(kJournalCut) + " bytes, not " +
                       std::to_string(text.size()));
  if (journal_append_mark(path.c_str(), text.data(), static_cast<int>(text.size())) != 0)
    return fail(1, path + ": cannot be written (" + std::strerror(errno) + ")");
  return 0;
}

}  // namespace ifcctl
