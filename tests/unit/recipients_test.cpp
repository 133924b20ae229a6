#include "intake/recipients.h"

#include <gtest/gtest.h>

namespace intake {
namespace {

TEST(Recipients, InAngleBracketsKeepsTextThatBeginsWithOne) {
  EXPECT_EQ(in_angle_brackets(""), "<>");
  EXPECT_EQ(in_angle_brackets("a b"), "<a b>");
  EXPECT_EQ(in_angle_brackets("<a"), "<a");
  EXPECT_EQ(in_angle_brackets("a>"), "<a>>");
  EXPECT_EQ(in_angle_brackets(" <a>"), "< <a>>");
}

TEST(Recipients, JoinedWithCommasAndNoBlank) {
  EXPECT_EQ(join_recipients({}), "");
  EXPECT_EQ(join_recipients({{"<a>"}}), "<a>");
  EXPECT_EQ(join_recipients({{"<a>", "<b c>", "<>"}}), "<a>,<b c>,<>");
}

TEST(Recipients, ListHolds30001EntriesAndRefusesTheNext) {
  RecipientList list;
  for (std::size_t i = 0; i < 30000; ++i) ASSERT_TRUE(add_recipient(list, "<r>"));
  EXPECT_TRUE(add_recipient(list, "<last>"));
  EXPECT_FALSE(add_recipient(list, "<dropped>"));
  EXPECT_FALSE(add_recipient(list, "<dropped>"));
  ASSERT_EQ(list.entries.size(), 30001u);
  EXPECT_EQ(list.entries.back(), "<last>");
}

} // namespace
} // namespace intake
