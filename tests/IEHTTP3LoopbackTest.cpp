// Requests end to end against a loopback server, through the platform's internet library
// (libcurl natively, wininet under wine).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/platform/Application.h"
#include "app/platform/Controls.h"
#include "app/platform/Threads.h"
#include "http/IEHTTP3.h"
#include "os/CodePage.h"
#include "os/WindowSystem.h"
#include "support/Exceptions.h"
#include "tests/support/LoopbackServer.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::string Body(const TIEHTTP& http) {
  return std::string(reinterpret_cast<const char*>(http.ResponseStream->Memory()),
                     static_cast<std::size_t>(http.ResponseStream->Size()));
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(TIEHTTPLoopback, BodyInSeveralChunksFiresEventsPerTurn) {
  LoopbackServer server;
  LoopbackServer::Response r;
  r.body = {{std::string(40000, 'a')},
            {std::string(30000, 'b'), milliseconds(700)},
            {std::string(10, 'c'), milliseconds(700)}};
  server.On("/file", r);
  TIEHTTP http;
  std::vector<std::uint32_t> seen;
  http.OnPacketRead = [&](TIEHTTP* sender) { seen.push_back(sender->BytesReceived); };
  http.ExecuteURL(server.WideUrl("/file"));
  EXPECT_EQ(http.BytesReceived, 70010u);
  EXPECT_EQ(http.ContentLength, 70010u);
  EXPECT_EQ(http.ResponseStream->Size(), 70010);
  EXPECT_EQ(Body(http), std::string(40000, 'a') + std::string(30000, 'b') + std::string(10, 'c'));
  // The pauses put the chunks in separate turns: at least one event each, growing, and never
  // more events than reads.
  ASSERT_GE(seen.size(), 3u);
  EXPECT_LE(seen.size(), http.PacketCount());
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i], seen[i - 1]) << i;
  EXPECT_EQ(seen.back(), 70010u);
  EXPECT_EQ(http.PacketEvents(), seen.size());
}

TEST(TIEHTTPLoopback, RequestOnTheWire) {
  LoopbackServer server;
  server.On("/4/Update/Update.aspx", LoopbackServer::Response::Text("ok"));
  TIEHTTP http;
  http.UserAgent = u"agent/1";
  http.ExecuteURL(server.WideUrl("/4/Update/Update.aspx?x=1"));
  ASSERT_EQ(server.Requests().size(), 1u);
  const auto request = server.Requests()[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/4/Update/Update.aspx?x=1");
  EXPECT_EQ(request.version, "HTTP/1.0");
  EXPECT_EQ(request.Header("User-Agent"), "agent/1");
  EXPECT_EQ(request.Header("Accept-Encoding"), "gzip, deflate");
  EXPECT_EQ(http.ResponseLines->Text(), "ok\r\n");
}

TEST(TIEHTTPLoopback, StatusAndBodiesAsServed) {
  struct Case {
    const char* name;
    LoopbackServer::Response response;
    std::string body;
  };
  LoopbackServer::Response closeDelimited = LoopbackServer::Response::Text("to the end");
  closeDelimited.contentLength = false;
  const Case cases[] = {
      {"empty", LoopbackServer::Response::Text(""), ""},
      {"404", LoopbackServer::Response::Text("<html>gone</html>", "HTTP/1.1 404 Not Found"),
       "<html>gone</html>"},
      {"close-delimited", closeDelimited, "to the end"},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    server.On("/x", c.response);
    TIEHTTP http;
    EXPECT_NO_THROW(http.ExecuteURL(server.WideUrl("/x"))) << c.name;
    EXPECT_EQ(Body(http), c.body) << c.name;
    EXPECT_EQ(http.BytesReceived, c.body.size()) << c.name;
    EXPECT_GE(http.ContentLength, 1u) << c.name;
  }
}

TEST(TIEHTTPLoopback, ThreeSetCookieLines) {
  LoopbackServer server;
  LoopbackServer::Response r = LoopbackServer::Response::Text("c");
  r.headers = {"Set-Cookie: a=1", "Set-Cookie: b=2; path=/", "Set-Cookie: c=3"};
  server.On("/c", r);
  TIEHTTP http;
  http.ExecuteURL(server.WideUrl("/c"));
  EXPECT_EQ(http.ResponseCookies->Text(), "a=1\r\nb=2; path=/\r\nc=3\r\n");
  EXPECT_EQ(http.ResponseHeaders->Lines().at(0).substr(0, 12), "HTTP/1.1 200");
}

TEST(TIEHTTPLoopback, CharsetRules) {
  struct Case {
    const char* contentType;
    std::string body;
    std::string text;
  };
  const Case cases[] = {
      {"Content-Type: text/plain; charset=utf-8", "\xE4\xB8\xAD", "\xD6\xD0\r\n"},
      {"Content-Type: text/plain; charset=UTF-8", "\xE4\xB8\xAD", "\xE4\xB8\xAD\r\n"},
      {"Content-Type: text/plain; charset=utf-16", std::string("A\0B\0\0\0C\0", 8), "AB\r\n"},
      {"Content-Type: text/plain; charset=utf-16", std::string("A\0B", 3), "A\r\n"},
      {"Content-Type: text/plain", "a\r\nb", "a\r\nb\r\n"},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    LoopbackServer::Response r = LoopbackServer::Response::Text(c.body);
    r.headers = {c.contentType};
    server.On("/t", r);
    TIEHTTP http;
    http.ExecuteURL(server.WideUrl("/t"));
    EXPECT_EQ(http.ResponseLines->Text(), c.text) << c.contentType;
    EXPECT_EQ(Body(http), c.body) << c.contentType;
  }
}

TEST(TIEHTTPLoopback, GzipBodyIsDecoded) {
  const std::string text = "decoded text\r\nsecond line\r\n";
  LoopbackServer server;
  LoopbackServer::Response r = LoopbackServer::Response::Text(LoopbackServer::Gzip(text));
  r.headers = {"Content-Encoding: gzip"};
  server.On("/Update.aspx", r);
  TIEHTTP http;
  http.ExecuteURL(server.WideUrl("/Update.aspx"));
  EXPECT_EQ(Body(http), text);
  EXPECT_EQ(http.ResponseStream->Position(), 0);
  EXPECT_EQ(http.ResponseLines->Text(), text);
}

TEST(TIEHTTPLoopback, StalledServerIsCutAfterTheTimeout) {
  LoopbackServer server;
  LoopbackServer::Response r = LoopbackServer::Response::Text("late");
  r.stall = LoopbackServer::Stall::BeforeAnswer;
  server.On("/stall", r);
  TIEHTTP http;
  http.SetTimeout(10);
  const auto start = Clock::now();
  EXPECT_NO_THROW(http.ExecuteURL(server.WideUrl("/stall")));
  const double took = SecondsSince(start);
  EXPECT_GE(took, 10.0);
  EXPECT_LT(took, 10.6);
  EXPECT_TRUE(http.TimedOut());
  EXPECT_EQ(http.ResponseStream->Size(), 0);
  EXPECT_EQ(http.ResponseLines->Count(), 0u);
  EXPECT_FALSE(http.Busy());
  server.Release();
}

TEST(TIEHTTPLoopback, TimeoutZeroOrLessNeverCuts) {
  struct Case {
    int timeout;
    bool cut;
  };
  for (const Case c : {Case{1, true}, Case{0, false}, Case{-1, false}}) {
    LoopbackServer server;
    LoopbackServer::Response r;
    r.body = {{"slow", milliseconds(2500)}};
    server.On("/slow", r);
    TIEHTTP http;
    http.SetTimeout(c.timeout);
    EXPECT_NO_THROW(http.ExecuteURL(server.WideUrl("/slow"))) << c.timeout;
    EXPECT_EQ(http.TimedOut(), c.cut) << c.timeout;
    EXPECT_EQ(Body(http), c.cut ? "" : "slow") << c.timeout;
  }
}

TEST(TIEHTTPLoopback, TimerFiresAtOnceThenEveryInterval) {
  struct Case {
    int interval;
    bool fires;
  };
  for (const Case c : {Case{1, true}, Case{0, false}}) {
    LoopbackServer server;
    LoopbackServer::Response r;
    r.body = {{"slow", milliseconds(3200)}};
    server.On("/slow", r);
    TIEHTTP http;
    http.SetTimerIntervalSeconds(c.interval);
    std::vector<double> at;
    const auto start = Clock::now();
    http.OnTimer = [&](TIEHTTP*) { at.push_back(SecondsSince(start)); };
    http.ExecuteURL(server.WideUrl("/slow"));
    if (!c.fires) {
      EXPECT_TRUE(at.empty()) << c.interval;
      continue;
    }
    ASSERT_GE(at.size(), 3u) << c.interval;
    EXPECT_LT(at[0], 0.6);
    for (std::size_t i = 1; i < at.size(); ++i) {
      EXPECT_GE(at[i] - at[i - 1], 1.0) << i;
      EXPECT_LT(at[i] - at[i - 1], 1.6) << i;
    }
    EXPECT_EQ(http.TimerEvents(), at.size());
  }
}

// A cut transfer, or one abandoned by a raising handler, goes on after Execute returned and the
// component was freed; it must touch only its own state (AddressSanitizer and ThreadSanitizer
// watch this test).
TEST(TIEHTTPLoopback, AbandonedTransferOutlivesTheComponent) {
  LoopbackServer server;
  LoopbackServer::Response stalled = LoopbackServer::Response::Text("late");
  stalled.stall = LoopbackServer::Stall::AfterHeaders;
  server.On("/stall", stalled);
  LoopbackServer::Response slow;
  slow.body = {{std::string(50000, 'a')}, {std::string(50000, 'b'), milliseconds(300)}};
  server.On("/slow", slow);
  {
    auto http = std::make_unique<TIEHTTP>();
    http->SetTimeout(1);
    http->ExecuteURL(server.WideUrl("/stall"));
    EXPECT_TRUE(http->TimedOut());
  }
  {
    auto http = std::make_unique<TIEHTTP>();
    http->OnPacketRead = [](TIEHTTP*) { throw Exception("handler failed"); };
    try {
      http->ExecuteURL(server.WideUrl("/slow"));
      ADD_FAILURE() << "the handler's exception did not arrive";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "handler failed");
    }
    EXPECT_FALSE(http->Busy());
    // The same component runs the next request normally.
    server.On("/ok", LoopbackServer::Response::Text("ok"));
    http->OnPacketRead = nullptr;
    http->ExecuteURL(server.WideUrl("/ok"));
    EXPECT_EQ(http->ResponseLines->Text(), "ok\r\n");
  }
  server.Release();
}

// A second Execute from an event handler while the first request runs asks the busy dialog,
// answered here by a main-thread call made while the dialog is open.
TEST(TIEHTTPLoopback, BusyDialogCancelKeepsTheRequestAndOkReplacesIt) {
  struct Case {
    const char* name;
    unsigned message;
    os::WParam wParam;
    bool secondRefused;
    std::size_t requests;
    const char* lines;
    const char* raised;  // by the second Execute
  };
  const Case cases[] = {
      {"closed", os::kWmClose, 0, false, 1, "first-a first-b\r\n", ""},
      {"Cancel", os::kWmCommand, mrCancel, false, 1, "first-a first-b\r\n", ""},
      {"OK", os::kWmCommand, mrOk, false, 2, "second\r\n", ""},
      {"OK, second refused", os::kWmCommand, mrOk, true, 1, "",
       "wininet error # 12029 : (Cannot connect)"},
  };
  std::uint16_t deadPort;
  {
    LoopbackServer gone;
    deadPort = gone.Port();
  }
  const std::string deadUrl = "http://127.0.0.1:" + std::to_string(deadPort) + "/second";
  // The application object wakes the main thread for main-thread calls.
  Application();
  for (const Case& c : cases) {
    LoopbackServer server;
    LoopbackServer::Response first;
    first.body = {{"first-a "}, {"first-b", milliseconds(1500)}};
    server.On("/first", first);
    server.On("/second", LoopbackServer::Response::Text("second"));
    TIEHTTP http;
    bool nested = false;
    std::string raised;
    http.OnPacketRead = [&](TIEHTTP* sender) {
      if (nested) return;
      nested = true;
      std::thread answer([&] {
        CallInMainThread(
            [&] { os::PostWindowMessage(os::ActiveModalWindow(), c.message, c.wParam, 0); });
      });
      sender->SetURL(c.secondRefused ? WideString(deadUrl.begin(), deadUrl.end())
                                     : server.WideUrl("/second"));
      try {
        sender->Execute();
      } catch (const Exception& e) {
        raised = e.Message();
      }
      answer.join();
    };
    EXPECT_NO_THROW(http.ExecuteURL(server.WideUrl("/first"))) << c.name;
    EXPECT_TRUE(nested) << c.name;
    EXPECT_EQ(raised, c.raised) << c.name;
    EXPECT_EQ(server.Requests().size(), c.requests) << c.name;
    EXPECT_EQ(http.ResponseLines->Text(), c.lines) << c.name;
    EXPECT_FALSE(http.Busy()) << c.name;
  }
}

TEST(TIEHTTPLoopback, RefusedConnectionRaisesTheCode) {
  std::uint16_t port;
  {
    LoopbackServer server;
    port = server.Port();
  }
  TIEHTTP http;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/x";
  try {
    http.ExecuteURL(WideString(url.begin(), url.end()));
    ADD_FAILURE() << "nothing raised";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "wininet error # 12029 : (Cannot connect)");
  }
}

}  // namespace
