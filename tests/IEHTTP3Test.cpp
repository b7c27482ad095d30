// The HTTP client component's state, properties, URL handling, header lookup, error texts and
// request composition. Requests here go to a scripted library: nothing touches the network.
#include <gtest/gtest.h>

#include <string>

#include "http/IEHTTP3.h"
#include "os/CodePage.h"
#include "support/Exceptions.h"
#include "tests/support/FakeInternet.h"

namespace {

std::string Narrow(const WideString& w) { return os::WideToAnsi(w); }

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

WideString Part(const char16_t* text, std::uint32_t length) {
  return text == nullptr ? WideString() : WideString(text, length);
}

TEST(TIEHTTP, NewComponentHasItsDefaults) {
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  EXPECT_EQ(Narrow(http.RequestMethod()), "GET");
  EXPECT_FALSE(http.MultipartPOST());
  EXPECT_EQ(http.Timeout(), 90);
  EXPECT_EQ(http.TimerIntervalSeconds(), 0);
  EXPECT_TRUE(http.BlockingMode());
  EXPECT_EQ(Narrow(http.UserAgent), "tiehttp");
  EXPECT_EQ(http.RequestHeaders->Text(), "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_EQ(http.ResponseLines->Count(), 0u);
  EXPECT_EQ(http.ResponseStream->Size(), 0);
  EXPECT_EQ(http.ResponseHeaders->Count(), 0u);
  EXPECT_EQ(http.ResponseCookies->Count(), 0u);
  EXPECT_EQ(http.BytesReceived, 0u);
  EXPECT_EQ(http.ContentLength, 0u);
  EXPECT_TRUE(http.ContentType().empty());
  EXPECT_TRUE(http.URL().empty());
  EXPECT_FALSE(http.Busy());
}

#ifndef _WIN32
// Wine's wininet has no process-wide receive time-out to query.
TEST(TIEHTTP, ConstructionLiftsTheDefaultReceiveTimeoutOnly) {
  struct Case {
    std::uint32_t before, after;
  };
  os::InternetLibrary& platform = os::DefaultInternet();
  for (const Case c : {Case{30000, 0}, Case{12345, 12345}, Case{0, 0}}) {
    ASSERT_TRUE(platform.InternetSetOptionW(nullptr, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &c.before,
                                            sizeof c.before));
    TIEHTTP http;
    std::uint32_t value = 1, size = sizeof value;
    ASSERT_TRUE(
        platform.InternetQueryOptionW(nullptr, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &value, &size));
    EXPECT_EQ(value, c.after) << "before " << c.before;
  }
}
#endif

TEST(TIEHTTP, RequestMethodIsUpperCasedOrRefused) {
  struct Case {
    const char16_t* value;
    const char* stored;
    const char* error;
  };
  const Case cases[] = {
      {u"post", "POST", ""},
      {u"Get", "GET", ""},
      {u"PUT", "POST", "Unsupported method. Allowed methods: GET, POST"},
      {u" GET", "POST", "Unsupported method. Allowed methods: GET, POST"},
      {u"", "POST", "Unsupported method. Allowed methods: GET, POST"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    TIEHTTP http(nullptr, net);
    http.SetRequestMethod(u"POST");
    const std::string error = MessageOf([&] { http.SetRequestMethod(c.value); });
    EXPECT_EQ(error, *c.error ? c.error : "(nothing raised)") << Narrow(c.value);
    EXPECT_EQ(Narrow(http.RequestMethod()), c.stored) << Narrow(c.value);
  }
}

TEST(TIEHTTP, MultipartSwitchesMethodAndContentType) {
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  http.SetMultipartPOST(true);
  EXPECT_EQ(Narrow(http.RequestMethod()), "POST");
  EXPECT_EQ(Narrow(http.ContentType()),
            "multipart/form-data; boundary=-----------------------------7cf87224d2020a");
  http.SetMultipartPOST(false);
  EXPECT_EQ(Narrow(http.RequestMethod()), "POST");
  EXPECT_EQ(Narrow(http.ContentType()), "application/x-www-form-urlencoded");
  http.SetRequestMethod(u"get");
  EXPECT_TRUE(http.ContentType().empty());
}

TEST(TIEHTTP, GuardedSettersRefuseWhileBusy) {
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK"};
  TIEHTTP http(nullptr, net);
  http.SetURL(u"http://127.0.0.1/a");
  http.SetTimerIntervalSeconds(1);
  struct Case {
    const char* name;
    std::function<void()> set;
    const char* error;
  };
  const char* kPrefixed = "tiehttp: Cannot change parameters while processing request";
  const Case cases[] = {
      {"getStr", [&] { http.SetgetStr(u"x=1"); }, kPrefixed},
      {"postStr", [&] { http.SetpostStr(u"x=1"); }, kPrefixed},
      {"MultipartPOST", [&] { http.SetMultipartPOST(true); }, kPrefixed},
      {"RequestMethod", [&] { http.SetRequestMethod(u"POST"); },
       "Cannot change parameters while processing request"},
      {"Timeout", [&] { http.SetTimeout(30); }, "(nothing raised)"},
      {"TimerIntervalSeconds", [&] { http.SetTimerIntervalSeconds(1); }, "(nothing raised)"},
      {"BlockingMode", [&] { http.SetBlockingMode(true); }, "(nothing raised)"},
  };
  int fired = 0;
  http.OnTimer = [&](TIEHTTP* sender) {
    ++fired;
    EXPECT_EQ(sender, &http);
    EXPECT_TRUE(http.Busy());
    for (const Case& c : cases) EXPECT_EQ(MessageOf(c.set), c.error) << c.name;
  };
  http.Execute();
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(Narrow(http.RequestMethod()), "GET");
  EXPECT_FALSE(http.MultipartPOST());
  EXPECT_TRUE(http.getStr().empty());
  EXPECT_EQ(http.Timeout(), 30);
  EXPECT_FALSE(http.Busy());
  EXPECT_NO_THROW(http.SetgetStr(u"x=1"));
}

TEST(TIEHTTP, UrlWithoutSchemeGetsHttpPrefix) {
  struct Case {
    const char16_t* url;
    const char* stored;
  };
  const Case cases[] = {
      {u"example.com/a.aspx", "http://example.com/a.aspx"},
      {u"example.com/a?next=http://other/", "example.com/a?next=http://other/"},
      {u"HTTPS://example.com/", "HTTPS://example.com/"},
      {u"http://example.com/", "http://example.com/"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    TIEHTTP http(nullptr, net);
    http.SetURL(c.url);
    EXPECT_EQ(Narrow(http.URL()), c.stored) << Narrow(c.url);
  }
}

TEST(TIEHTTP, EmptyUrlClearsTheSplitParts) {
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  http.SetURL(u"http://example.com:8080/a?b=1");
  ASSERT_EQ(http.UrlParts().nPort, 8080);
  http.SetURL(u"");
  EXPECT_EQ(http.UrlParts().nPort, 0);
  EXPECT_EQ(http.UrlParts().lpszHostName, nullptr);
  EXPECT_EQ(http.UrlParts().lpszUrlPath, nullptr);
  EXPECT_EQ(http.UrlParts().dwUrlPathLength, 0u);
}

TEST(TIEHTTP, UrlIsSplitIntoHostPortPathAndQuery) {
  struct Case {
    const char16_t* url;
    const char* host;
    int port;
    const char* path;
    const char* extra;
    const char* postData;
  };
  const Case cases[] = {
      {u"https://example.com/a", "example.com", 443, "/a", "", ""},
      {u"https://example.com:8443/a", "example.com", 8443, "/a", "", ""},
      {u"http://example.com/a", "example.com", 80, "/a", "", ""},
      {u"http://example.com:443/a", "example.com", 443, "/a", "", ""},
      {u"http://127.0.0.1:8086/4/Update/Update.aspx", "127.0.0.1", 8086, "/4/Update/Update.aspx",
       "", ""},
#ifndef _WIN32
      // Our own splitting decodes escapes; wine's wininet leaves them in place.
      {u"http://h/a%20b.aspx?x=1+2&y=%41", "h", 80, "/a b.aspx", "?x=1+2&y=A", "?x=1%2B2&y=A"},
      {u"http://h/a%zz%4", "h", 80, "/a%zz%4", "", ""},
#endif
      {u"http://h/a.aspx?x=1+2", "h", 80, "/a.aspx", "?x=1+2", "?x=1%2B2"},
      {u"http://h/p#frag", "h", 80, "/p", "#frag", "#frag"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    TIEHTTP http(nullptr, net);
    http.SetURL(c.url);
    const os::URL_COMPONENTSW& parts = http.UrlParts();
    const std::string name = Narrow(c.url);
    EXPECT_EQ(http.ErrorText(), u"") << name;
    EXPECT_EQ(Narrow(Part(parts.lpszHostName, parts.dwHostNameLength)), c.host) << name;
    EXPECT_EQ(parts.nPort, c.port) << name;
    EXPECT_EQ(Narrow(Part(parts.lpszUrlPath, parts.dwUrlPathLength)), c.path) << name;
    EXPECT_EQ(Narrow(Part(parts.lpszExtraInfo, parts.dwExtraInfoLength)), c.extra) << name;
    EXPECT_EQ(http.PostData(), c.postData) << name;
  }
}

TEST(TIEHTTP, UserNameIsPassedOnlyWhenSet) {
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  http.SetURL(u"http://inside:secret@h/a");
  EXPECT_EQ(http.UrlParts().lpszUserName, nullptr);
  http.UserName = u"me";
  http.Password = u"pw";
  http.SetURL(u"http://h/a");
  EXPECT_EQ(Narrow(Part(http.UrlParts().lpszUserName, http.UrlParts().dwUserNameLength)), "me");
  EXPECT_EQ(Narrow(Part(http.UrlParts().lpszPassword, http.UrlParts().dwPasswordLength)), "pw");
}

TEST(TIEHTTP, UrlSplitErrorsReachTheCaller) {
  struct Case {
    WideString url;
    std::string raisedPrefix;
  };
  const Case cases[] = {
      {u"http://example.com", "tiehttp error: tiehttp: Empty URL"},
      {u"http://" + WideString(2100, u'h') + u"/a",
       "tiehttp error: tiehttp: Invalid URL. Error - 122 = "},
#ifndef _WIN32
      // Wine's wininet splits a URL without a host or with a bad port without complaint.
      {u"http:///a", "tiehttp error: tiehttp: Invalid URL. Error - 12005 = "},
      {u"http://h:99999/a", "tiehttp error: tiehttp: Invalid URL. Error - 12005 = "},
      {u"gopher://h/a", "tiehttp error: tiehttp: Invalid URL. Error - 12006 = "},
#endif
  };
  for (const Case& c : cases) {
    FakeInternet net;
    TIEHTTP http(nullptr, net);
    http.ExecuteURL(u"http://127.0.0.1/ok");
    const std::string raised = MessageOf([&] { http.ExecuteURL(c.url); });
    EXPECT_EQ(raised.substr(0, c.raisedPrefix.size()), c.raisedPrefix) << Narrow(c.url);
    EXPECT_FALSE(http.Busy());
    // Nothing went out for the bad URL: the one request is the earlier good one.
    EXPECT_EQ(net.CallsOf(FakeInternet::Call::HttpSendRequest).size(), 1u) << Narrow(c.url);
  }
}

TEST(TIEHTTP, EmptyUrlRaisesAndLeavesTheComponentIdle) {
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  EXPECT_EQ(MessageOf([&] { http.Execute(); }), "TIEHTTP: no url in execute method");
  EXPECT_FALSE(http.Busy());
  EXPECT_TRUE(net.Calls().empty());
  net.response.headers = {"HTTP/1.1 200 OK"};
  net.response.body = {"ok"};
  http.ExecuteURL(u"http://127.0.0.1/a");
  EXPECT_EQ(http.ResponseLines->Text(), "ok\r\n");
}

TEST(TIEHTTP, ResponseHeaderLookup) {
  struct Case {
    const char16_t* name;
    int index;
    const char* value;
  };
  const Case cases[] = {
      {u"content-type", 1, "text/html"},
      {u"CONTENT-TYPE:", 1, "text/html"},
      {u"  Content-Type \t", 1, "text/html"},
      {u"X-Tight", -1, ""},
      {u"X", 3, " 5"},
      {u"", -1, ""},
      {u" : ", -1, ""},
      {u"Content", -1, ""},
  };
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  http.ResponseHeaders->SetText(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nX-Tight:1\r\nX:  5\r\n");
  for (const Case& c : cases) {
    EXPECT_EQ(http.IndexOfResponseHeader(c.name), c.index) << "'" << Narrow(c.name) << "'";
    EXPECT_EQ(Narrow(http.GetResponseHeader(c.name)), c.value) << "'" << Narrow(c.name) << "'";
  }
}

TEST(TIEHTTP, WinInetErrorTexts) {
  struct Case {
    std::int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {12029, "(Cannot connect)"},          {12001, "(Out of handles)"},
      {12159, "(TCP/IP not installed)"},    {12003, "(Unknown WININET error # 12003)"},
      {-7, "(Unknown WININET error # -7)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Narrow(TIEHTTP::WinInetErrorText(c.code)), c.text) << c.code;
  }
}

TEST(TIEHTTP, RecordedCodeOutranksRecordedText) {
  struct Case {
    std::int32_t code;
    const char16_t* text;
    const char* message;
  };
  const Case cases[] = {
      {12029, u"Could not open Internet", "wininet error # 12029 : (Cannot connect)"},
      {12029, u"", "wininet error # 12029 : (Cannot connect)"},
      {0, u"Could not open Internet", "tiehttp error: Could not open Internet"},
      {-5, u"x", "tiehttp error: x"},
      {0, u"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Narrow(TIEHTTP::RecordedErrorMessage(c.code, c.text)), c.message) << c.code;
  }
}

TEST(TIEHTTP, GetComposesPathFromQueryAndGetStr) {
  struct Case {
    const char16_t* url;
    const char16_t* getStr;
    const char* path;
    const char* again;  // the path of a second composition, getStr consumed
  };
  const Case cases[] = {
      {u"http://h/a.aspx?x=1", u"y=2", "/a.aspx?x=1&y=2", "/a.aspx?x=1"},
      {u"http://h/a.aspx", u"y=2", "/a.aspx?y=2", "/a.aspx"},
      {u"http://h/a.aspx?x=1", u"", "/a.aspx?x=1", "/a.aspx?x=1"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    TIEHTTP http(nullptr, net);
    http.SetURL(c.url);
    http.SetgetStr(c.getStr);
    http.AppendGetStr();
    http.PrepareRequest();
    EXPECT_EQ(Narrow(http.RequestPath()), c.path) << Narrow(c.url);
    EXPECT_TRUE(http.getStr().empty());
    EXPECT_EQ(http.PostData(), "");
    EXPECT_EQ(Narrow(http.Headers()), "Accept-Encoding: gzip, deflate\r\n");
    http.AppendGetStr();
    EXPECT_EQ(Narrow(http.RequestPath()), c.again) << Narrow(c.url);
  }
}

TEST(TIEHTTP, PostComposesBodyAndHeaders) {
  struct Case {
    const char16_t* url;
    const char16_t* postStr;
    const char* path;
    const char* body;
  };
  const Case cases[] = {
      {u"http://h/a.aspx?x=1+2", u"", "/a.aspx", "x=1%2B2"},
      {u"http://h/a.aspx", u"a=1&b=2", "/a.aspx", "a=1&b=2"},
      {u"http://h/a.aspx", u"t=\u4e2d", "/a.aspx", "t=\xe4\xb8\xad"},
      {u"http://h/a.aspx?x=1", u"a=2", "/a.aspx", "x=1&a=2"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    TIEHTTP http(nullptr, net);
    http.SetRequestMethod(u"POST");
    http.SetURL(c.url);
    http.SetpostStr(c.postStr);
    http.AppendGetStr();
    http.PrepareRequest();
    const std::string name = Narrow(c.url) + " " + Narrow(c.postStr);
    EXPECT_EQ(Narrow(http.RequestPath()), c.path) << name;
    EXPECT_EQ(http.PostData(), c.body) << name;
    EXPECT_TRUE(http.postStr().empty()) << name;
    EXPECT_EQ(Narrow(http.Headers()),
              "Content-Type: application/x-www-form-urlencoded\r\n"
              "Accept-Encoding: gzip, deflate\r\n")
        << name;
    // A second composition sends the same header text, not a doubled one.
    http.PrepareRequest();
    EXPECT_EQ(Narrow(http.Headers()),
              "Content-Type: application/x-www-form-urlencoded\r\n"
              "Accept-Encoding: gzip, deflate\r\n")
        << name;
  }
}

TEST(TIEHTTP, ProxyUserAddsAuthorizationLine) {
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  http.ProxyUser = u"user";
  http.ProxyPassword = u"pass";
  http.SetURL(u"http://h/a");
  http.PrepareRequest();
  EXPECT_EQ(Narrow(http.Headers()),
            "Proxy-Authorization: Basic dXNlcjpwYXNz\r\nAccept-Encoding: gzip, deflate\r\n");
}

TEST(TIEHTTP, GetWithPostStrIsRefusedThroughExecute) {
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  http.SetURL(u"http://127.0.0.1/a");
  http.SetpostStr(u"a=1");
  EXPECT_EQ(MessageOf([&] { http.Execute(); }), "tiehttp error: No poststr allowed in GET method");
  EXPECT_TRUE(net.CallsOf(FakeInternet::Call::HttpSendRequest).empty());
  EXPECT_TRUE(http.postStr().empty());
  EXPECT_TRUE(net.OpenHandles().empty());
}

constexpr char kB[] = "-----------------------------7cf87224d2020a";

TEST(TIEHTTP, MultipartBodies) {
  const std::string b = kB;
  struct Case {
    const char16_t* postStr;
    std::string body;   // expected FPostData after composition
    const char* error;  // expected error text
  };
  const Case cases[] = {
      {u"a=1&b=2",
       "--" + b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n" + "--" + b +
           "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2\r\n" + "--" + b + "--\r\n",
       ""},
      {u"a=1&a=3",
       "--" + b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n3\r\n" + "--" + b +
           "--\r\n",
       ""},
      {u"a=1&b", "a=1&b", "could not convert b to multipart"},
      {u"a=1&&b=2", "a=1&&b=2", "could not convert  to multipart"},
      {u"a=", "a=", "could not convert a= to multipart"},
      {u"a=1=2", "a=1=2", "could not convert a=1=2 to multipart"},
      {u"", "", "multipart error: no variables to post"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    TIEHTTP http(nullptr, net);
    http.SetMultipartPOST(true);
    http.SetURL(u"http://h/up.aspx");
    http.SetpostStr(c.postStr);
    http.AppendGetStr();
    http.PrepareRequest();
    const std::string name = Narrow(c.postStr);
    EXPECT_EQ(http.PostData(), c.body) << name;
    EXPECT_EQ(Narrow(http.ErrorText()), c.error) << name;
    EXPECT_EQ(Narrow(http.Headers()), "Content-Type: multipart/form-data; boundary=" + b +
                                          "\r\nAccept-Encoding: gzip, deflate\r\n")
        << name;
  }
}

TEST(TIEHTTP, MultipartFilePartsFollowTheFields) {
  const std::string b = kB;
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  http.SetMultipartPOST(true);
  http.SetURL(u"http://h/up.aspx");
  http.SetpostStr(u"n=v");
  http.FormFiles().push_back({u"f", u"a.bin", std::string("\x00\x01", 2)});
  http.PrepareRequest();
  EXPECT_EQ(http.PostData(),
            "--" + b + "\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\nv\r\n" + "--" + b +
                "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.bin\"\r\n"
                "Content-Transfer-Encoding: binary\r\n\r\n" +
                std::string("\x00\x01", 2) + "\r\n--" + b + "--\r\n");
}

TEST(TIEHTTP, MultipartErrorSendsNothing) {
  FakeInternet net;
  TIEHTTP http(nullptr, net);
  http.SetMultipartPOST(true);
  http.SetURL(u"http://127.0.0.1/up.aspx");
  http.SetpostStr(u"a=1&b");
  EXPECT_EQ(MessageOf([&] { http.Execute(); }), "tiehttp error: could not convert b to multipart");
  EXPECT_TRUE(net.CallsOf(FakeInternet::Call::HttpSendRequest).empty());
  EXPECT_TRUE(net.OpenHandles().empty());
  EXPECT_TRUE(http.FormFields().empty());
}

}  // namespace
