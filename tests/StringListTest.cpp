#include <gtest/gtest.h>

#include "support/StringList.h"

namespace {

struct SplitCase {
  AnsiString text;
  std::vector<AnsiString> lines;
};

TEST(StringList, SetTextSplitsAtEveryLineBreakKindAndStopsAtZero) {
  const SplitCase cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"\n\r", {"", ""}},
      {AnsiString("ab\0cd\r\nef", 9), {"ab"}},
      {AnsiString("\0x", 2), {}},
  };
  for (const SplitCase& c : cases) {
    TStringList list;
    list.Add("old");
    list.SetText(c.text);
    EXPECT_EQ(list.Lines(), c.lines) << "text: " << testing::PrintToString(c.text);
  }
}

TEST(StringList, TextEndsEveryLineWithCrLf) {
  TStringList list;
  EXPECT_EQ(list.Text(), "");
  list.Add("a");
  list.Add("");
  list.Add("b c");
  EXPECT_EQ(list.Text(), "a\r\n\r\nb c\r\n");
  list.SetText(list.Text());
  EXPECT_EQ(list.Count(), 3u);
}

TEST(StringList, EditsKeepOrder) {
  TStringList list;
  list.Add("b");
  list.Insert(0, "a");
  list.Add("c");
  list.Put(2, "z");
  list.Delete(1);
  EXPECT_EQ(list.Lines(), (std::vector<AnsiString>{"a", "z"}));
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
