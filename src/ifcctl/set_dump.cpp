#include "ifcctl/set_dump.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "ifcctl/text.hpp"

namespace ifcctl {

namespace {

constexpr std::size_t kNameOffset = 4, kNameSize = 28;
constexpr std::size_t kValueOffset = 32;
constexpr std::size_t kMinOffset = 60, kMaxOffset = 64;
constexpr std::size_t kGroupOffset = 68, kGroupSize = 12;

// Set files are little-endian whatever the host.
std::int32_t le32(const unsigned char *p) {
  std::uint32_t u = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                    std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
  return static_cast<std::int32_t>(u);
}

// The text up to its NUL within the field; *terminated tells whether the
// field had one. Unprintable bytes are escaped so output stays one line
// and valid UTF-8.
std::string field_text(const unsigned char *p, std::size_t size, bool *terminated) {
  const unsigned char *end = static_cast<const unsigned char *>(std::memchr(p, 0, size));
  *terminated = end != nullptr;
  if (!end) end = p + size;
  return printable(std::string_view(reinterpret_cast<const char *>(p), end - p));
}

std::string kind_of(std::size_t size) {
  if (size == IFC_SET_FILE_SIZE) return "IFC settings (" IFC_SET_FILE ")";
  if (size == IFC_VALVE_FILE_SIZE) return "valve settings (" IFC_VALVE_FILE ")";
  return "table image";
}

}  // namespace

std::optional<dump_table> decode_table(const std::vector<unsigned char> &image,
                                       std::string *error) {
  if (image.empty()) {
    *error = "empty file: no table image";
    return std::nullopt;
  }
  if (image.size() > kMaxImageSize) {
    *error = std::to_string(image.size()) + " bytes: too large for a table image";
    return std::nullopt;
  }
  if (image.size() % kRecordSize != 0) {
    *error = std::to_string(image.size()) +
             " bytes is no multiple of 80: a table image is made of whole 80-byte "
             "records, so this is none";
    return std::nullopt;
  }
  dump_table t;
  t.size = image.size();
  t.kind = kind_of(image.size());
  std::map<std::string, int> first_with_name;
  for (std::size_t pos = 0; pos < image.size() / kRecordSize; ++pos) {
    const unsigned char *r = image.data() + pos * kRecordSize;
    dump_record d;
    d.position = static_cast<int>(pos) + 1;
    d.type = le32(r);
    bool name_ok = false, group_ok = false;
    d.name = field_text(r + kNameOffset, kNameSize, &name_ok);
    for (std::size_t i = 0; i < d.values.size(); ++i)
      d.values[i] = le32(r + kValueOffset + 4 * i);
    d.min = le32(r + kMinOffset);
    d.max = le32(r + kMaxOffset);
    d.group = field_text(r + kGroupOffset, kGroupSize, &group_ok);

    bool is_end = false;
    if (t.has_end) {
      d.notes.push_back("behind the end: never read");
    } else if (d.type == 0) {
      t.has_end = is_end = true;
      d.notes.push_back("end of table");
    } else {
      if (d.type < 1 || d.type > 5)
        d.notes.push_back("type " + std::to_string(d.type) +
                          ": refused by reads and writes");
      auto [it, inserted] = first_with_name.emplace(d.name, d.position);
      if (!inserted)
        d.notes.push_back("name of position " + std::to_string(it->second) +
                          ": never reached");
    }
    if (!name_ok) d.notes.push_back("name not terminated within 28 bytes");
    if (!group_ok) d.notes.push_back("group not terminated within 12 bytes");
    d.refused = !is_end && !d.notes.empty();
    t.records.push_back(std::move(d));
  }
  return t;
}

bool read_image(const std::string &path, std::vector<unsigned char> *image,
                std::string *error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  image->clear();
  unsigned char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    image->insert(image->end(), buf, buf + n);
    if (image->size() > kMaxImageSize) {
      *error = path + ": more than " + std::to_string(kMaxImageSize) +
               " bytes: too large for a table image";
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

std::string render_dump(const dump_table &t) {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "%s: %zu records (%zu bytes)%s\n", t.kind.c_str(),
                t.records.size(), t.size,
                t.has_end ? "" : "; no end record: lookups stop at the last record");
  out += line;

  int name_w = 4, group_w = 5, num_w = 3;
  for (const dump_record &d : t.records) {
    name_w = std::max<int>(name_w, d.name.size());
    group_w = std::max<int>(group_w, d.group.size());
    auto widen = [&](std::int32_t v) {
      num_w = std::max(num_w, std::snprintf(nullptr, 0, "%d", v));
    };
    for (std::int32_t v : d.values) widen(v);
    widen(d.min);
    widen(d.max);
    widen(d.type);
  }
  std::string head;
  std::snprintf(line, sizeof line, "%4s %*s  %-*s", "pos", num_w, "type", name_w, "name");
  head += line;
  for (int i = 0; i <= 6; ++i) {
    std::snprintf(line, sizeof line, " %*s%d", num_w, "v", i);
    head += line;
  }
  std::snprintf(line, sizeof line, " %*s %*s  %-*s  %s", num_w + 1, "min", num_w + 1,
                "max", group_w, "group", "notes");
  head += line;
  out += head + "\n";

  for (const dump_record &d : t.records) {
    std::string row;
    std::snprintf(line, sizeof line, "%4d %*d  %-*s", d.position, std::max(num_w, 4),
                  d.type, name_w, d.name.c_str());
    row += line;
    for (std::int32_t v : d.values) {
      std::snprintf(line, sizeof line, " %*d", num_w + 1, v);
      row += line;
    }
    std::snprintf(line, sizeof line, " %*d %*d  %-*s ", num_w + 1, d.min, num_w + 1,
                  d.max, group_w, d.group.c_str());
    row += line;
    for (std::size_t i = 0; i < d.notes.size(); ++i) row += (i ? "; " : " ") + d.notes[i];
    trim_trailing_blanks(&row);
    out += row + "\n";
  }
  return out;
}

nlohmann::ordered_json dump_json(const dump_table &t) {
  nlohmann::ordered_json j;
  j["kind"] = t.kind;
  j["size"] = t.size;
  j["has_end"] = t.has_end;
  j["records"] = nlohmann::ordered_json::array();
  for (const dump_record &d : t.records) {
    nlohmann::ordered_json r;
    r["position"] = d.position;
    r["type"] = d.type;
    r["name"] = d.name;
    r["values"] = d.values;
    r["min"] = d.min;
    r["max"] = d.max;
    r["group"] = d.group;
    r["notes"] = d.notes;
    j["records"].push_back(std::move(r));
  }
  return j;
}

}  // namespace ifcctl
