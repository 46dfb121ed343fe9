#include "ifcctl/readings.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

#include "dispatch/control_file.hpp"

#ifndef IFCCTL_READY_MADE_DIR
#error "IFCCTL_READY_MADE_DIR must say where the ready-made readings are"
#endif

namespace ifcctl {

namespace {

constexpr const char *kReadyMade[] = {"empty", "full", "ramp", "extremes"};

// Beside the tool: a relative directory is taken from the tool's own, so an
// installed tree (or the build tree) finds its files wherever it was put.
std::string ready_made_dir() {
  const std::string dir = IFCCTL_READY_MADE_DIR;
  if (dir.starts_with('/')) return dir;
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return dir;
  std::string self(exe, static_cast<std::size_t>(n));
  return self.substr(0, self.rfind('/') + 1) + dir;
}

std::string decimal_text(std::int64_t hundredths) {
  char s[32];
  const std::uint64_t u = hundredths < 0 ? 0 - static_cast<std::uint64_t>(hundredths)
                                         : static_cast<std::uint64_t>(hundredths);
  std::snprintf(s, sizeof s, "%s%llu.%02llu", hundredths < 0 ? "-" : "",
                static_cast<unsigned long long>(u / 100),
                static_cast<unsigned long long>(u % 100));
  return s;
}

// The numbers a frame sets for one reply, as "to:95 tw:250", and bins with
// runs of one count together: "bins 0-13:0 14:1".
std::string reply_text(const readings_frame &f, int reply) {
  const int first = readings_first_slot(reply);
  const int count = readings_first_slot(reply + 1) - first;
  auto is_set = [&](int i) { return readings_is_set(f, first + i); };
  auto value = [&](int i) { return f.value[first + i]; };
  std::string out;
  int i = 0;
  for (; i < count && readings_key(reply, i) != nullptr; ++i) {
    if (!is_set(i)) continue;
    const bool dec = reply >= 12 && i == kReadingsDecimalIndex;
    out += std::string(out.empty() ? "" : " ") + readings_key(reply, i) + ":" +
           (dec ? decimal_text(value(i)) : std::to_string(value(i)));
  }
  std::string bins;
  for (int b = i; b < count; ++b) {
    if (!is_set(b)) continue;
    int last = b;
    while (last + 1 < count && is_set(last + 1) && value(last + 1) == value(b)) ++last;
    bins += " " + std::to_string(b - i) +
            (last > b ? "-" + std::to_string(last - i) : "") + ":" +
            std::to_string(value(b));
    b = last;
  }
  if (!bins.empty()) out += (out.empty() ? "bins" : " bins") + bins;
  return out;
}

std::string reply_word(int reply) {
  if (reply < 6) return "measured " + std::to_string(reply + 1);
  if (reply < 12) return "average " + std::to_string(reply - 5);
  return reply == 12 ? "left" : "right";
}

}  // namespace

std::unique_ptr<readings_table> load_readings(const std::string &path, std::string *text,
                                              std::string *error, bool *missing) {
  control_file file;
  file.path = path.c_str();
  std::vector<char> buf(kReadingsMaxBytes + 1);
  const char *why = nullptr;
  const long n = control_file_read(&file, buf.data(), buf.size(), &why);
  *missing = n < 0 && errno == ENOENT;
  if (n < 0) {
    *error = path + ": " + why;
    return nullptr;
  }
  text->assign(buf.data(), static_cast<std::size_t>(n));
  auto table = std::make_unique<readings_table>();
  readings_error err{};
  if (readings_parse(buf.data(), static_cast<std::size_t>(n), table.get(), &err) != 0) {
    *error = path + ":" + std::to_string(err.line) + ": " + err.reason;
    return nullptr;
  }
  return table;
}

std::string readings_source(const std::string &source) {
  for (const char *name : kReadyMade)
    if (source == name) return ready_made_dir() + "/" + name;
  return source;
}

std::string render_readings(const std::string &path, const readings_table &t) {
  const int frames = readings_frame_count(t);
  std::string out = path + ": " + std::to_string(frames) +
                    (frames == 1 ? " frame" : " frames, in turn");
  if (frames > 1 && t.every_ms == 0)
    out += ", the next at each request of a command (each command counts its own)";
  if (frames > 1 && t.every_ms > 0)
    out += ", the next every " + (t.every_ms % 1000 == 0
                                      ? std::to_string(t.every_ms / 1000) + "s"
                                      : std::to_string(t.every_ms) + "ms");
  out += "\n";
  for (int k = 0; k < frames; ++k) {
    const readings_frame &f = readings_frame_at(t, k);
    out += "frame " + std::to_string(k + 1) +
           (f.line > 0 ? " (line " + std::to_string(f.line) + ")" : "") + ":\n";
    bool any = false;
    for (int reply = 0; reply < kReadingsReplies; ++reply) {
      const std::string text = reply_text(f, reply);
      if (text.empty()) continue;
      std::string word = reply_word(reply);
      out += "  " + word + std::string(12 - word.size(), ' ') + text + "\n";
      any = true;
    }
    if (!any) out += "  nothing: every number simulated\n";
  }
  return out;
}

}  // namespace ifcctl
