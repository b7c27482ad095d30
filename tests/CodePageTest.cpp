#include <gtest/gtest.h>

#include "os/CodePage.h"

namespace {

TEST(CodePage, ConvertsCodePage936BothWays) {
  EXPECT_EQ(os::AnsiToWide("\xD6\xD0\xCE\xC4 ok"), u"\u4E2D\u6587 ok");
  EXPECT_EQ(os::WideToAnsi(u"\u4E2D\u6587 ok"), "\xD6\xD0\xCE\xC4 ok");
  EXPECT_EQ(os::WideToAnsi(u"\u5854\u514B\u5854\u5347\u7EA7"),
            "\xCB\xFE\xBF\xCB\xCB\xFE\xC9\xFD\xBC\xB6");
  EXPECT_EQ(os::AnsiToWide(""), u"");
  EXPECT_EQ(os::WideToAnsi(u""), "");
  // ASCII, zeros and the last ASCII code included, passes unchanged; 0x80 is the euro sign.
  EXPECT_EQ(os::AnsiToWide(std::string("a\0\x7F", 3)), std::u16string(u"a\0\x7F", 3));
  EXPECT_EQ(os::WideToAnsi(std::u16string(u"a\0\x7F", 3)), std::string("a\0\x7F", 3));
  EXPECT_EQ(os::AnsiToWide("\x80"), u"\u20AC");
}

TEST(CodePage, CharactersTheCodePageLacksBecomeQuestionMarks) {
  EXPECT_EQ(os::WideToAnsi(u"a\u0928b"), "a?b");
  EXPECT_EQ(os::WideToAnsi(u"a\U0001F600b").front(), 'a');
  EXPECT_EQ(os::WideToAnsi(u"a\U0001F600b").back(), 'b');
}

TEST(CodePage, UpperCasingLeavesDoubleByteCharactersAlone) {
  EXPECT_EQ(os::AnsiUpperCase("Version [x]"), "VERSION [X]");
  // 0x81 0x61 is one double-byte character whose trail byte looks like "a".
  EXPECT_EQ(os::AnsiUpperCase("a\x81\x61z"), "A\x81\x61Z");
}

TEST(CodePage, WideLowerCasing) {
  EXPECT_EQ(os::WideLowerCase(u"HTTP://X/A.ASPX?Q"), u"http://x/a.aspx?q");
  EXPECT_EQ(os::WideLowerCase(u"\u00C9\u4E2D"), u"\u00E9\u4E2D");
}

}  // namespace
