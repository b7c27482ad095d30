// The transfer of a request over a scripted library: the steps a server cannot be made to
// produce on demand (last-error values, a send that fails and succeeds, failing reads), the
// flags, the content-length rules and the closing of handles.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "http/IEHTTP3.h"
#include "os/CodePage.h"
#include "support/DateTime.h"
#include "support/Exceptions.h"
#include "tests/support/FakeInternet.h"

namespace {

using Call = FakeInternet::Call;

std::string Narrow(const WideString& w) { return os::WideToAnsi(w); }

// Runs one GET of `url`; returns the message it raised, or empty.
std::string Fetch(TIEHTTP& http, const WideString& url) {
  try {
    http.ExecuteURL(url);
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

void ExpectEveryHandleClosedOnce(const FakeInternet& net, const std::string& name) {
  EXPECT_TRUE(net.OpenHandles().empty()) << name;
  for (const auto& call : net.Calls()) {
    if (call.result != nullptr) {
      EXPECT_EQ(net.CloseCount(call.result), 1) << name;
    }
  }
}

TEST(TTimeout, RequestGoesOutAsComposed) {
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK", "Content-Length: 5"};
  net.response.body = {"hel", "lo"};
  TIEHTTP http(nullptr, net);
  http.UserAgent = u"agent/1";
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1:8086/4/Update/Update.aspx?v=1"), "");
  ASSERT_EQ(net.CallsOf(Call::InternetOpen).size(), 1u);
  EXPECT_EQ(Narrow(net.CallsOf(Call::InternetOpen)[0].text), "agent/1");
  EXPECT_EQ(net.CallsOf(Call::InternetOpen)[0].flags, os::INTERNET_OPEN_TYPE_PRECONFIG);
  const auto connect = net.CallsOf(Call::InternetConnect).at(0);
  EXPECT_EQ(Narrow(connect.text), "127.0.0.1");
  EXPECT_EQ(connect.port, 8086);
  EXPECT_EQ(connect.value, os::INTERNET_SERVICE_HTTP);
  const auto open = net.CallsOf(Call::HttpOpenRequest).at(0);
  EXPECT_EQ(Narrow(open.text), "GET");
  EXPECT_EQ(Narrow(open.path), "/4/Update/Update.aspx?v=1");
  EXPECT_EQ(Narrow(open.version), "HTTP/1.0");
  const auto send = net.CallsOf(Call::HttpSendRequest).at(0);
  EXPECT_EQ(Narrow(send.text), "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_EQ(send.value, send.text.size());
  EXPECT_EQ(send.body, "");
  for (const auto& read : net.CallsOf(Call::InternetReadFile)) EXPECT_EQ(read.flags, 32768u);
  EXPECT_EQ(http.ResponseLines->Text(), "hello\r\n");
  EXPECT_EQ(http.ContentLength, 5u);
  EXPECT_EQ(http.BytesReceived, 5u);
  EXPECT_EQ(http.PacketCount(), 3u);
  EXPECT_EQ(http.ResponseStream->Position(), 0);
  ExpectEveryHandleClosedOnce(net, "GET");
}

TEST(TTimeout, FlagsFollowThePortAlone) {
  struct Case {
    const char16_t* url;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {u"https://127.0.0.1/a", 0x80803100u},
      {u"http://127.0.0.1:443/a", 0x80803100u},
      {u"https://127.0.0.1:8443/a", 0x80000000u},
      {u"http://127.0.0.1/a", 0x80000000u},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.response.headers = {"HTTP/1.1 200 OK"};
    TIEHTTP http(nullptr, net);
    EXPECT_EQ(Fetch(http, c.url), "") << Narrow(c.url);
    EXPECT_EQ(net.CallsOf(Call::HttpOpenRequest).at(0).flags, c.flags) << Narrow(c.url);
  }
}

TEST(TTimeout, LastErrorAfterOpeningTheRequest) {
  struct Case {
    bool handle;
    std::uint32_t lastError;
    std::size_t sends;
    const char* raised;
  };
  const Case cases[] = {
      {true, 0, 1, ""},
      {true, 183, 1, ""},
      {true, 122, 1, ""},
      {true, 126, 1, ""},
      {true, 5, 0, "wininet error # 5 : (Unknown WININET error # 5)"},
      {true, 12029, 0, "wininet error # 12029 : (Cannot connect)"},
      {false, 183, 0, "tiehttp error: Could not open HTTP request"},
      {false, 0, 0, "tiehttp error: Could not open HTTP request"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.response.headers = {"HTTP/1.1 200 OK"};
    net.Script(Call::HttpOpenRequest, {{c.handle, c.lastError}});
    TIEHTTP http(nullptr, net);
    const std::string name = std::to_string(c.handle) + "/" + std::to_string(c.lastError);
    EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), c.raised) << name;
    EXPECT_EQ(net.CallsOf(Call::HttpSendRequest).size(), c.sends) << name;
    ExpectEveryHandleClosedOnce(net, name);
  }
}

TEST(TTimeout, SessionAndConnectionFailures) {
  struct Case {
    Call failing;
    const char* raised;
  };
  const Case cases[] = {
      {Call::InternetOpen, "tiehttp error: Could not open Internet"},
      {Call::InternetConnect, "tiehttp error: Could not connect to server 127.0.0.1"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.Script(c.failing, {{false, 12029}});
    TIEHTTP http(nullptr, net);
    EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), c.raised);
    EXPECT_TRUE(net.CallsOf(Call::HttpOpenRequest).empty()) << c.raised;
    ExpectEveryHandleClosedOnce(net, c.raised);
  }
}

TEST(TTimeout, SendIsRetriedOnceForAnUnknownAuthority) {
  struct Case {
    std::vector<FakeInternet::Outcome> sends;
    std::size_t attempts;
    const char* raised;
  };
  const Case cases[] = {
      {{{false, 12045}, {true, 0}}, 2, ""},
      {{{false, 12045}, {false, 12029}}, 2, "wininet error # 12029 : (Cannot connect)"},
      {{{false, 12029}, {true, 0}}, 1, "wininet error # 12029 : (Cannot connect)"},
      {{{false, 12045}, {false, 12045}}, 2, "wininet error # 12045 : (Invalid CA Cert)"},
      {{{false, 0}}, 1, "wininet error # 12004 : (Internal Error)"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.response.headers = {"HTTP/1.1 200 OK"};
    net.response.body = {"x"};
    net.Script(Call::HttpSendRequest, c.sends);
    TIEHTTP http(nullptr, net);
    EXPECT_EQ(Fetch(http, u"https://127.0.0.1/a"), c.raised) << c.raised;
    const auto sends = net.CallsOf(Call::HttpSendRequest);
    ASSERT_EQ(sends.size(), c.attempts) << c.raised;
    if (c.attempts == 2) {
      EXPECT_EQ(sends[1].flags & os::SECURITY_FLAG_IGNORE_UNKNOWN_CA,
                os::SECURITY_FLAG_IGNORE_UNKNOWN_CA);
      EXPECT_EQ(sends[1].text, sends[0].text);
    }
    EXPECT_EQ(http.ErrorCode(), *c.raised ? std::stoi(std::string(c.raised).substr(16)) : 0);
    ExpectEveryHandleClosedOnce(net, c.raised);
  }
}

TEST(TTimeout, ContentLengthRules) {
  struct Case {
    std::vector<std::string> headers;
    std::uint32_t contentLength;
  };
  const Case cases[] = {
      {{}, 1},
      {{"Custom-Content-Length: 1234"}, 1234},
      {{"Custom-Content-Length: 0"}, 1},
      {{"Content-Length: 5000", "Custom-Content-Length: 1234"}, 5000},
      {{"Content-Length: 1", "Custom-Content-Length: 500"}, 500},
      {{"Custom-Content-Length: 12ab"}, 1},
      {{"Custom-Content-Length: 99999999999"}, 1},
      // Not above 0: ignored too (a -1 would otherwise read as 4294967295).
      {{"Custom-Content-Length: -1"}, 1},
      {{"Custom-Content-Length: 00"}, 1},
      {{"Custom-Content-Length: +0"}, 1},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.response.headers = {"HTTP/1.1 200 OK"};
    for (const auto& h : c.headers) net.response.headers.push_back(h);
    net.response.body = {"body"};
    TIEHTTP http(nullptr, net);
    const std::string name = c.headers.empty() ? "(none)" : c.headers.back();
    EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), "") << name;
    EXPECT_EQ(http.ContentLength, c.contentLength) << name;
    // A value that is no integer is ignored: the body still arrives.
    EXPECT_EQ(http.ResponseLines->Text(), "body\r\n") << name;
  }
}

// A failure after the transfer (here the response lines refusing the body) reaches the caller,
// and the component is free for the next request instead of staying busy for good.
TEST(TTimeout, FailureWhileCompletingLeavesTheComponentIdle) {
  struct RefusingLines : TStringList {
    void Changed() override {
      if (Count() > 0) throw Exception("no room for the lines");
    }
  };
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK"};
  net.response.body = {"body"};
  TIEHTTP http(nullptr, net);
  http.ResponseLines = std::make_unique<RefusingLines>();
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), "no room for the lines");
  EXPECT_FALSE(http.Busy());
  http.ResponseLines = std::make_unique<TStringList>();
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), "");
  EXPECT_EQ(net.CallsOf(Call::HttpSendRequest).size(), 2u);
}

// Whether a compressed body decoded whole is told apart from the bytes it decoded to.
TEST(TTimeout, CompressedBodyCutShortIsReported) {
  const std::string signature("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8);
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK"};
  // A gzip member whose deflate data stops after a few stored bytes.
  net.response.body = {signature + std::string("\x00\x03\x00\x0A\x00\xF5\xFF", 7) + "abc"};
  TIEHTTP http(nullptr, net);
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/page.asp"), "");
  EXPECT_FALSE(http.BodyDecodedWhole());
  EXPECT_EQ(http.ResponseLines->Text(), "abc\r\n");
  net.response.body = {"plain"};
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/page.asp"), "");
  EXPECT_TRUE(http.BodyDecodedWhole());
}

// A transfer that finished is taken even when the caller comes back to look only after the
// time-out has passed (here a slow progress handler): it is not cut and emptied as a stall.
TEST(TTimeout, FinishedTransferIsTakenHoweverLateTheCallerLooks) {
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK"};
  net.response.body = {"body"};
  // The read is stamped after the clock moved on from the request's start, however fast the
  // transfer runs, so the handler is due on the caller's first look.
  net.beforeRead = [] {
    const TDateTime entered = Now();
    while (Now() <= entered) std::this_thread::yield();
  };
  TIEHTTP http(nullptr, net);
  http.SetTimeout(1);
  bool slowed = false;
  http.OnPacketRead = [&](TIEHTTP*) {
    if (slowed) return;
    slowed = true;
    // The transfer ends (its handles are closed) while the handler is still busy.
    while (!net.OpenHandles().empty()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  };
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), "");
  EXPECT_TRUE(slowed);
  EXPECT_FALSE(http.TimedOut());
  EXPECT_EQ(http.ResponseLines->Text(), "body\r\n");
}

TEST(TTimeout, FailedReadEndsTheBodyAndRaisesItsCode) {
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK"};
  net.response.body = {"part", "never"};
  net.Script(Call::InternetReadFile, {{true, 0}, {false, 12031}});
  TIEHTTP http(nullptr, net);
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), "wininet error # 12031 : (Connection Reset)");
  EXPECT_EQ(net.CallsOf(Call::InternetReadFile).size(), 2u);
  EXPECT_EQ(http.BytesReceived, 4u);
  ExpectEveryHandleClosedOnce(net, "failed read");
}

// A transfer that ends with an exception (here: no memory for the body) must not pass for a
// complete body.
TEST(TTimeout, TransferEndedByAnExceptionRaises) {
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK"};
  net.response.body = {"part", "never"};
  net.Script(Call::InternetReadFile, {{true, 0}, {true, 0, true}});
  TIEHTTP http(nullptr, net);
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), "tiehttp error: Out of memory");
  ExpectEveryHandleClosedOnce(net, "exception in the transfer");
}

TEST(TTimeout, EmptyBodyIsOneRead) {
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK", "Content-Length: 0"};
  TIEHTTP http(nullptr, net);
  int events = 0;
  http.OnPacketRead = [&](TIEHTTP*) { ++events; };
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), "");
  EXPECT_EQ(http.ResponseStream->Size(), 0);
  EXPECT_EQ(http.BytesReceived, 0u);
  EXPECT_EQ(http.PacketCount(), 1u);
  EXPECT_EQ(http.ContentLength, 1u);
  EXPECT_LE(events, 1);
}

TEST(TTimeout, CookiesAndHeadersAreCaptured) {
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK", "Set-Cookie: a=1", "X: y", "Set-Cookie: b=2; path=/",
                          "Set-Cookie: c=3"};
  TIEHTTP http(nullptr, net);
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a"), "");
  EXPECT_EQ(http.ResponseCookies->Text(), "a=1\r\nb=2; path=/\r\nc=3\r\n");
  EXPECT_EQ(http.ResponseHeaders->Text(),
            "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX: y\r\nSet-Cookie: b=2; path=/\r\n"
            "Set-Cookie: c=3\r\n\r\n");
  EXPECT_EQ(Narrow(http.GetResponseHeader(u"x")), "y");
}

TEST(TTimeout, PostSendsBodyAndContentType) {
  FakeInternet net;
  net.response.headers = {"HTTP/1.1 200 OK"};
  TIEHTTP http(nullptr, net);
  http.SetRequestMethod(u"POST");
  http.SetpostStr(u"a=1&b=2");
  EXPECT_EQ(Fetch(http, u"http://127.0.0.1/a.aspx?x=1"), "");
  const auto send = net.CallsOf(Call::HttpSendRequest).at(0);
  EXPECT_EQ(Narrow(net.CallsOf(Call::HttpOpenRequest).at(0).text), "POST");
  EXPECT_EQ(Narrow(net.CallsOf(Call::HttpOpenRequest).at(0).path), "/a.aspx");
  EXPECT_EQ(send.body, "x=1&a=1&b=2");
  EXPECT_EQ(
      Narrow(send.text),
      "Content-Type: application/x-www-form-urlencoded\r\nAccept-Encoding: gzip, deflate\r\n");
}

}  // namespace
