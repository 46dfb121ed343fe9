// "ifc_set.set" for the tests: its checked-in default image, the positions
// of its records, and the replies that an image gives.
#pragma once

#include <cstdint>
#include <string>

#include "support/set_images.hpp"

namespace ifc_test {

// Record positions (1-based): record p starts at byte (p - 1) * 80.
enum { kTot = 1, kTwt, kStat1, kStat2, kV, kS1, kS2, kS3, kS4 };

inline constexpr char kSetFile[] = "ifc_set.set";

inline void set_slot(std::string &img, int pos, int slot, std::int32_t v) {
  testing_support::PutLe32(img, testing_support::SlotOffset(pos, slot), v);
}

inline std::int32_t slot_of(const std::string &img, int pos, int slot) {
  return testing_support::GetLe32(img, testing_support::SlotOffset(pos, slot));
}

// The checked-in default image: nine records, then the terminator.
inline const std::string &default_image() {
  return testing_support::DefaultImage(kSetFile);
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
