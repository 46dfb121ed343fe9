#include "valve/vfp_ifc.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/stdout_capture.hpp"
#include "support/temp_dir.hpp"
#include "valve/valve_expect.hpp"

namespace {

using testing_support::file_exists;
using testing_support::GetLe32;
using testing_support::PutLe32;
using testing_support::read_file;
using testing_support::write_file;
using valve_expect::default_image;
using valve_expect::position_of;
using valve_expect::slot_offset;

const char kFile[] = "valve_fp.set";

int (*const get_handlers[7])(char *) = {
    nullptr,          IFC_get_on_off_1, IFC_get_on_off_2, IFC_get_on_off_3,
    IFC_get_on_off_4, IFC_get_on_off_5, IFC_get_on_off_6};
int (*const set_handlers[7])(char *, int) = {
    nullptr,          IFC_set_on_off_1, IFC_set_on_off_2, IFC_set_on_off_3,
    IFC_set_on_off_4, IFC_set_on_off_5, IFC_set_on_off_6};

std::string get_reply(int colour) {
  static char buf[4096];
  std::memset(buf, 'x', sizeof buf);
  int len = get_handlers[colour](buf);
  EXPECT_EQ(buf[len], '\0');
  return std::string(buf, len);
}

// Sends data as the data part; the buffer holds one byte more, as the
// connection buffer does, filled with a character the handler must replace.
void set_items(int colour, const std::string &data) {
  std::vector<char> buf(data.begin(), data.end());
  buf.push_back('9');
  set_handlers[colour](buf.data(), static_cast<int>(data.size()));
}

void put_value(std::string &image, const char *record, int index, std::int32_t v) {
  PutLe32(image, slot_offset(position_of(record), index), v);
}

class VfpTest : public ::testing::Test {
 protected:
  testing_support::ScopedWorkDir work_;
};

TEST_F(VfpTest, FirstAccessCreatesTheDefaultImage) {
  std::int32_t v = -1;
  EXPECT_EQ(VfpRead("VAL_main_on", &v, 1), 0);
  EXPECT_EQ(v, 90);
  std::string file = read_file(kFile);
  ASSERT_EQ(file.size(), 8960u);
  EXPECT_TRUE(testing_support::MatchesCheckedIn(kFile, file));
}

TEST_F(VfpTest, AccessorsReadAndWriteSlots) {
  static const struct {
    const char *name;
    const char *record;
    int index;
    std::int32_t value;
  } cases[] = {
      {"main_on colour 2", "VAL_main_on", 2, 100},
      {"outside the range is stored", "VAL_pin_open", 1, 400},
      {"type 2 record", "VAL_1st_apc_drop", 1, -5},
      {"type 3 record", "VAL_1st_apc_drop_MPA", 6, 7},
      {"record without an on/off item", "VAL_sub19_on", 3, 12},
      {"slot 0", "VAL_press20", 0, 1},
      {"last record", "VAL_1st_apc_drop_MPA", 1, INT32_MIN},
  };
  for (const auto &c : cases) {
    std::remove(kFile);
    std::int32_t v = -1;
    ASSERT_EQ(VfpRead(c.record, &v, c.index), 0) << c.name;
    EXPECT_EQ(v, GetLe32(default_image(), slot_offset(position_of(c.record), c.index)))
        << c.name;
    EXPECT_EQ(VfpWrite(c.record, c.value, c.index), 0) << c.name;
    std::string want = default_image();
    put_value(want, c.record, c.index, c.value);
    EXPECT_EQ(read_file(kFile), want) << c.name;
    EXPECT_EQ(VfpRead(c.record, &v, c.index), 0) << c.name;
    EXPECT_EQ(v, c.value) << c.name;
  }
}

TEST_F(VfpTest, RefusedAccessLeavesValueAndStillSaves) {
  static const struct {
    const char *name;
    const char *record;
    int index;
  } cases[] = {
      {"unknown name", "VAL_nothing", 1},
      {"prefix of a name", "VAL_main", 1},
      {"item name instead of record name", "main_on", 1},
      {"index 7 would reach min", "VAL_main_on", 7},
      {"negative index", "VAL_main_on", -1},
  };
  for (const auto &c : cases) {
    // A longer file is cut back to the table by any write.
    write_file(kFile, default_image() + "tail");
    std::int32_t v = 12345;
    EXPECT_EQ(VfpRead(c.record, &v, c.index), -1) << c.name;
    EXPECT_EQ(v, 12345) << c.name;
    EXPECT_EQ(read_file(kFile).size(), 8964u) << c.name;
    EXPECT_EQ(VfpWrite(c.record, 1, c.index), -1) << c.name;
    EXPECT_EQ(read_file(kFile), default_image()) << c.name;
  }
}

TEST_F(VfpTest, LoadsWholeFilesAndResetsShortOnes) {
  std::string changed = default_image();
  put_value(changed, "VAL_main_on", 1, 77);
  static const struct {
    const char *name;
    std::string file;
    std::int32_t main_on;
  } cases[] = {
      {"whole file is taken", changed, 77},
      {"longer file: first 8960 bytes", changed + "xyz", 77},
      {"one byte short: defaults", changed.substr(0, 8959), 90},
      {"empty file: defaults", "", 90},
  };
  for (const auto &c : cases) {
    write_file(kFile, c.file);
    std::int32_t v = -1;
    EXPECT_EQ(VfpRead("VAL_main_on", &v, 1), 0) << c.name;
    EXPECT_EQ(v, c.main_on) << c.name;
  }
}

// A short file that cannot be set aside (a directory holds the ".bad" name)
// is the only copy of its settings: a write must not save over it.
TEST_F(VfpTest, WriteKeepsARejectedFileThatCouldNotBeSetAside) {
  static const struct {
    const char *name;
    const char *data;  // IFC_set_on_off_1 data part, or nullptr for VfpWrite
  } cases[] = {
      {"VfpWrite", nullptr},
      {"set command", "main_on:5 main_off:6"},
  };
  std::string changed = default_image();
  put_value(changed, "VAL_main_on", 1, 77);
  const std::string short_file = changed.substr(0, 8959);
  for (const auto &c : cases) {
    testing_support::ScopedWorkDir dir;
    write_file(kFile, short_file);
    ASSERT_EQ(mkdir("valve_fp.set.bad", 0755), 0) << c.name;
    write_file("valve_fp.set.bad/x", "x");
    int result = -2;
    {
      testing_support::StdoutCapture out;
      if (c.data == nullptr) {
        result = VfpWrite("VAL_main_on", 5, 1);
      } else {
        set_items(1, c.data);
        result = 0;
      }
    }
    EXPECT_EQ(result, 0) << c.name;
    const std::string kept = read_file(kFile);
    EXPECT_EQ(kept.size(), short_file.size()) << c.name;
    EXPECT_TRUE(kept == short_file) << c.name;
    EXPECT_FALSE(file_exists("valve_fp.set.tmp")) << c.name;
  }
}

TEST_F(VfpTest, ForeignImageWithoutTerminatorStaysInTheTable) {
  // Every record usable-looking and named with no NUL: a lookup must end at
  // the table's end, not run on behind it.
  std::string image(8960, 'A');
  for (size_t at = 0; at < image.size(); at += 80) PutLe32(image, at, 1);
  write_file(kFile, image);
  std::int32_t v = 5;
  EXPECT_EQ(VfpRead("VAL_main_on", &v, 1), -1);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(VfpWrite("VAL_main_on", 1, 1), -1);
  EXPECT_EQ(read_file(kFile), image);
}

TEST_F(VfpTest, DefaultReplyIs554CharactersForEveryColour) {
  for (int colour = 1; colour <= 6; ++colour) {
    std::string text = get_reply(colour);
    EXPECT_EQ(text.size(), 554u) << colour;
    EXPECT_EQ(text, valve_expect::on_off_reply(default_image(), colour)) << colour;
    EXPECT_EQ(text.rfind("ATC_TO_DELAY:0 pin_on:70 abs_on:215 abs_off:255 ", 0), 0u)
        << colour;
    EXPECT_EQ(text.substr(text.size() - 12), "sub18_off:0 ") << colour;
  }
}

TEST_F(VfpTest, ReplyShowsZeroForARecordTheFileLacks) {
  std::string image = default_image();
  image.replace(position_of("VAL_main_off") * 80 - 80 + 4, 12, "VAL_gone_off");
  write_file(kFile, image);
  std::string text = get_reply(1);
  EXPECT_NE(text.find(" main_on:90 main_off:0 tandem_on:95 "), std::string::npos) << text;
  EXPECT_EQ(text.size(), 552u);
}

TEST_F(VfpTest, SetStoresKnownItemsAtTheColourNumber) {
  static const struct {
    const char *name;
    int colour;
    std::string data;
    std::vector<std::pair<const char *, std::int32_t>> stored;
  } cases[] = {
      {"two items",
       2,
       "main_on:95 main_off:100",
       {{"VAL_main_on", 95}, {"VAL_main_off", 100}}},
      {"pin_on is VAL_pin_open", 1, "pin_on:80", {{"VAL_pin_open", 80}}},
      {"colour 6",
       6,
       "sub18_off:3 stretch_on:4",
       {{"VAL_sub18_off", 3}, {"VAL_stretch_on", 4}}},
      {"not a number stores 0", 1, "main_on:abc", {{"VAL_main_on", 0}}},
      {"empty value stores 0", 1, "main_on:", {{"VAL_main_on", 0}}},
      {"negative", 1, "main_on:-5", {{"VAL_main_on", -5}}},
      {"outside the range", 1, "main_on:400", {{"VAL_main_on", 400}}},
      {"digits up to the first other character",
       1,
       "main_on:+12abc",
       {{"VAL_main_on", 12}}},
      {"leading line feed skipped", 1, "main_on:\n7", {{"VAL_main_on", 7}}},
      {"later duplicate wins", 3, "main_on:1 main_on:2", {{"VAL_main_on", 2}}},
      {"empty key stops the walk",
       4,
       "main_on:95 :7 main_off:100",
       {{"VAL_main_on", 95}}},
      {"line feed keeps one item", 1, "main_on:95\nmain_off:100", {{"VAL_main_on", 95}}},
      {"largest 32-bit value", 1, "main_on:2147483647", {{"VAL_main_on", INT32_MAX}}},
      {"smallest 32-bit value", 1, "main_on:-2147483648", {{"VAL_main_on", INT32_MIN}}},
      {"above 32 bits saturates", 1, "main_on:2147483648", {{"VAL_main_on", INT32_MAX}}},
      {"below 32 bits saturates", 1, "main_on:-2147483649", {{"VAL_main_on", INT32_MIN}}},
      {"beyond 64 bits saturates",
       1,
       "main_on:99999999999999999999999",
       {{"VAL_main_on", INT32_MAX}}},
      {"item without a colon is skipped, the rest applied",
       1,
       "main_on main_off:100",
       {{"VAL_main_off", 100}}},
      {"over-long value is skipped, not cut",
       1,
       "main_on:" + std::string(49, '0') + "5 main_off:1",
       {{"VAL_main_off", 1}}},
      {"49-character value is taken",
       1,
       "main_on:" + std::string(48, '0') + "5",
       {{"VAL_main_on", 5}}},
      {"unknown items are ignored",
       5,
       "VAL_main_on:95 cutter_on:10 sub19_on:5 ATC_TO_DELAY:5 MAIN_ON:5 main_on:6",
       {{"VAL_main_on", 6}}},
  };
  for (const auto &c : cases) {
    std::remove(kFile);
    set_items(c.colour, c.data);
    std::string want = default_image();
    for (const auto &[record, value] : c.stored) put_value(want, record, c.colour, value);
    EXPECT_EQ(read_file(kFile), want) << c.name;
  }
}

TEST_F(VfpTest, SetWithoutKnownItemsLeavesTheFileAlone) {
  static const struct {
    const char *name;
    std::string data;
  } cases[] = {
      {"empty data part", ""},
      {"spaces only", "   "},
      {"unknown items", "VAL_main_on:95 cutter_on:10 sub19_on:5 ATC_TO_DELAY:5"},
      {"empty key first", ":5 main_on:95"},
      {"no colon", "main_on"},
      {"over-long key", std::string(30, 'm') + ":1"},
  };
  for (const auto &c : cases) {
    std::remove(kFile);
    set_items(1, c.data);
    EXPECT_FALSE(file_exists(kFile)) << c.name;
  }
}

TEST_F(VfpTest, SetReadsOnlyTheDataPart) {
  // Bytes behind the given length are not part of the command.
  std::string text = "main_on:95 main_off:100";
  std::vector<char> buf(text.begin(), text.end());
  IFC_set_on_off_1(buf.data(), 10);
  std::string want = default_image();
  put_value(want, "VAL_main_on", 1, 95);
  EXPECT_EQ(read_file(kFile), want);
}

}  // namespace
