// The Linux library's own URL splitting, where it goes beyond what the component asks of it:
// parts handed back as pointers into the URL, a length argument, IPv6 hosts, credentials, and
// the buffer rule. (On Windows the splitting is wininet's.)
#include <gtest/gtest.h>

#include <string>

#include "os/CodePage.h"
#include "os/Internet.h"

#ifndef _WIN32
namespace {

struct Split {
  bool ok;
  std::uint32_t error;
  std::string scheme, host, user, password, path, extra;
  int port;
};

Split Failed(std::uint32_t error) { return {false, error, "", "", "", "", "", "", 0}; }

std::string Text(const char16_t* p, std::uint32_t n) {
  return p == nullptr ? "" : os::WideToAnsi(std::u16string(p, n));
}

// Splits with a buffer of `capacity` characters for every part.
Split Crack(const std::u16string& url, std::uint32_t capacity, std::uint32_t length = 0) {
  os::InternetLibrary& net = os::DefaultInternet();
  std::u16string buffers[6];
  for (auto& b : buffers) b.assign(capacity, u'\0');
  os::URL_COMPONENTSW c;
  char16_t** members[] = {&c.lpszScheme,   &c.lpszHostName, &c.lpszUserName,
                          &c.lpszPassword, &c.lpszUrlPath,  &c.lpszExtraInfo};
  std::uint32_t* lengths[] = {&c.dwSchemeLength,   &c.dwHostNameLength, &c.dwUserNameLength,
                              &c.dwPasswordLength, &c.dwUrlPathLength,  &c.dwExtraInfoLength};
  for (int i = 0; i < 6; ++i) {
    *members[i] = buffers[i].data();
    *lengths[i] = capacity;
  }
  const bool ok = net.InternetCrackUrlW(url.c_str(), length, os::ICU_ESCAPE, &c);
  if (!ok) return Failed(net.GetLastError());
  return {true,
          0,
          Text(c.lpszScheme, c.dwSchemeLength),
          Text(c.lpszHostName, c.dwHostNameLength),
          Text(c.lpszUserName, c.dwUserNameLength),
          Text(c.lpszPassword, c.dwPasswordLength),
          Text(c.lpszUrlPath, c.dwUrlPathLength),
          Text(c.lpszExtraInfo, c.dwExtraInfoLength),
          c.nPort};
}

TEST(InternetCrackUrlW, SplitsWithWinInetRules) {
  struct Case {
    std::u16string url;
    std::uint32_t capacity;
    Split expected;
  };
  const Case cases[] = {
      {u"http://[::1]:8080/a?b", 64, {true, 0, "http", "[::1]", "", "", "/a", "?b", 8080}},
      {u"HTTPS://u%41:p%3A@h/x", 64, {true, 0, "HTTPS", "h", "uA", "p:", "/x", "", 443}},
      {u"http://h:/x#f", 64, {true, 0, "http", "h", "", "", "/x", "#f", 80}},
      {u"http://h?q=1/2", 64, {true, 0, "http", "h", "", "", "", "?q=1/2", 80}},
      {u"http://host/abc", 4, Failed(122)},
      {u"http://host/abc", 5, {true, 0, "http", "host", "", "", "/abc", "", 80}},
      {u"http://h:65536/", 64, Failed(12005)},
      {u"http://[::1/", 64, Failed(12005)},
      {u"http:h/a", 64, Failed(12005)},
      {u"ftp://h/a", 64, Failed(12006)},
      {u"h/a", 64, Failed(12006)},
      {u"", 64, Failed(87)},
  };
  for (const Case& c : cases) {
    const Split s = Crack(c.url, c.capacity);
    const std::string name = os::WideToAnsi(c.url) + " capacity " + std::to_string(c.capacity);
    ASSERT_EQ(s.ok, c.expected.ok) << name;
    EXPECT_EQ(s.error, c.expected.error) << name;
    EXPECT_EQ(s.scheme, c.expected.scheme) << name;
    EXPECT_EQ(s.host, c.expected.host) << name;
    EXPECT_EQ(s.user, c.expected.user) << name;
    EXPECT_EQ(s.password, c.expected.password) << name;
    EXPECT_EQ(s.path, c.expected.path) << name;
    EXPECT_EQ(s.extra, c.expected.extra) << name;
    EXPECT_EQ(s.port, c.expected.port) << name;
  }
}

TEST(InternetCrackUrlW, LengthArgumentLimitsTheUrl) {
  const Split s = Crack(u"http://h/abc?tail", 64, 12);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.path, "/abc");
  EXPECT_EQ(s.extra, "");
}

TEST(InternetCrackUrlW, PartsWithoutBufferPointIntoTheUrl) {
  const std::u16string url = u"http://h:81/p%41th?x";
  os::URL_COMPONENTSW c;
  c.dwHostNameLength = 1;
  c.dwUrlPathLength = 1;
  ASSERT_TRUE(os::DefaultInternet().InternetCrackUrlW(url.c_str(), 0, 0, &c));
  EXPECT_EQ(c.lpszHostName, url.c_str() + 7);
  EXPECT_EQ(c.dwHostNameLength, 1u);
  EXPECT_EQ(c.lpszUrlPath, url.c_str() + 11);
  EXPECT_EQ(c.dwUrlPathLength, 7u);
  EXPECT_EQ(c.lpszExtraInfo, nullptr);
  EXPECT_EQ(c.nPort, 81);
}

}  // namespace
#endif
