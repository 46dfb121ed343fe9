// `ifcctl dump`: a set file (the raw image of a parameter table, 80 bytes a
// record, little-endian) decoded into a table for people or JSON.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ifcsim/ifcsim_protocol.h"

namespace ifcctl {

inline constexpr std::size_t kRecordSize = IFC_RECORD_SIZE;
// Larger files are refused unread: the biggest set file is 8960 bytes.
inline constexpr std::size_t kMaxImageSize = 1 << 20;

struct dump_record {
  int position = 0;  // counted from 1, as in the table
  std::int32_t type = 0;
  std::string name;  // printable: other bytes as \xNN, a backslash as "\\"
  std::array<std::int32_t, 7> values{};
  std::int32_t min = 0, max = 0;
  std::string group;  // printable, as name
  // What the server makes of the record where that is not plain: the end
  // record, records behind it, refused types, unterminated text fields,
  // names that an earlier record already carries.
  std::vector<std::string> notes;
  // Marked by a note other than the end record's: the server would not
  // use the record as it stands.
  bool refused = false;
};

struct dump_table {
  std::size_t size = 0;  // bytes
  std::string kind;      // what the size says the image is
  bool has_end = false;  // a record of type 0 ends the table
  std::vector<dump_record> records;
};

// Decodes an image. Returns nullopt and sets *error (saying which) when the
// size is 0, not a multiple of 80 bytes, or above kMaxImageSize.
std::optional<dump_table> decode_table(const std::vector<unsigned char> &image,
                                       std::string *error);

// Reads a file of at most kMaxImageSize bytes. Returns false and sets *error
// (naming the file) when it cannot be read or is larger.
bool read_image(const std::string &path, std::vector<unsigned char> *image,
                std::string *error);

// Columns: position, type, name, values 0 to 6, min, max, group, notes.
std::string render_dump(const dump_table &table);

nlohmann::ordered_json dump_json(const dump_table &table);

}  // namespace ifcctl
