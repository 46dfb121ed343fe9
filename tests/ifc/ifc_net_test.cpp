// The IFC table and its command handlers, called directly in a fresh working
// directory. The expected file images are the checked-in default image
// (tests/data/ifc_set.set) with the slots a case changes.
#include "ifc/ifc_net.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/ether_parse.hpp"
#include "ifc/ifc_set_image.hpp"
#include "ifcsim_config.hpp"
#include "support/temp_dir.hpp"

extern "C" ssize_t __real_read(int fd, void *buf, size_t n);

namespace {

using testing_support::file_exists;
using testing_support::read_file;
using testing_support::ScopedWorkDir;
using testing_support::write_file;

using namespace ifc_test;
constexpr const char *kFile = kSetFile;

// Calls a GET handler with a buffer of the connection buffer's size and checks
// that the returned length is the text's length.
std::string get(get_handler h) {
  std::vector<char> buf(kMaxPayload + 1, '\x55');
  int n = h(buf.data());
  EXPECT_GE(n, 0);
  if (n < 0) return {};
  EXPECT_EQ(buf[n], '\0');
  EXPECT_EQ(std::strlen(buf.data()), static_cast<std::size_t>(n));
  return std::string(buf.data(), n);
}

// Calls a PUT handler with the text as its data part; the byte behind it
// belongs to the handler.
void put(put_handler h, std::string_view text) {
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\x55');
  h(buf.data(), static_cast<int>(text.size()));
}

std::string capture_put(put_handler h, std::string_view text) {
  testing::internal::CaptureStdout();
  put(h, text);
  return testing::internal::GetCapturedStdout();
}

class IfcNetTest : public testing::Test {
 protected:
  ScopedWorkDir work_;
};

// ---------------------------------------------------------------------------
// The table and its file

TEST_F(IfcNetTest, FirstAccessCreatesTheDefaultImage) {
  EXPECT_FALSE(file_exists(kFile));
  std::int32_t v = -7;
  EXPECT_EQ(Ifc_SetRead("Tot", &v, 1), 0);
  EXPECT_EQ(v, 90);
  std::string img = read_file(kFile);
  ASSERT_EQ(img.size(), 800u);
  EXPECT_TRUE(testing_support::MatchesCheckedIn(kFile, img));
}

TEST_F(IfcNetTest, WritesLandInTheirSlotOnly) {
  static const struct {
    const char *name;
    const char *record;
    int pos, slot;
    std::int32_t value;
  } cases[] = {
      {"to of colour 3", "Tot", kTot, 3, 95},
      {"tw outside its range", "Twt", kTwt, 1, 500},
      {"negative", "STAT_2", kStat2, 6, -123456},
      {"slot no command uses", "V", kV, 1, 1},
  };
  for (const auto &c : cases) {
    unlink(kFile);
    EXPECT_EQ(Ifc_SetWrite(c.record, c.value, c.slot), 0) << c.name;
    std::string want = default_image();
    set_slot(want, c.pos, c.slot, c.value);
    EXPECT_EQ(read_file(kFile), want) << c.name;
    std::int32_t v = 0;
    EXPECT_EQ(Ifc_SetRead(c.record, &v, c.slot), 0) << c.name;
    EXPECT_EQ(v, c.value) << c.name;
  }
}

TEST_F(IfcNetTest, UnknownNameFailsButTheFileIsRewrittenAsLoaded) {
  std::string img = default_image();
  set_slot(img, kTwt, 4, 250);
  write_file(kFile, img);
  EXPECT_EQ(Ifc_SetWrite("X", 5, 1), -1);
  EXPECT_EQ(Ifc_SetWrite("Tot ", 5, 1), -1);
  std::int32_t v = 77;
  EXPECT_EQ(Ifc_SetRead("S", &v, 1), -1);
  EXPECT_EQ(v, 77);
  EXPECT_EQ(read_file(kFile), img);
}

TEST_F(IfcNetTest, ShortFileIsReplacedLongFileIsCutOnWrite) {
  std::string changed = default_image();
  set_slot(changed, kTot, 2, 111);

  write_file(kFile, changed.substr(0, 799));
  std::int32_t v = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Ifc_SetRead("Tot", &v, 2), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout(), "") << "the reset is reported";
  EXPECT_EQ(v, 90);
  EXPECT_EQ(read_file(kFile), default_image());
  EXPECT_EQ(read_file(std::string(kFile) + ".bad"), changed.substr(0, 799));

  write_file(kFile, changed + std::string(200, 'z'));
  EXPECT_EQ(Ifc_SetRead("Tot", &v, 2), 0);
  EXPECT_EQ(v, 111);
  EXPECT_EQ(read_file(kFile).size(), 1000u);
  EXPECT_EQ(Ifc_SetWrite("Tot", 112, 2), 0);
  set_slot(changed, kTot, 2, 112);
  EXPECT_EQ(read_file(kFile), changed);
}

// A short file that cannot be kept aside (a directory holds the ".bad" name)
// may be the only copy of the settings: writes must not save over it.
TEST_F(IfcNetTest, WriteKeepsARejectedFileThatCouldNotBeSetAside) {
  std::string changed = default_image();
  set_slot(changed, kTot, 1, 123);
  const std::string short_file = changed.substr(0, 799);
  write_file(kFile, short_file);
  ASSERT_EQ(mkdir((std::string(kFile) + ".bad").c_str(), 0755), 0);
  write_file(std::string(kFile) + ".bad/x", "x");

  testing::internal::CaptureStdout();
  EXPECT_EQ(Ifc_SetWrite("Tot", 95, 1), 0);
  put(IFC_set_to_tw_1, "to:96 tw:250");
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(read_file(kFile), short_file);
  EXPECT_FALSE(file_exists(std::string(kFile) + ".tmp"));
}

// A set file of the right size is taken as it is: without a terminator and
// with names that fill their field, a lookup must still end inside the table.
TEST_F(IfcNetTest, ImageWithoutTerminatorOrNameEnds) {
  std::string img(800, '\0');
  for (int r = 0; r < 10; ++r) {
    testing_support::PutLe32(img, r * 80, 1);
    std::memset(&img[r * 80 + 4], 'A' + r, 28);
  }
  write_file(kFile, img);
  std::int32_t v = 5;
  EXPECT_EQ(Ifc_SetRead("Tot", &v, 1), -1);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(Ifc_SetWrite("Zz", 1, 1), -1);
  EXPECT_EQ(read_file(kFile), img);
  // Replies still come out, showing 0 for what they cannot read.
  EXPECT_EQ(get(IFC_get_Tot_Twt_1), "to:0 tw:0 ");
  EXPECT_EQ(get(IFC_get_stat), "color:0 mode:0 totw_sw:0 ");
  EXPECT_EQ(get(IFC_get_hst_select), "0 ? 0 ?");
}

// Stands in for the set file: while one lives, every load of it gets its own
// image, load k seeing k in every value slot, so a reply shows which load
// each of its values came from, and how many loads it made. The test is
// linked with -Wl,--wrap=read, and the server reads only regular files.
class ImagePerLoad {
 public:
  explicit ImagePerLoad(const char *path) : path_(path) {
    write_file(path, default_image());
    active_ = this;
  }
  ~ImagePerLoad() { Finish(); }
  // Stops serving; returns the number of loads served.
  int Finish() {
    active_ = nullptr;
    return served_;
  }

  // The read of a load, when one is active and fd is the set file.
  static bool Serves(int fd, void *buf, size_t n, ssize_t *got) {
    if (active_ == nullptr) return false;
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t len = readlink(link, target, sizeof target - 1);
    if (len < 0) return false;
    target[len] = '\0';
    const std::string_view name(target);
    if (!name.ends_with(std::string("/") + active_->path_)) return false;
    const std::string img = Image(++active_->served_);
    *got = static_cast<ssize_t>(std::min(n, img.size()));
    std::memcpy(buf, img.data(), static_cast<size_t>(*got));
    return true;
  }

 private:
  static std::string Image(std::int32_t k) {
    std::string img = default_image();
    for (int pos = kTot; pos <= kS4; ++pos)
      for (int slot = 1; slot <= 6; ++slot) set_slot(img, pos, slot, k);
    return img;
  }

  static inline ImagePerLoad *active_ = nullptr;
  const char *path_;
  int served_ = 0;
};

// A reply's values are read one after the other in the order they appear in
// it, each read loading the file again.
TEST_F(IfcNetTest, RepliesReadTheirValuesInReplyOrder) {
  std::string select;
  for (std::size_t i = 0; i < std::size(kSelect); ++i)
    select += std::string(kSelect[i].name) + ":" + std::to_string(i + 1) + " ";
  static const std::string counts = std::string("234 500 4.65 190 500") + kHistoCounts;
  const struct {
    const char *name;
    get_handler handler;
    int loads;
    std::string reply;
  } cases[] = {
      {"status", IFC_get_stat, 3, "color:1 mode:2 totw_sw:3 "},
      {"targets", IFC_get_Tot_Twt_4, 2, "to:1 tw:2 "},
      {"histogram selection", IFC_get_hst_select, 4, "1 tb2 3 tb4"},
      {"selection", IFC_get_select_item, 25, select},
      {"counts", IFC_get_hist_cntdatL, 2, counts},
  };
  for (const auto &c : cases) {
    ImagePerLoad fifo(kFile);
    std::string reply = get(c.handler);
    EXPECT_EQ(fifo.Finish(), c.loads) << c.name;
    EXPECT_EQ(reply, c.reply) << c.name;
  }
}

// ---------------------------------------------------------------------------
// Selection and status

TEST_F(IfcNetTest, SelectReplyWithDefaults) {
  std::string reply = get(IFC_get_select_item);
  EXPECT_EQ(reply,
            "pin:0 abs:0 main:0 tandem:0 stretch:0 sub1:0 sub2:0 sub3:0 sub4:0 sub5:0 "
            "sub6:0 sub7:0 sub8:0 sub9:0 sub10:0 sub11:0 sub12:0 sub13:0 sub14:0 "
            "sub15:0 sub16:0 sub17:0 sub18:0 sub19:0 sub20:0 ");
  EXPECT_EQ(reply.size(), 189u);
}

TEST_F(IfcNetTest, EveryItemHasItsOwnSlot) {
  std::string want = default_image();
  int value = 2;
  for (const auto &r : kSelect) {
    put(IFC_set_select_item, std::string(r.name) + ":" + std::to_string(value));
    set_slot(want, r.pos, r.slot, value);
    EXPECT_EQ(read_file(kFile), want) << r.name;
    ++value;
  }
  EXPECT_EQ(get(IFC_get_select_item), select_reply(want));
  put(IFC_set_select_item, "all:7");
  EXPECT_EQ(read_file(kFile), default_image());
}

TEST_F(IfcNetTest, SelectTexts) {
  static const struct {
    const char *name;
    const char *before;  // applied first, may be null
    const char *text;
    std::vector<change> changes;  // against the defaults
  } cases[] = {
      {"pin:1", nullptr, "pin:1", {{kV, 2, 1}}},
      {"sub7", nullptr, "sub7:1", {{kS2, 1, 1}}},
      {"sub19", nullptr, "sub19:1", {{kS4, 1, 1}}},
      {"sub20", nullptr, "sub20:1", {{kS4, 2, 1}}},
      {"value beyond range", nullptr, "pin:5", {{kV, 2, 5}}},
      {"negative", nullptr, "pin:-1", {{kV, 2, -1}}},
      {"only the first item", nullptr, "pin:1 abs:1", {{kV, 2, 1}}},
      {"blanks around", nullptr, "  sub3 :\t 4  ", {{kS1, 3, 4}}},
      {"int32 max", nullptr, "main:2147483647", {{kV, 4, 2147483647}}},
      {"int32 min", nullptr, "main:-2147483648", {{kV, 4, INT32_MIN}}},
      {"all:1 resets", "sub12:1", "all:1", {}},
      {"all: without number", "pin:1", "all:", {}},
      {"upper case", nullptr, "PIN:1", {}},
      {"longer word", nullptr, "pins:1", {}},
      {"shorter word", nullptr, "pi:1", {}},
      {"no colon", nullptr, "pin 1", {}},
      {"no number keeps value", "pin:3", "pin:", {{kV, 2, 3}}},
      {"letters keep value", "pin:3", "pin:x", {{kV, 2, 3}}},
      {"beyond 32 bits keeps value", "pin:3", "pin:2147483648", {{kV, 2, 3}}},
      {"far beyond 32 bits", "pin:3", "pin:-99999999999999999999999", {{kV, 2, 3}}},
      {"word one longer than stretch", nullptr, "stretchX:1", {}},
      {"stretch itself", nullptr, "stretch:1", {{kV, 6, 1}}},
      {"stretch and a digit", nullptr, "stretch1:5", {}},
      {"sub2 and a digit", nullptr, "sub200:1", {}},
      {"very long word", nullptr, "subsubsubsubsubsubsubsubsubsubsubsub1:1", {}},
      // The word is read at most 8 wide; what follows is then read as the number.
      {"digits past the word width", nullptr, "stretch12:1", {}},
      {"all and digits past the width", "pin:3", "all123456:1", {{kV, 2, 3}}},
      {"empty", nullptr, "", {}},
      {"colon only", nullptr, ":", {}},
  };
  for (const auto &c : cases) {
    unlink(kFile);
    if (c.before) put(IFC_set_select_item, c.before);
    put(IFC_set_select_item, c.text);
    std::string want = default_image();
    for (const change &ch : c.changes) set_slot(want, ch.pos, ch.slot, ch.value);
    EXPECT_EQ(get(IFC_get_select_item), select_reply(want)) << c.name;
    EXPECT_EQ(read_file(kFile), want) << c.name;
  }
}

TEST_F(IfcNetTest, StatusReplyAndTexts) {
  EXPECT_EQ(get(IFC_get_stat), "color:1 mode:0 totw_sw:0 ");
  static const struct {
    const char *name;
    const char *text;
    std::vector<change> changes;
    const char *reply;
  } cases[] = {
      {"all three",
       "color:3 mode:1 totw_sw:1",
       {{kStat1, 1, 3}, {kStat1, 2, 1}, {kStat1, 3, 1}},
       "color:3 mode:1 totw_sw:1 "},
      {"two colons", "color:3 mode:1", {}, "color:1 mode:0 totw_sw:0 "},
      {"out of declared range",
       "color:9 mode:0 totw_sw:0",
       {{kStat1, 1, 9}},
       "color:9 mode:0 totw_sw:0 "},
      {"negative",
       "color:-2 mode:-3 totw_sw:-4",
       {{kStat1, 1, -2}, {kStat1, 2, -3}, {kStat1, 3, -4}},
       "color:-2 mode:-3 totw_sw:-4 "},
      {"keys in another order",
       "mode:1 color:2 totw_sw:3",
       {},
       "color:1 mode:0 totw_sw:0 "},
      {"unreadable mode keeps it and the rest",
       "color:4 mode:x totw_sw:1",
       {{kStat1, 1, 4}},
       "color:4 mode:0 totw_sw:0 "},
      {"number beyond 32 bits keeps that one",
       "color:99999999999 mode:2 totw_sw:3",
       {{kStat1, 2, 2}, {kStat1, 3, 3}},
       "color:1 mode:2 totw_sw:3 "},
      {"extra colons",
       "color:5 mode:6 totw_sw:7:8",
       {{kStat1, 1, 5}, {kStat1, 2, 6}, {kStat1, 3, 7}},
       "color:5 mode:6 totw_sw:7 "},
  };
  for (const auto &c : cases) {
    unlink(kFile);
    put(IFC_set_stat, c.text);
    std::string want = default_image();
    for (const change &ch : c.changes) set_slot(want, ch.pos, ch.slot, ch.value);
    EXPECT_EQ(get(IFC_get_stat), c.reply) << c.name;
    EXPECT_EQ(read_file(kFile), want) << c.name;
  }
}

// ---------------------------------------------------------------------------
// Target timings

TEST_F(IfcNetTest, TargetTexts) {
  static const struct {
    const char *name;
    const char *text;
    std::int32_t to, tw;  // stored for colour 2 afterwards
  } cases[] = {
      {"both", "to:95 tw:250", 95, 250},
      {"one colon", "to:95", 90, 240},
      {"outside declared ranges", "to:300 tw:10", 300, 10},
      {"negative and zero", "to:-5 tw:0", -5, 0},
      {"letters", "to:x tw:y", 90, 240},
      {"keys swapped", "tw:250 to:95", 90, 240},
      {"tw missing keeps tw", "to:95 tw:", 95, 240},
      {"tw beyond 32 bits keeps tw", "to:95 tw:4294967296", 95, 240},
      {"to beyond 32 bits keeps to", "to:-2147483649 tw:250", 90, 250},
      {"no blank needed", "to:1tw:2", 1, 2},
  };
  for (const auto &c : cases) {
    unlink(kFile);
    put(IFC_set_to_tw_2, c.text);
    std::string want = default_image();
    set_slot(want, kTot, 2, c.to);
    set_slot(want, kTwt, 2, c.tw);
    std::string reply = get(IFC_get_Tot_Twt_2);
    EXPECT_EQ(reply, "to:" + std::to_string(c.to) + " tw:" + std::to_string(c.tw) + " ")
        << c.name;
    EXPECT_EQ(read_file(kFile), want) << c.name;
  }
}

// ---------------------------------------------------------------------------
// Simulated measurements

// TBW of colours 3..6 are the first four draws after seeding with the time,
// in colour order.
TEST_F(IfcNetTest, DrawnTbwFollowTheSeededSequence) {
  const get_handler ave[] = {IFC_get_histo_ave_3, IFC_get_histo_ave_4,
                             IFC_get_histo_ave_5, IFC_get_histo_ave_6};
  const std::string head = "to:92 tb1:0 tb2:0 tb3:0 tb4:0 tb5:0 tb6:0 tb7:0 tb8:0 tbw:";
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::time_t t0 = std::time(nullptr);
    std::string replies[4];
    for (int i = 0; i < 4; ++i) replies[i] = get(ave[i]);
    if (std::time(nullptr) != t0) continue;  // a second boundary fell in between
    std::srand(static_cast<unsigned>(t0));
    for (int i = 0; i < 4; ++i) {
      int n = std::rand() % 360;
      EXPECT_EQ(replies[i], head + std::to_string(n) + " tw:242 ") << "colour " << i + 3;
    }
    return;
  }
  FAIL() << "no two readings within one second";
}

// ---------------------------------------------------------------------------
// Histograms

TEST_F(IfcNetTest, HistogramSelectionTexts) {
  EXPECT_EQ(get(IFC_get_hst_select), "1 tw 2 tw");
  static const struct {
    const char *name;
    const char *text;
    std::vector<change> changes;
    const char *reply;
  } cases[] = {
      {"left", "LEFT 3 tb2", {{kStat2, 2, 3}, {kStat2, 1, 2}}, "3 tb2 2 tw"},
      {"lower case is right",
       "left 3 tb2",
       {{kStat2, 4, 3}, {kStat2, 3, 2}},
       "1 tw 3 tb2"},
      {"colour 7 not written", "LEFT 7 tb2", {{kStat2, 1, 2}}, "1 tb2 2 tw"},
      {"colour 0 not written", "RIGHT 0 to", {{kStat2, 3, 0}}, "1 tw 2 to"},
      {"unknown item", "LEFT 3 TB2", {{kStat2, 2, 3}}, "3 tw 2 tw"},
      {"last item", "R 6 tw_tbw", {{kStat2, 4, 6}, {kStat2, 3, 11}}, "1 tw 6 tw_tbw"},
      {"15 bytes", "LEFT 6 tw_tbw  ", {{kStat2, 2, 6}, {kStat2, 1, 11}}, "6 tw_tbw 2 tw"},
      {"16 bytes", "LEFT 6 tw_tbw   ", {}, "1 tw 2 tw"},
      {"no colour, no item", "LEFT x tb2", {}, "1 tw 2 tw"},
      {"side only", "LEFT", {}, "1 tw 2 tw"},
      {"empty", "", {}, "1 tw 2 tw"},
  };
  for (const auto &c : cases) {
    unlink(kFile);
    put(IFC_hst_select_item, c.text);
    std::string want = default_image();
    for (const change &ch : c.changes) set_slot(want, ch.pos, ch.slot, ch.value);
    EXPECT_EQ(get(IFC_get_hst_select), c.reply) << c.name;
    EXPECT_EQ(read_file(kFile), want) << c.name;
  }
}

TEST_F(IfcNetTest, StoredItemOutsideTheListShowsAsQuestionMark) {
  static const struct {
    const char *name;
    std::int32_t left, right;
    const char *reply;
  } cases[] = {
      {"12 and -1", 12, -1, "1 ? 2 ?"},
      {"0 and 11", 0, 11, "1 to 2 tw_tbw"},
      {"huge", INT32_MAX, INT32_MIN, "1 ? 2 ?"},
  };
  for (const auto &c : cases) {
    std::string img = default_image();
    set_slot(img, kStat2, 1, c.left);
    set_slot(img, kStat2, 3, c.right);
    write_file(kFile, img);
    EXPECT_EQ(get(IFC_get_hst_select), c.reply) << c.name;
  }
}

TEST_F(IfcNetTest, ClearPrintsForKnownItemsOnly) {
  static const struct {
    const char *name;
    const char *text;
    const char *printed;
  } cases[] = {
      {"last item", "2 tw_tbw", "clear_histo: color=2, item_no=11\n"},
      {"colour passed unchanged", "9 tw", "clear_histo: color=9, item_no=10\n"},
      {"negative colour", "-3 to", "clear_histo: color=-3, item_no=0\n"},
      {"10 bytes", "12345 tb8 ", "clear_histo: color=12345, item_no=8\n"},
      {"unknown item", "2 xx", ""},
      {"11 bytes", "2 tw       ", ""},
      {"no colour", "tw", ""},
      {"no item", "2", ""},
      {"empty", "", ""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(capture_put(IFC_hst_clear, c.text), c.printed) << c.name;
  EXPECT_FALSE(file_exists(kFile)) << "clear stores nothing";
}

TEST_F(IfcNetTest, SetPrintsItsSevenNumbers) {
  static const struct {
    const char *name;
    const char *text;
    const char *printed;
  } cases[] = {
      {"full", "1 tw 10 2 tbw 10 500",
       "set_histo(L c=1, i=10, t=10, R c=2, i=9, t=10, samp=500)\n"},
      {"unknown left item", "1 xx 10 2 tbw 10 500",
       "set_histo(L c=1, i=0, t=10, R c=2, i=9, t=10, samp=500)\n"},
      {"no range applied", "-7 tw_tbw -1 99 to 0 -500",
       "set_histo(L c=-7, i=11, t=-1, R c=99, i=0, t=0, samp=-500)\n"},
      {"missing numbers are 0", "1 tw",
       "set_histo(L c=1, i=10, t=0, R c=0, i=0, t=0, samp=0)\n"},
      {"empty", "", "set_histo(L c=0, i=0, t=0, R c=0, i=0, t=0, samp=0)\n"},
      {"number beyond 32 bits is 0", "99999999999 tw 1 2 tw 1 1",
       "set_histo(L c=0, i=10, t=1, R c=2, i=10, t=1, samp=1)\n"},
      {"32 bytes", "1 tw 10 2 tbw 10 500            ",
       "set_histo(L c=1, i=10, t=10, R c=2, i=9, t=10, samp=500)\n"},
      {"33 bytes", "1 tw 10 2 tbw 10 500             ", ""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(capture_put(IFC_hst_set, c.text), c.printed) << c.name;
  EXPECT_FALSE(file_exists(kFile)) << "set stores nothing";
}

// ---------------------------------------------------------------------------
// Hostile input: the largest payload the server accepts, in the buffer size
// the server has (one byte behind it for the NUL).

TEST_F(IfcNetTest, LargestDataPartsChangeNothing) {
  const std::string stored = [] {
    std::string img = default_image();
    set_slot(img, kV, 2, 1);
    return img;
  }();
  const put_handler handlers[] = {
      IFC_set_select_item, IFC_set_stat,  IFC_set_to_tw_1, IFC_set_to_tw_6,
      IFC_hst_select_item, IFC_hst_clear, IFC_hst_set};
  static const struct {
    const char *name;
    char fill;
    const char *tail;
  } cases[] = {
      {"one long word then colon", 'a', ":1"},
      {"colons everywhere", ':', ""},
      {"digits", '9', ":9:9:9"},
      {"blanks", ' ', "pinx:1"},
  };
  for (const auto &c : cases) {
    for (put_handler h : handlers) {
      write_file(kFile, stored);
      std::string text(kMaxPayload - std::strlen(c.tail), c.fill);
      text += c.tail;
      std::string printed = capture_put(h, text);
      EXPECT_EQ(printed, "") << c.name;
      EXPECT_EQ(read_file(kFile), stored) << c.name;
    }
  }
}

}  // namespace

extern "C" ssize_t __wrap_read(int fd, void *buf, size_t n) {
  ssize_t got = 0;
  return ImagePerLoad::Serves(fd, buf, n, &got) ? got : __real_read(fd, buf, n);
}
