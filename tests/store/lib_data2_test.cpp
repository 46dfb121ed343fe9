#include "ifcsim/lib_data2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define POISON(p, n) ((void)(p), (void)(n))
#define UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

i4_record rec(int32_t type, const char *name, int32_t v, int32_t min = 0,
              int32_t max = 359) {
  i4_record r;
  std::memset(&r, 0, sizeof r);
  r.type = type;
  std::strncpy(r.name, name, sizeof r.name);
  for (int i = 1; i < 7; ++i) r.value[i] = v + i;
  r.min = min;
  r.max = max;
  std::strcpy(r.group, "g1");
  return r;
}

// Slot i of a record made by rec(type, name, v) holds v + i (slot 0 holds 0).
std::vector<i4_record> sample_table() {
  return {
      rec(1, "Tot", 90, 50, 150),
      rec(1, "S1", 10),
      rec(6, "Dup", 20),  // refused, and hides the usable "Dup" behind it
      rec(1, "Dup", 30),
      rec(5, "Five", 40),
      rec(2, "Two", 50),
      rec(-1, "Neg", 60),
      rec(0, "", 0),       // terminator
      rec(1, "Late", 70),  // behind the terminator: never reached
  };
}

bool same_bytes(const std::vector<i4_record> &a, const std::vector<i4_record> &b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
}

TEST(LibData2, ReadWriteCompareByName) {
  static const struct {
    const char *name;
    const char *record;
    int index;
    int result;     // of read, write and compare alike
    int32_t value;  // read when result is 0
  } cases[] = {
      {"usable record, slot 3", "Tot", 3, 0, 93},
      {"usable record, slot 1", "Tot", 1, 0, 91},
      {"slot 0 is readable", "S1", 0, 0, 0},
      {"slot 6", "S1", 6, 0, 16},
      {"type 5 is usable", "Five", 2, 0, 42},
      {"type 2 is usable", "Two", 2, 0, 52},
      {"missing name", "X", 1, -1, 0},
      {"prefix is no match", "S", 1, -1, 0},
      {"longer name is no match", "S12", 1, -1, 0},
      {"case matters", "tot", 1, -1, 0},
      {"empty name", "", 1, -1, 0},
      {"type 6 found first blocks later type 1", "Dup", 1, -1, 0},
      {"negative type refused", "Neg", 1, -1, 0},
      {"record behind terminator", "Late", 1, -1, 0},
      {"index 7 refused", "Tot", 7, -1, 0},
      {"index -1 refused", "Tot", -1, -1, 0},
  };
  for (const auto &c : cases) {
    std::vector<i4_record> t = sample_table();
    const std::vector<i4_record> before = t;

    int32_t out = -12345;
    EXPECT_EQ(fp_main_read(c.record, &out, c.index, t.data()), c.result) << c.name;
    EXPECT_EQ(out, c.result == 0 ? c.value : -12345) << c.name;
    EXPECT_TRUE(same_bytes(t, before)) << c.name;

    if (c.result == 0) {
      EXPECT_EQ(fp_main_compare(c.record, c.value, c.index, t.data()), 0) << c.name;
      EXPECT_EQ(fp_main_compare(c.record, c.value + 1, c.index, t.data()), -1) << c.name;
    } else {
      EXPECT_EQ(fp_main_compare(c.record, 0, c.index, t.data()), -1) << c.name;
    }

    // Any value is stored, in range or not; nothing else changes.
    EXPECT_EQ(fp_main_write(c.record, 500, c.index, t.data()), c.result) << c.name;
    std::vector<i4_record> expected = before;
    if (c.result == 0) {
      for (auto &r : expected) {
        if (std::strcmp(r.name, c.record) == 0) {
          r.value[c.index] = 500;
          break;
        }
      }
      EXPECT_EQ(fp_main_read(c.record, &out, c.index, t.data()), 0) << c.name;
      EXPECT_EQ(out, 500) << c.name;
    }
    EXPECT_TRUE(same_bytes(t, expected)) << c.name;
  }
}

TEST(LibData2, EmptyTableHoldsNothing) {
  std::vector<i4_record> t = sample_table();
  t[0].type = 0;
  const std::vector<i4_record> before = t;
  int32_t out = 7;
  EXPECT_EQ(fp_main_read("Tot", &out, 1, t.data()), -1);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(fp_main_write("Tot", 1, 1, t.data()), -1);
  EXPECT_EQ(fp_main_compare("Tot", 91, 1, t.data()), -1);
  change_i4_min_max(t.data(), "Tot", 0, 1);
  change_i4_type(t.data(), "Tot", 2);
  change_i4_min_max(t.data(), "", 0, 1);
  EXPECT_TRUE(same_bytes(t, before));
}

TEST(LibData2, ChangeMinMaxClampsSlotsOneToSix) {
  static const struct {
    const char *name;
    const char *record;
    int32_t min, max;
    int32_t slots[7];     // written before the change
    int32_t expected[7];  // after it
  } cases[] = {
      {"clamp both ways",
       "S1",
       0,
       100,
       {-7, 150, -5, 50, 0, 100, 101},
       {-7, 100, 0, 50, 0, 100, 100}},
      {"min above max ends every slot at max",
       "S1",
       10,
       5,
       {999, 0, 7, 10, 5, -3, 400},
       {999, 5, 5, 5, 5, 5, 5}},
      {"signed comparison",
       "S1",
       -10,
       0,
       {0, -20, -5, 3, 0, -10, -11},
       {0, -10, -5, 0, 0, -10, -10}},
      {"type is not tested", "Dup", 0, 1, {5, 5, 5, 5, 5, 5, 5}, {5, 1, 1, 1, 1, 1, 1}},
  };
  for (const auto &c : cases) {
    std::vector<i4_record> t = sample_table();
    i4_record *r = c.record == std::string("Dup") ? &t[2] : &t[1];
    std::memcpy(r->value, c.slots, sizeof r->value);
    std::vector<i4_record> expected = t;
    i4_record *e = &expected[r - t.data()];
    std::memcpy(e->value, c.expected, sizeof e->value);
    e->min = c.min;
    e->max = c.max;

    change_i4_min_max(t.data(), c.record, c.min, c.max);
    EXPECT_TRUE(same_bytes(t, expected)) << c.name;
    for (int i = 0; i < 7; ++i)
      EXPECT_EQ(r->value[i], c.expected[i]) << c.name << " slot " << i;
  }
  std::vector<i4_record> t = sample_table();
  const std::vector<i4_record> before = t;
  change_i4_min_max(t.data(), "Late", 0, 1);
  change_i4_min_max(t.data(), "X", 0, 1);
  EXPECT_TRUE(same_bytes(t, before)) << "missing names change nothing";
}

TEST(LibData2, ChangeTypeAcceptsOneToFiveOnly) {
  static const struct {
    const char *name;
    const char *record;
    int32_t type;
    int changed_at;  // index in sample_table, or -1 for no change
  } cases[] = {
      {"0 would end the table: refused", "Tot", 0, -1},
      {"6 refused", "Tot", 6, -1},
      {"negative refused", "Tot", -1, -1},
      {"5 stored", "Tot", 5, 0},
      {"1 stored", "Two", 1, 5},
      {"refused record made usable", "Dup", 3, 2},
      {"missing name", "X", 3, -1},
      {"behind the terminator", "Late", 3, -1},
  };
  for (const auto &c : cases) {
    std::vector<i4_record> t = sample_table();
    std::vector<i4_record> expected = t;
    if (c.changed_at >= 0) expected[c.changed_at].type = c.type;
    change_i4_type(t.data(), c.record, c.type);
    EXPECT_TRUE(same_bytes(t, expected)) << c.name;
  }
  std::vector<i4_record> t = sample_table();
  change_i4_type(t.data(), "Dup", 1);
  int32_t out = 0;
  EXPECT_EQ(fp_main_read("Dup", &out, 1, t.data()), 0);
  EXPECT_EQ(out, 21) << "the first Dup is reached once usable";
}

// A set-file image carries no guarantee of a terminator; the tables keep an
// all-zero guard record behind their capacity. The array below is exactly
// capacity + 1 records on the heap, so ASan sees any read beyond the guard.
TEST(LibData2, ImageWithoutTerminatorStopsAtGuard) {
  constexpr int kCapacity = 3;
  auto t = std::make_unique<i4_record[]>(kCapacity + 1);
  std::memset(t.get(), 0, sizeof(i4_record) * (kCapacity + 1));
  t[0] = rec(1, "A", 0);
  t[1] = rec(1, "B", 10);
  t[2] = rec(1, "C", 20);

  static const struct {
    const char *name;
    const char *record;
    int result;
  } cases[] = {
      {"last record found", "C", 0},
      {"missing name ends at guard", "X", -1},
      {"empty name ends at guard", "", -1},
  };
  for (const auto &c : cases) {
    int32_t out = -1;
    EXPECT_EQ(fp_main_read(c.record, &out, 1, t.get()), c.result) << c.name;
    EXPECT_EQ(fp_main_write(c.record, 1, 2, t.get()), c.result) << c.name;
    EXPECT_EQ(fp_main_compare(c.record, 1, 2, t.get()), c.result) << c.name;
    change_i4_min_max(t.get(), c.record, 0, 359);
    change_i4_type(t.get(), c.record, 1);
  }
  EXPECT_EQ(t[3].type, 0) << "guard untouched";
}

// A name field with no NUL is a 28-character name. The bytes behind it
// (slots 0 and 1, one ASan granule) are poisoned under ASan, and otherwise
// hold "B" so that a comparison running on into them would match a name.
TEST(LibData2, FullNameFieldIsComparedWithinItsBytes) {
  std::vector<i4_record> t = {rec(1, "A", 0), rec(1, "", 100), rec(1, "Z", 200),
                              rec(0, "", 0)};
  std::memset(t[1].name, 'N', sizeof t[1].name);
  t[1].value[0] = 'B';

  static const struct {
    const char *name;
    std::string record;
    int result;
  } cases[] = {
      {"exactly the 28 characters", std::string(28, 'N'), 0},
      {"27 characters", std::string(27, 'N'), -1},
      {"29 characters", std::string(28, 'N') + "N", -1},
      {"the bytes behind the field are not part of it", std::string(28, 'N') + "B", -1},
      {"other names pass it by", "Z", 0},
      {"missing name", "Q", -1},
  };
  for (const auto &c : cases) {
    int32_t out = -1;
    POISON(&t[1].value[0], 2 * sizeof(int32_t));
    int got = fp_main_read(c.record.c_str(), &out, 2, t.data());
    change_i4_type(t.data(), c.record.c_str(), 1);
    UNPOISON(&t[1].value[0], 2 * sizeof(int32_t));
    EXPECT_EQ(got, c.result) << c.name;
    if (got == 0) {
      EXPECT_EQ(out, c.record == "Z" ? 202 : 102) << c.name;
    }
  }
}

}  // namespace
