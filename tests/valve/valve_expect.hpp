// What the valve table and the on/off replies must look like, built from the
// documented record and item lists (not from the module's own tables).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace valve_expect {

inline constexpr int kRecords = 112;
inline constexpr int kImageSize = kRecords * 80;

// The 111 record names in table order.
inline std::vector<std::string> record_names() {
  std::vector<std::string> n = {
      "VAL_pin_open",   "VAL_use_abs",         "VAL_abs_rel",         "VAL_abs_on",
      "VAL_abs_off",    "VAL_pull_on",         "VAL_ABS_TwK",         "VAL_main_on",
      "VAL_main_off",   "VAL_tandem_on",       "VAL_tandem_off",      "VAL_cutter_on",
      "VAL_cutter_off", "VAL_cutting_blow_on", "VAL_cutting_blow_off"};
  for (int i = 1; i <= 20; ++i) {
    n.push_back("VAL_sub" + std::to_string(i) + "_on");
    n.push_back("VAL_sub" + std::to_string(i) + "_off");
  }
  for (const char *s :
       {"VAL_stretch_on", "VAL_stretch_off", "VAL_strech_blow_on", "VAL_strech_blow_off",
        "VAL_exhaust_main_on", "VAL_exhaust_main_off"}) {
    n.push_back(s);
  }
  for (int i = 1; i <= 6; ++i) {
    n.push_back("VAL_exhaust_s" + std::to_string(i) + "_on");
    n.push_back("VAL_exhaust_s" + std::to_string(i) + "_off");
  }
  for (int i = 1; i <= 20; ++i) n.push_back("VAL_press" + std::to_string(i));
  for (const char *s :
       {"VAL_stretch_press", "VAL_air_on", "VAL_air_off", "VAL_absg_on", "VAL_absg_off",
        "VAL_breeze_on", "VAL_breeze_off", "VAL_1st_ctrl", "VAL_1st_twi", "VAL_1st_subN",
        "VAL_1st_main_on", "VAL_1st_main_off", "VAL_1st_tandem_on", "VAL_1st_tandem_off",
        "VAL_1st_abs_on", "VAL_1st_abs_off", "VAL_1st_apc_drop",
        "VAL_1st_apc_drop_MPA"}) {
    n.push_back(s);
  }
  return n;
}

// Position (1..111) of a record, 0 when there is none.
inline int position_of(const std::string &record) {
  std::vector<std::string> names = record_names();
  for (size_t p = 0; p < names.size(); ++p) {
    if (names[p] == record) return static_cast<int>(p) + 1;
  }
  return 0;
}

// Byte offset of value slot index of the record at position p (from 1).
inline size_t slot_offset(int p, int index) { return (p - 1) * 80 + 32 + 4 * index; }

inline void put_le32(std::string &image, size_t at, std::int32_t v) {
  std::uint32_t u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>((u >> (8 * i)) & 0xff);
}

inline std::int32_t get_le32(const std::string &image, size_t at) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= std::uint32_t(std::uint8_t(image[at + i])) << (8 * i);
  return static_cast<std::int32_t>(u);
}

// The 8960-byte default image of "valve_fp.set".
inline std::string default_image() {
  static const struct {
    int first, last;
    std::int32_t value, min, max;
    const char *group;
  } ranges[] = {
      {1, 1, 70, 0, 359, "g1"},        {2, 2, 0, 0, 359, "g2"},
      {3, 3, 50, 0, 200, "g2"},        {4, 4, 215, 0, 359, "g2"},
      {5, 5, 255, 0, 359, "g2"},       {6, 6, 350, 0, 359, "g2"},
      {7, 7, 230, 0, 359, "g2"},       {8, 8, 90, 0, 359, "g1"},
      {9, 9, 160, 0, 359, "g1"},       {10, 10, 95, 0, 359, "g1"},
      {11, 11, 150, 0, 359, "g1"},     {12, 12, 20, 0, 359, "g3"},
      {13, 13, 180, 0, 359, "g3"},     {14, 14, 30, 0, 359, "g3"},
      {15, 15, 60, 0, 359, "g3"},      {16, 16, 95, 0, 359, "g4"},
      {17, 17, 135, 0, 359, "g4"},     {18, 18, 115, 0, 359, "g4"},
      {19, 19, 155, 0, 359, "g4"},     {20, 20, 135, 0, 359, "g4"},
      {21, 21, 175, 0, 359, "g4"},     {22, 22, 150, 0, 359, "g4"},
      {23, 23, 190, 0, 359, "g4"},     {24, 24, 165, 0, 359, "g4"},
      {25, 25, 205, 0, 359, "g4"},     {26, 26, 185, 0, 359, "g4"},
      {27, 27, 280, 0, 359, "g4"},     {28, 28, 200, 0, 359, "g4"},
      {29, 29, 300, 0, 359, "g4"},     {30, 30, 220, 0, 359, "g4"},
      {31, 31, 300, 0, 359, "g4"},     {32, 59, 0, 0, 359, "g4"},
      {60, 73, 0, 0, 359, "g5"},       {74, 94, 0, 0, 359, "g4"},
      {95, 100, 0, 0, 300, "g5"},      {101, 101, 0, 0, 1, "g5"},
      {102, 102, 220, 190, 280, "g5"}, {103, 103, 2, 1, 2, "g5"},
      {104, 107, 0, 0, 359, "g1"},     {108, 109, 0, 0, 359, "g2"},
      {110, 111, 0, -10, 0, "g5"},
  };
  std::vector<std::string> names = record_names();
  std::string image(kImageSize, '\0');
  for (const auto &r : ranges) {
    for (int p = r.first; p <= r.last; ++p) {
      size_t at = (p - 1) * 80;
      put_le32(image, at, p == 110 ? 2 : p == 111 ? 3 : 1);
      image.replace(at + 4, names[p - 1].size(), names[p - 1]);
      for (int i = 1; i <= 6; ++i) put_le32(image, slot_offset(p, i), r.value);
      put_le32(image, at + 60, r.min);
      put_le32(image, at + 64, r.max);
      image.replace(at + 68, 2, r.group);
    }
  }
  return image;
}

// The 45 on/off items in reply order with their records.
struct item {
  std::string name;
  std::string record;
};

inline std::vector<item> on_off_items() {
  std::vector<item> items = {{"pin_on", "VAL_pin_open"}};
  for (const char *s : {"abs_on", "abs_off", "main_on", "main_off", "tandem_on",
                        "tandem_off", "stretch_on", "stretch_off"}) {
    items.push_back({s, std::string("VAL_") + s});
  }
  for (int i = 1; i <= 18; ++i) {
    for (const char *suffix : {"_on", "_off"}) {
      std::string name = "sub" + std::to_string(i) + suffix;
      items.push_back({name, "VAL_" + name});
    }
  }
  return items;
}

// The on/off reply that a table image gives for one colour number.
inline std::string on_off_reply(const std::string &image, int colour) {
  std::string text = "ATC_TO_DELAY:0 ";
  for (const item &it : on_off_items()) {
    int p = position_of(it.record);
    text += it.name + ":" + std::to_string(get_le32(image, slot_offset(p, colour))) + " ";
  }
  return text;
}

}  // namespace valve_expect
