// ifcctl's readers are a layer over the support library's (their forms are
// tested in tests/lib/lib_reply_test.cpp): what the layer gives back.
#include "ifcctl/replies.hpp"

#include <gtest/gtest.h>

#include "ifcctl/canned_replies.hpp"

namespace {

TEST(IfcctlReplies, PiecesOfAReply) {
  auto p = ifcctl::parse_pieces(ifcctl_test::default_on_off_reply());
  ASSERT_TRUE(p);
  ASSERT_EQ(p->size(), 46u);
  EXPECT_EQ((*p)[0].key, "ATC_TO_DELAY");
  EXPECT_EQ((*p)[45].key, "sub18_off");
  EXPECT_EQ(ifcctl::find_piece(*p, "main_on"), 90);
  EXPECT_FALSE(ifcctl::find_piece(*p, "main"));
  EXPECT_EQ(ifcctl::find_piece(*ifcctl::parse_pieces("a:1 a:2 "), "a"), 1);
  // A reply of nothing but four-byte pieces fills all the room there is.
  EXPECT_EQ(ifcctl::parse_pieces("a:1 b:2 c:3 ")->size(), 3u);
  EXPECT_FALSE(ifcctl::parse_pieces("to:90 tw "));
  EXPECT_FALSE(ifcctl::parse_pieces(""));
}

TEST(IfcctlReplies, HistogramSelection) {
  auto got = ifcctl::parse_hst_select("3 tb2 2 tw");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->first.colour, 3);
  EXPECT_EQ(got->first.item, "tb2");
  EXPECT_EQ(got->second.colour, 2);
  EXPECT_EQ(got->second.item, "tw");
  EXPECT_FALSE(ifcctl::parse_hst_select("1 tw 2"));
}

TEST(IfcctlReplies, HistogramReplyOfTheSimulatedSource) {
  std::string reply = ifcctl_test::histogram_reply(true);
  ASSERT_EQ(reply.size(), 144u);
  auto h = ifcctl::parse_histogram(reply);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->n1, 234);
  EXPECT_EQ(h->n2, 500);
  EXPECT_DOUBLE_EQ(h->decimal, 4.65);
  EXPECT_EQ(h->n3, 190);
  EXPECT_EQ(h->n4, 500);
  ASSERT_EQ(h->bins.size(), 46u);
  EXPECT_EQ(h->bins[13], 0);
  EXPECT_EQ(h->bins[14], 10);
  EXPECT_EQ(h->bins[23], 300);
  EXPECT_EQ(h->bins[32], 10);
  EXPECT_EQ(h->bins[45], 0);
  EXPECT_FALSE(ifcctl::parse_histogram("234 500 4.65 190 500"));
}

}  // namespace
