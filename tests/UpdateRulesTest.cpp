#include <gtest/gtest.h>

#include "app/UpdateRules.h"

namespace {

struct TakeCase {
  AnsiString buffer;
  AnsiString token;
  AnsiString rest;
};

TEST(TakeBetween, TakesTokensFromTheFrontByExactTags) {
  const TakeCase cases[] = {
      {"", "", ""},
      {"no tags here", "", "no tags here"},
      {"x<b>1.0</b>y", "1.0", "y"},
      {"<b></b><b>a</b>", "", "<b>a</b>"},
      {"<B>1.0</B><b>2</b>", "2", ""},                 // upper-case tags are text
      {"<b>a<b>b</b>c", "a<b>b", "c"},                 // no nesting
      {"<b>line1\r\nline2</b>", "line1\r\nline2", ""}, // a token may span lines
      {"<b>open only", "", "<b>open only"},
      {"</b><b>x</b>", "x", ""},
  };
  for (const TakeCase& c : cases) {
    AnsiString buffer = c.buffer;
    AnsiString token = "stale";
    TakeBetween(buffer, "<b>", "</b>", token);
    EXPECT_EQ(token, c.token) << c.buffer;
    EXPECT_EQ(buffer, c.rest) << c.buffer;
  }
}

TEST(CheckServerFileName, AcceptsPlainRelativeNames) {
  for (const char* name : {"TakTak.exe", "index.html", "css\\site.css", "img/logo.png",
                           "\xD6\xD0\xCE\xC4.txt", "a b.txt", "v1.2.3.js", "\x81\x7C.txt",
                           "console.txt", "com10", "lpt", "nul_x.txt", "xcon", "x\\auxiliary"}) {
    EXPECT_NO_THROW(CheckServerFileName(name)) << name;
  }
}

TEST(CheckServerFileName, RefusesNamesThatLeaveTheDirectoryOrAreNotFileNames) {
  for (const char* name :
       {"", "\\Windows\\evil.dll", "/etc/passwd", "C:\\x.exe", "c:x.exe", "\\\\host\\share\\x",
        "..\\TakTak.ini", "../x", "html\\..\\..\\x", "a/../../x", "a\\..", ".", "...",
        "x\\ . \\y", "a\\\\b", "dir\\", "index.html:stream", "a<b", "a>b", "a\"b", "a|b", "a?b",
        "a*b", "a\tb", "a\r\nb", "a\x01"}) {
    EXPECT_THROW(CheckServerFileName(name), EUpdateError) << testing::PrintToString(name);
  }
}

// Windows opens these as devices whatever the directory and extension: the body, or the
// temporary file written beside the target, would go to the device.
TEST(CheckServerFileName, RefusesDeviceNames) {
  for (const char* name : {"CON", "nul.txt", "Aux.tar.gz", "prn ", "con .js", "css\\com1",
                           "LPT9.html", "com0", "CONIN$", "conout$.txt", "lpt1\\x.js", "aux\\x"}) {
    EXPECT_THROW(CheckServerFileName(name), EUpdateError) << name;
  }
}

TEST(VersionOfToken, TrimsBlanksAndRefusesWhatCannotBeRecorded) {
  const std::pair<AnsiString, AnsiString> kept[] = {
      {"2.0", "2.0"}, {" 2.0\t", "2.0"}, {"\r\n2.0\r\n", "2.0"}, {"1.0 beta", "1.0 beta"}};
  for (const auto& [token, version] : kept) EXPECT_EQ(VersionOfToken(token), version) << token;
  for (const AnsiString& token :
       {AnsiString(), AnsiString(" \r\n\t"), AnsiString("1.\r\n0"), AnsiString("1\n2"),
        AnsiString("1\0"
                   "2",
                   3)}) {
    EXPECT_THROW(VersionOfToken(token), EUpdateError) << testing::PrintToString(token);
  }
}

TEST(CheckDelivery, OnlyCompleteSuccessfulResponsesPass) {
  struct Case {
    Delivery delivery;
    bool good;
  };
  const Case cases[] = {
      {{"HTTP/1.1 200 OK", false, "5", 5}, true},
      {{"HTTP/1.0 204 No Content", false, "", 0}, true},
      {{"HTTP/1.1 200 OK", false, "0", 0}, true},
      {{"HTTP/1.1 200 OK", false, "", 123}, true},
      {{"HTTP/1.1 200 OK", false, "10", 12}, true},
      {{"HTTP/1.1 200 OK", false, "10", 9}, false},
      {{"HTTP/1.1 404 Not Found", false, "9", 9}, false},
      {{"HTTP/1.1 500 Internal Server Error", false, "", 3}, false},
      {{"HTTP/1.1 301 Moved", false, "", 0}, false},
      {{"HTTP/1.1 200 OK", true, "", 0}, false},
      {{"", false, "", 0}, false},
      {{"garbage", false, "", 0}, false},
      {{"HTTP/1.1 200 OK", false, "", 3, false}, false},  // compressed, cut short
  };
  for (const Case& c : cases) {
    if (c.good) {
      EXPECT_NO_THROW(CheckDelivery(c.delivery, "x")) << c.delivery.statusLine;
    } else {
      EXPECT_THROW(CheckDelivery(c.delivery, "x"), EUpdateError)
          << c.delivery.statusLine << " " << c.delivery.contentLength << " "
          << c.delivery.bytesReceived;
    }
  }
}

}  // namespace
