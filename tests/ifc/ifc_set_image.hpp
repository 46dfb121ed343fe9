// The expected bytes of "ifc_set.set", built from the record layout (type,
// 28-byte name, seven slots, min, max, 12-byte group; 80 bytes, little-endian)
// and the default values, independently of the module's own table.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

namespace ifc_test {

// Record positions (1-based): record p starts at byte (p - 1) * 80.
enum { kTot = 1, kTwt, kStat1, kStat2, kV, kS1, kS2, kS3, kS4 };

inline constexpr char kSetFile[] = "ifc_set.set";

inline void put_le32(std::string &img, std::size_t at, std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) img[at + i] = static_cast<char>((u >> (8 * i)) & 0xff);
}

inline std::int32_t get_le32(const std::string &img, std::size_t at) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i)
    u |= static_cast<std::uint32_t>(static_cast<unsigned char>(img[at + i])) << (8 * i);
  return static_cast<std::int32_t>(u);
}

// Slot i of record p lies 32 + 4 * i bytes behind the record's start.
inline std::size_t slot_offset(int pos, int slot) {
  return (pos - 1) * 80 + 32 + 4 * slot;
}

inline void set_slot(std::string &img, int pos, int slot, std::int32_t v) {
  put_le32(img, slot_offset(pos, slot), v);
}

inline std::int32_t slot_of(const std::string &img, int pos, int slot) {
  return get_le32(img, slot_offset(pos, slot));
}

// Nine records of type 1 with slot 0 = 0 and an empty group, then an all-zero
// terminator: 800 bytes.
inline std::string default_image() {
  struct row {
    const char *name;
    std::int32_t slots[6];
    std::int32_t min, max;
  };
  static const row rows[] = {
      {"Tot", {90, 90, 90, 90, 90, 90}, 50, 150},
      {"Twt", {240, 240, 240, 240, 240, 240}, 190, 290},
      {"STAT_1", {1, 0, 0, 0, 0, 0}, 0, 6},
      {"STAT_2", {10, 1, 10, 2, 0, 0}, 0, 6},
      {"V", {0, 0, 0, 0, 0, 0}, 0, 1},
      {"S1", {0, 0, 0, 0, 0, 0}, 0, 1},
      {"S2", {0, 0, 0, 0, 0, 0}, 0, 1},
      {"S3", {0, 0, 0, 0, 0, 0}, 0, 1},
      {"S4", {0, 0, 0, 0, 0, 0}, 0, 1},
  };
  std::string img(800, '\0');
  for (std::size_t r = 0; r < std::size(rows); ++r) {
    std::size_t base = r * 80;
    put_le32(img, base, 1);
    std::memcpy(&img[base + 4], rows[r].name, std::strlen(rows[r].name));
    for (int i = 0; i < 6; ++i) put_le32(img, base + 36 + 4 * i, rows[r].slots[i]);
    put_le32(img, base + 60, rows[r].min);
    put_le32(img, base + 64, rows[r].max);
  }
  return img;
}

// A change of one slot: record position, slot, new value.
struct change {
  int pos, slot;
  std::int32_t value;
};

// The selection items in reply order with their record and slot.
struct select_row {
  const char *name;
  int pos, slot;
};
inline constexpr select_row kSelect[] = {
    {"pin", kV, 2},     {"abs", kV, 3},    {"main", kV, 4},   {"tandem", kV, 5},
    {"stretch", kV, 6}, {"sub1", kS1, 1},  {"sub2", kS1, 2},  {"sub3", kS1, 3},
    {"sub4", kS1, 4},   {"sub5", kS1, 5},  {"sub6", kS1, 6},  {"sub7", kS2, 1},
    {"sub8", kS2, 2},   {"sub9", kS2, 3},  {"sub10", kS2, 4}, {"sub11", kS2, 5},
    {"sub12", kS2, 6},  {"sub13", kS3, 1}, {"sub14", kS3, 2}, {"sub15", kS3, 3},
    {"sub16", kS3, 4},  {"sub17", kS3, 5}, {"sub18", kS3, 6}, {"sub19", kS4, 1},
    {"sub20", kS4, 2},
};

// The selection reply that an image gives.
inline std::string select_reply(const std::string &img) {
  std::string s;
  for (const auto &r : kSelect)
    s += std::string(r.name) + ":" + std::to_string(slot_of(img, r.pos, r.slot)) + " ";
  return s;
}

// The counts of both histogram replies behind their five leading numbers.
inline constexpr char kHistoCounts[] =
    " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 10 30 50 120 160 210 250 280 290 300 290 280 250 210 "
    "160 120 50 30 10 0 0 0 0 0 0 0 0 0 0 0 0 0";

}  // namespace ifc_test
