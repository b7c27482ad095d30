#include <gtest/gtest.h>

#include "support/TextHelpers.h"

namespace {

struct SplitCase {
  AnsiString input;
  arStr pieces;
};

TEST(TextHelpers, SplitStringKeepsInnerAndLeadingEmptyPieces) {
  const SplitCase cases[] = {
      {"a=b", {"a", "b"}}, {"a=", {"a"}},      {"a==b", {"a", "", "b"}},
      {"=b", {"", "b"}},   {"", {""}},         {"abc", {"abc"}},
      {"==", {"", ""}},    {"a=b=c", {"a", "b", "c"}},
  };
  for (const SplitCase& c : cases) {
    AnsiString input = c.input;
    arStr result = {"stale"};
    SplitString(input, '=', result);
    EXPECT_EQ(result, c.pieces) << "input: " << c.input;
    EXPECT_EQ(input, c.input);
  }
}

TEST(TextHelpers, StreamToStringCopiesAllBytesWhateverThePosition) {
  TMemoryStream stream;
  AnsiString s = "x";
  StreamToString(stream, s);
  EXPECT_EQ(s, "");
  stream.Write("a\0b\0", 4);
  stream.SetPosition(2);
  StreamToString(stream, s);
  EXPECT_EQ(s, AnsiString("a\0b\0", 4));
  EXPECT_EQ(stream.Position(), 2);
}

TEST(TextHelpers, Base64EncodePadsShortGroupsWithZeroBits) {
  const std::pair<AnsiString, AnsiString> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"user:pass", "dXNlcjpwYXNz"}, {AnsiString("\0\xff", 2), "AP8="},
      {"\xfb\xff", "+/8="},
  };
  for (const auto& [input, expected] : cases) {
    AnsiString out = "stale";
    Base64Encode(input, out);
    EXPECT_EQ(out, expected) << testing::PrintToString(input);
  }
}

struct Utf8Case {
  AnsiString utf8;
  WideString wide;
};

TEST(TextHelpers, Utf8ToWideDecodesByItsOwnRules) {
  const Utf8Case cases[] = {
      {"", u""},
      {"abc", u"abc"},
      {"\xE4\xB8\xAD", u"\u4E2D"},
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {AnsiString("a\0b", 3), WideString(u"a\0b", 3)},   // a zero byte stays
      {"\xC0\x80", WideString(1, u'\0')},                // over-long forms are accepted
      {"\x80\x81", u"\u0001"},                           // 0x80-0x9F lead a two-byte sequence
      {"\xA0\x80\x80", WideString(1, u'\0')},                     // 0xA0-0xBF lead a three-byte one
      {"\xF0\x9F\x98\x80", u""},                         // 4-byte: fourth byte lacks a lead
      {"\xF0\x9F\x98\x80x", u""},
      {"\xE9t", u""},                                    // stray Latin-1 letter
      {"ab\xE4\xB8", u""},                               // cut inside a sequence
      {"\xC3", u""},
  };
  for (const Utf8Case& c : cases) {
    WideString out = u"stale";
    Utf8ToWide(c.utf8, out);
    EXPECT_EQ(out, c.wide) << testing::PrintToString(c.utf8);
  }
}

TEST(TextHelpers, WideToUtf8EncodesEachCodeUnitAlone) {
  const Utf8Case cases[] = {
      {"", u""},
      {"A", u"A"},
      {"\xC2\x80", u"\u0080"},
      {"\xDF\xBF", u"\u07FF"},
      {"\xE0\xA0\x80", u"\u0800"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600"},  // a surrogate pair: six bytes
  };
  for (const Utf8Case& c : cases) {
    AnsiString out = "stale";
    WideToUtf8(c.wide, out);
    EXPECT_EQ(out, c.utf8);
  }
}

TEST(TextHelpers, SurrogatePairRoundTrips) {
  const WideString pair = u"x\U0001F600y";
  const AnsiString bytes = WideToUtf8(pair);
  EXPECT_EQ(bytes.size(), 8u);
  EXPECT_EQ(Utf8ToWide(bytes), pair);
}

}  // namespace

#include "support/ProgramTitle.h"

namespace {

TEST(ProgramTitle, FileNameBeforeTheFirstDotWithTheRestLowerCased) {
  const std::pair<AnsiString, AnsiString> cases[] = {
      {"C:\\App\\TakTak.exe", "Taktak"},
      {"C:\\App\\UPDATE.EXE", "Update"},
      {"/opt/app/Update", "Update"},
      {"C:\\a.b\\my.tool.exe", "my"},
      {"x.exe", "x"},
      {"", ""},
  };
  for (const auto& [path, title] : cases) EXPECT_EQ(ProgramTitleOf(path), title) << path;
}

}  // namespace
