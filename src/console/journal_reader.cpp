#include "journal_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace console {

namespace {

// A cursor over one line; every read is bounded by its end.
class cursor {
 public:
  explicit cursor(std::string_view s) : s_(s) {}
  bool at_end() {
    skip_blanks();
    return i_ == s_.size();
  }
  bool take(char c) {
    skip_blanks();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  char peek() {
    skip_blanks();
    return i_ < s_.size() ? s_[i_] : '\0';
  }

  // A string: the journal escapes every byte outside printable ASCII as
  // \u00XX, so anything above \u00FF is not of its making.
  bool string(std::string *out) {
    if (!take('"')) return false;
    out->clear();
    while (i_ < s_.size()) {
      unsigned char c = static_cast<unsigned char>(s_[i_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        continue;
      }
      if (i_ >= s_.size()) return false;
      switch (s_[i_++]) {
        case '"':
          out->push_back('"');
          break;
        case '\\':
          out->push_back('\\');
          break;
        case '/':
          out->push_back('/');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'u': {
          if (s_.size() - i_ < 4 || s_[i_] != '0' || s_[i_ + 1] != '0') return false;
          int hi = hex(s_[i_ + 2]), lo = hex(s_[i_ + 3]);
          if (hi < 0 || lo < 0) return false;
          out->push_back(static_cast<char>(hi * 16 + lo));
          i_ += 4;
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  // A JSON number, kept as its text.
  bool number(std::string *out) {
    skip_blanks();
    const size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (!digits()) return false;
    if (i_ < s_.size() && s_[i_] == '.' && (++i_, !digits())) return false;
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!digits()) return false;
    }
    out->assign(s_.substr(start, i_ - start));
    return true;
  }

 private:
  static int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  bool digits() {
    const size_t start = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    return i_ > start;
  }
  void skip_blanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }

  std::string_view s_;
  size_t i_ = 0;
};

// A string or a number, as a list's item or an object's member.
bool scalar(cursor &c, std::string *out) {
  return c.peek() == '"' ? c.string(out) : c.number(out);
}

bool value(cursor &c, journal_value *v) {
  const char first = c.peek();
  if (first == '"') {
    v->kind = journal_value::string;
    return c.string(&v->text);
  }
  if (first == '[' || first == '{') {
    const bool list = first == '[';
    v->kind = list ? journal_value::list : journal_value::object;
    c.take(first);
    if (c.take(list ? ']' : '}')) return true;
    do {
      std::pair<std::string, std::string> item;
      if (list ? !c.string(&item.second)
               : !c.string(&item.first) || !c.take(':') || !scalar(c, &item.second))
        return false;
      v->items.push_back(std::move(item));
    } while (c.take(','));
    return c.take(list ? ']' : '}');
  }
  v->kind = journal_value::number;
  return c.number(&v->text);
}

}  // namespace

const journal_value *journal_entry::find(std::string_view name) const {
  for (const auto &[key, v] : fields)
    if (key == name) return &v;
  return nullptr;
}

std::string journal_entry::text(std::string_view name) const {
  const journal_value *v = find(name);
  return v ? v->text : std::string();
}

bool journal_parse(std::string_view line, journal_entry *out) {
  cursor c(line);
  out->fields.clear();
  if (!c.take('{')) return false;
  if (!c.take('}')) {
    do {
      std::pair<std::string, journal_value> field;
      if (!c.string(&field.first) || !c.take(':') || !value(c, &field.second))
        return false;
      out->fields.push_back(std::move(field));
    } while (c.take(','));
    if (!c.take('}')) return false;
  }
  return c.at_end();
}

namespace {

// Reads [from, from + n) of fd into out; 0 or an errno.
int read_range(int fd, long long from, long long n, std::string *out) {
  out->resize(static_cast<size_t>(n));
  long long got = 0;
  while (got < n) {
    ssize_t r = pread(fd, out->data() + got, static_cast<size_t>(n - got), from + got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) break;  // the file was cut meanwhile
    got += r;
  }
  out->resize(static_cast<size_t>(got));
  return 0;
}

}  // namespace

int journal_tail(const char *path, long long before, long long window,
                 journal_lines *out) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st;
  int e = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (e != 0) {
    close(fd);
    return e;
  }
  out->size = st.st_size;
  long long end = before < 0 || before > st.st_size ? st.st_size : before;
  long long from = end > window ? end - window : 0;
  std::string buf;
  e = read_range(fd, from, end - from, &buf);
  close(fd);
  if (e != 0) return e;
  // From the end: the bytes after the last line end are a line still being
  // written; before the first, a line that began before the window.
  out->lines.clear();
  out->first = from;
  size_t begin = 0;
  if (from > 0) {
    size_t nl = buf.find('\n');
    if (nl == std::string::npos) return 0;  // all of it one line, longer than the window
    begin = nl + 1;
  }
  out->first = from + static_cast<long long>(begin);
  size_t stop = buf.rfind('\n');
  if (stop == std::string::npos) stop = 0;
  while (stop > begin) {
    size_t nl = buf.rfind('\n', stop - 1);
    size_t start = nl == std::string::npos || nl < begin ? begin : nl + 1;
    out->lines.emplace_back(from + static_cast<long long>(start),
                            buf.substr(start, stop - start));
    stop = start > begin ? start - 1 : begin;
  }
  return 0;
}

int journal_line_at(const char *path, long long offset, long long max, std::string *out) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  std::string buf;
  // The byte before it too: a line starts after a line end.
  long long from = offset > 0 ? offset - 1 : 0;
  int e = offset < 0 ? ENOENT : read_range(fd, from, max + 1 + (offset > 0), &buf);
  close(fd);
  if (e != 0) return e;
  if (offset > 0) {
    if (buf.empty() || buf[0] != '\n') return ENOENT;
    buf.erase(0, 1);
  }
  size_t nl = buf.find('\n');
  if (nl == std::string::npos) return ENOENT;
  out->assign(buf, 0, nl);
  return 0;
}

}  // namespace console
