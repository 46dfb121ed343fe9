#include "ifcctl/set_dump.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "support/temp_dir.hpp"

namespace {

using image = std::vector<unsigned char>;

void put_le32(image *img, std::size_t at, std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) (*img)[at + i] = static_cast<unsigned char>(u >> (8 * i));
}

// Appends one 80-byte record; name and group are copied byte for byte, at
// most their field sizes, so a test can leave out the NUL.
void add_record(image *img, std::int32_t type, const std::string &name,
                std::int32_t value, std::int32_t min, std::int32_t max,
                const std::string &group) {
  std::size_t at = img->size();
  img->resize(at + 80, 0);
  put_le32(img, at, type);
  std::memcpy(img->data() + at + 4, name.data(), std::min<std::size_t>(name.size(), 28));
  for (int i = 1; i <= 6; ++i) put_le32(img, at + 32 + 4 * i, value);
  put_le32(img, at + 60, min);
  put_le32(img, at + 64, max);
  std::memcpy(img->data() + at + 68, group.data(),
              std::min<std::size_t>(group.size(), 12));
}

image ifc_like_image() {
  image img;
  add_record(&img, 1, "Tot", 90, 50, 150, "");
  add_record(&img, 1, "Twt", 240, 190, 290, "");
  add_record(&img, 1, "STAT_1", 0, 0, 6, "");
  add_record(&img, 1, "STAT_2", 10, 0, 6, "");
  add_record(&img, 1, "V", 0, 0, 1, "");
  for (const char *s : {"S1", "S2", "S3", "S4"}) add_record(&img, 1, s, 0, 0, 1, "");
  add_record(&img, 0, "", 0, 0, 0, "");
  return img;
}

TEST(IfcctlSetDump, DecodesLittleEndianFieldsAtTheirOffsets) {
  image img = ifc_like_image();
  ASSERT_EQ(img.size(), 800u);
  // Byte order check: slot 3 of "Tot" (bytes 44 to 47) holds 0x01020304.
  img[44] = 0x04, img[45] = 0x03, img[46] = 0x02, img[47] = 0x01;
  put_le32(&img, 80 + 60, -10);
  std::string error;
  auto t = ifcctl::decode_table(img, &error);
  ASSERT_TRUE(t) << error;
  EXPECT_EQ(t->kind, "IFC settings (ifc_set.set)");
  EXPECT_TRUE(t->has_end);
  ASSERT_EQ(t->records.size(), 10u);
  const ifcctl::dump_record &tot = t->records[0];
  EXPECT_EQ(tot.position, 1);
  EXPECT_EQ(tot.type, 1);
  EXPECT_EQ(tot.name, "Tot");
  EXPECT_EQ(tot.values[0], 0);
  EXPECT_EQ(tot.values[1], 90);
  EXPECT_EQ(tot.values[3], 0x01020304);
  EXPECT_EQ(tot.max, 150);
  EXPECT_TRUE(tot.notes.empty());
  EXPECT_EQ(t->records[1].min, -10);
  EXPECT_EQ(t->records[9].notes, std::vector<std::string>{"end of table"});
}

TEST(IfcctlSetDump, SizesThatAreNoTableImageAreRefused) {
  static const struct {
    const char *name;
    std::size_t size;
    const char *error_part;
  } cases[] = {
      {"empty", 0, "empty"},
      {"one byte short of the IFC image", 799, "799 bytes is no multiple of 80"},
      {"one byte over", 801, "multiple of 80"},
      {"larger than any table", ifcctl::kMaxImageSize + 80, "too large"},
  };
  for (const auto &c : cases) {
    std::string error;
    EXPECT_FALSE(ifcctl::decode_table(image(c.size, 0), &error)) << c.name;
    EXPECT_NE(error.find(c.error_part), std::string::npos) << c.name << ": " << error;
  }
}

TEST(IfcctlSetDump, DamagedRecordsAreMarkedNotFatal) {
  static const struct {
    const char *name;
    std::int32_t type;
    std::string record_name;
    std::string group;
    std::string shown_name;
    const char *note;  // nullptr: no note
  } cases[] = {
      {"plain", 1, "VAL_main_on", "g1", "VAL_main_on", nullptr},
      {"name fills all 28 bytes", 1, std::string(28, 'A'), "g1", std::string(28, 'A'),
       "name not terminated within 28 bytes"},
      {"group fills all 12 bytes", 1, "x", std::string(12, 'g'), "x",
       "group not terminated within 12 bytes"},
      {"unprintable bytes escaped", 1, "a\xff\n\\b", "", "a\\xff\\x0a\\\\b", nullptr},
      {"type beyond 5", 6, "six", "", "six", "type 6: refused by reads and writes"},
      {"negative type", -1, "neg", "", "neg", "type -1: refused by reads and writes"},
      {"same name as before", 1, "first", "", "first",
       "name of position 1: never reached"},
  };
  for (const auto &c : cases) {
    image img;
    add_record(&img, 1, "first", 1, 0, 9, "");
    add_record(&img, c.type, c.record_name, 7, 0, 9, c.group);
    add_record(&img, 0, "", 0, 0, 0, "");
    std::string error;
    auto t = ifcctl::decode_table(img, &error);
    ASSERT_TRUE(t) << c.name << ": " << error;
    const ifcctl::dump_record &r = t->records[1];
    EXPECT_EQ(r.name, c.shown_name) << c.name;
    EXPECT_EQ(r.values[6], 7) << c.name;
    EXPECT_EQ(r.refused, c.note != nullptr) << c.name;
    EXPECT_FALSE(t->records[2].refused) << c.name;  // the end record
    if (c.note) {
      EXPECT_EQ(r.notes, std::vector<std::string>{c.note}) << c.name;
      EXPECT_NE(ifcctl::render_dump(*t).find(c.note), std::string::npos) << c.name;
    } else {
      EXPECT_TRUE(r.notes.empty()) << c.name;
    }
    // The JSON dumps without complaint: every text is printable ASCII.
    std::string js;
    EXPECT_NO_THROW(js = ifcctl::dump_json(*t).dump()) << c.name;
    EXPECT_TRUE(nlohmann::json::accept(js)) << c.name;
  }
}

TEST(IfcctlSetDump, RecordsBehindTheEndAndAMissingEndAreTold) {
  image img;
  add_record(&img, 1, "a", 1, 0, 9, "");
  add_record(&img, 0, "", 0, 0, 0, "");
  add_record(&img, 1, "hidden", 1, 0, 9, "");
  std::string error;
  auto t = ifcctl::decode_table(img, &error);
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->has_end);
  EXPECT_EQ(t->kind, "table image");
  EXPECT_EQ(t->records[2].notes, std::vector<std::string>{"behind the end: never read"});
  EXPECT_TRUE(t->records[2].refused);

  image no_end;
  add_record(&no_end, 1, "a", 1, 0, 9, "");
  add_record(&no_end, 1, "b", 2, 0, 9, "");
  auto u = ifcctl::decode_table(no_end, &error);
  ASSERT_TRUE(u);
  EXPECT_FALSE(u->has_end);
  EXPECT_NE(ifcctl::render_dump(*u).find("no end record"), std::string::npos);
}

TEST(IfcctlSetDump, TextTableHasOneAlignedRowPerRecord) {
  std::string error;
  auto t = ifcctl::decode_table(ifc_like_image(), &error);
  ASSERT_TRUE(t);
  std::string text = ifcctl::render_dump(*t);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "IFC settings (ifc_set.set): 10 records (800 bytes)");
  EXPECT_NE(text.find(" pos type  name     v0   v1   v2   v3   v4   v5   v6  min  max  "
                      "group  notes\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("   2    1  Twt       0  240  240  240  240  240  240  190  290\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  10    0            0    0    0    0    0    0    0    0    0"
                      "         end of table\n"),
            std::string::npos)
      << text;
}

TEST(IfcctlSetDump, ReadImageRefusesMissingAndOversizedFiles) {
  testing_support::TempDir dir;
  std::vector<unsigned char> img;
  std::string error;
  EXPECT_FALSE(ifcctl::read_image(dir.file("missing.set"), &img, &error));
  EXPECT_NE(error.find("missing.set"), std::string::npos) << error;

  testing_support::write_file(dir.file("big.set"),
                              std::string(ifcctl::kMaxImageSize + 1, '\0'));
  EXPECT_FALSE(ifcctl::read_image(dir.file("big.set"), &img, &error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;

  testing_support::write_file(dir.file("ok.set"), std::string(160, 'x'));
  ASSERT_TRUE(ifcctl::read_image(dir.file("ok.set"), &img, &error)) << error;
  EXPECT_EQ(img.size(), 160u);
}

}  // namespace
