// The updater as a whole process: the build for tests asks a loopback server on a fixed port,
// runs in a scratch application directory and leaves its worker's outcome in
// "worker-outcome.txt" (empty after a run without failure, else the failure's message).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "os/Process.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kPort = TAKTAK_TEST_UPDATE_PORT;
constexpr char kOldIni[] = "[General]\r\nLanguage=zh-CN\r\n\r\n[version]\r\nCurrentVersion=1.0\r\n";

fs::path UpdaterUnderTest() {
#ifdef _WIN32
  const fs::path self(os::ExecutablePath());
  return self.parent_path().parent_path() / "app" / "UpdateUnderTest.exe";
#else
  const fs::path self = fs::canonical("/proc/self/exe");
  return self.parent_path().parent_path() / "app" / "UpdateUnderTest";
#endif
}

LoopbackServer::Response Gzipped(const std::string& body) {
  LoopbackServer::Response response = LoopbackServer::Response::Text(LoopbackServer::Gzip(body));
  response.headers = {"Content-Type: text/html", "Content-Encoding: gzip"};
  return response;
}

// The compressed body sent without a length and cut off half-way, as a connection that closes
// early delivers it: nothing but the decoding can tell.
LoopbackServer::Response GzippedCutShort(const std::string& body) {
  LoopbackServer::Response response = Gzipped(body);
  response.body[0].bytes.resize(response.body[0].bytes.size() / 2);
  response.contentLength = false;
  return response;
}

// A page long enough that half of its compressed form decodes to some of it.
std::string LongPage() {
  std::string page;
  for (int i = 0; i < 4000; ++i) page += "<p>line " + std::to_string(i * 7919 % 10007) + "</p>\n";
  return page;
}

// A scratch application directory holding the updater, an old release and its settings file.
class UpdaterTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.FsPath(u"html"));
    program_ = dir_.FsPath(UpdaterUnderTest().filename().u16string());
    fs::copy_file(UpdaterUnderTest(), program_);
    WriteWholeFile(dir_.FsPath(u"TakTak.ini"), kOldIni);
    WriteWholeFile(dir_.FsPath(u"TakTak.exe"), "old program");
    WriteWholeFile(dir_.FsPath(u"html/index.html"), "old page");
  }

  void Manifest(const std::string& body) {
    server_.On("/4/Update/Update.aspx", Gzipped("<html><body>\r\n" + body + "\r\n</body></html>"));
  }

  // Runs the updater until it ends by itself; its exit code.
  std::optional<int> RunToEnd() {
    ChildProcess child(program_, dir_.FsPath(u""));
    EXPECT_TRUE(child.Started());
    return child.Wait(60);
  }

  // Runs the updater until its worker has stopped, checks that the window stays open, then
  // closes it as the user would; the worker's failure message.
  std::string RunToFailure() {
    ChildProcess child(program_, dir_.FsPath(u""));
    EXPECT_TRUE(child.Started());
    const fs::path outcome = dir_.FsPath(u"worker-outcome.txt");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(outcome) && std::chrono::steady_clock::now() < deadline) {
      if (child.Wait(0.05)) break;  // an updater that ends by itself has failed the test
    }
    EXPECT_FALSE(child.Wait(0.2).has_value()) << "the window must stay open after a failure";
    child.CloseWindows();
    EXPECT_EQ(child.Wait(30), std::optional<int>(0)) << "closing the window ends the program";
    return ReadWholeFile(outcome);
  }

  std::vector<std::string> RequestedPaths() const {
    std::vector<std::string> paths;
    for (const auto& request : server_.Requests()) paths.push_back(request.target);
    return paths;
  }

  AnsiString File(const WideString& name) const { return ReadWholeFile(dir_.FsPath(name)); }

  TempDir dir_;
  fs::path program_;
  LoopbackServer server_{kPort};
};

TEST_F(UpdaterTest, FullUpdateFetchesEveryListedFileRecordsTheVersionAndEnds) {
  Manifest(
      "<b>2.0</b>\r\n<b>TakTak.exe</b><b>index.html</b>\r\n<b>sub/site.css</b>"
      "<b></b><b>never.txt</b>");
  fs::create_directories(dir_.FsPath(u"html/sub"));
  server_.On("/4/Update/Taktak.exe", LoopbackServer::Response::Text(std::string("MZ\0new", 6)));
  server_.On("/4/Update/index.html", Gzipped("<p>new page</p>"));
  server_.On("/4/Update/sub/site.css", LoopbackServer::Response::Text("body{}"));

  EXPECT_EQ(RunToEnd(), std::optional<int>(0));

  EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/4/Update/Update.aspx",
                                                        "/4/Update/Taktak.exe",
                                                        "/4/Update/index.html",
                                                        "/4/Update/sub/site.css"}));
  for (const auto& request : server_.Requests()) {
    EXPECT_EQ(request.version, "HTTP/1.0");
    EXPECT_EQ(request.Header("User-Agent"),
              "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.1; Trident/4.0; .NET CLR "
              "2.0.50727)");
  }
  EXPECT_EQ(File(u"TakTak.exe"), std::string("MZ\0new", 6));
  EXPECT_EQ(File(u"html/index.html"), "<p>new page</p>");
  EXPECT_EQ(File(u"html/sub/site.css"), "body{}");
  EXPECT_EQ(File(u"TakTak.ini"),
            "[General]\r\nLanguage=zh-CN\r\n\r\n[version]\r\nCurrentVersion=2.0\r\n\r\n");
  EXPECT_EQ(File(u"worker-outcome.txt"), "");
}

TEST_F(UpdaterTest, EqualVersionsFetchNothingAndWriteNothing) {
  const std::string ini = "[version]\r\ncurrentversion = 2.0 \r\n; comment kept\r\n";
  WriteWholeFile(dir_.FsPath(u"TakTak.ini"), ini);
  Manifest("<b>2.0</b><b>TakTak.exe</b>");

  EXPECT_EQ(RunToEnd(), std::optional<int>(0));

  EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/4/Update/Update.aspx"});
  EXPECT_EQ(File(u"TakTak.ini"), ini);
  EXPECT_EQ(File(u"TakTak.exe"), "old program");
}

TEST_F(UpdaterTest, WithoutSettingsFileAOneTokenManifestRecordsTheVersionOnly) {
  fs::remove(dir_.FsPath(u"TakTak.ini"));
  Manifest("<b>2.0</b>");

  EXPECT_EQ(RunToEnd(), std::optional<int>(0));

  EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/4/Update/Update.aspx"});
  EXPECT_EQ(File(u"TakTak.ini"), "[version]\r\nCurrentVersion=2.0\r\n\r\n");
}

TEST_F(UpdaterTest, UpperCaseTagsAreTextAndAnEmptyTokenEndsTheList) {
  Manifest("<B>9.9</B><b>2.0</b><B>skipped.txt</B><b>a.txt</b><b></b><b>b.txt</b>");
  server_.On("/4/Update/a.txt", LoopbackServer::Response::Text("a"));

  EXPECT_EQ(RunToEnd(), std::optional<int>(0));

  EXPECT_EQ(RequestedPaths(),
            (std::vector<std::string>{"/4/Update/Update.aspx", "/4/Update/a.txt"}));
  EXPECT_EQ(File(u"html/a.txt"), "a");
  EXPECT_NE(File(u"TakTak.ini").find("CurrentVersion=2.0\r\n"), std::string::npos);
}

TEST_F(UpdaterTest, MissingSubdirectoryFailsThereAndKeepsTheOldVersion) {
  Manifest("<b>2.0</b><b>a.txt</b><b>sub/b.txt</b><b>c.txt</b>");
  server_.On("/4/Update/a.txt", LoopbackServer::Response::Text("a"));
  server_.On("/4/Update/sub/b.txt", LoopbackServer::Response::Text("b"));

  const std::string failure = RunToFailure();

  EXPECT_NE(failure.find("Cannot create file"), std::string::npos) << failure;
  EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/4/Update/Update.aspx",
                                                        "/4/Update/a.txt",
                                                        "/4/Update/sub/b.txt"}));
  EXPECT_EQ(File(u"html/a.txt"), "a");
  EXPECT_FALSE(fs::exists(dir_.FsPath(u"html/sub")));
  EXPECT_EQ(File(u"TakTak.ini"), kOldIni) << "the version is recorded only after every file";
}

TEST_F(UpdaterTest, NamesThatLeaveTheApplicationDirectoryAreRefused) {
  for (const char* name : {"../TakTak.ini", "..\\..\\evil.txt", "C:\\evil.txt", "\\\\host\\x",
                           "/etc/evil", "a:stream", "a|b"}) {
    SCOPED_TRACE(name);
    Manifest(std::string("<b>2.0</b><b>") + name + "</b>");

    const std::string failure = RunToFailure();

    EXPECT_NE(failure.find("Refused file name"), std::string::npos) << failure;
    EXPECT_EQ(File(u"TakTak.ini"), kOldIni);
    EXPECT_EQ(File(u"TakTak.exe"), "old program");
    fs::remove(dir_.FsPath(u"worker-outcome.txt"));
  }
  for (const auto& request : server_.Requests()) {
    EXPECT_EQ(request.target, "/4/Update/Update.aspx") << "a refused name is never requested";
  }
}

struct BadDelivery {
  const char* what;
  LoopbackServer::Response response;
  const char* failure;
};

TEST_F(UpdaterTest, BadDeliveriesAreNeverSaved) {
  LoopbackServer::Response notFound =
      LoopbackServer::Response::Text("<h1>Not Found</h1>", "HTTP/1.1 404 Not Found");
  LoopbackServer::Response shortBody = LoopbackServer::Response::Text("only part");
  shortBody.contentLength = false;
  shortBody.headers = {"Content-Length: 1000"};
  LoopbackServer::Response stalled = LoopbackServer::Response::Text("late");
  stalled.stall = LoopbackServer::Stall::AfterHeaders;
  const BadDelivery cases[] = {
      {"error status", notFound, "bad response"},
      {"short body", shortBody, ""},
      {"time-out", stalled, "timed out"},
      {"compressed body cut short", GzippedCutShort(LongPage()), "cut short"},
  };
  for (const BadDelivery& c : cases) {
    SCOPED_TRACE(c.what);
    Manifest("<b>2.0</b><b>index.html</b><b>TakTak.exe</b>");
    server_.On("/4/Update/index.html", c.response);

    const std::string failure = RunToFailure();

    EXPECT_NE(failure, "");
    EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    EXPECT_EQ(File(u"html/index.html"), "old page");
    EXPECT_EQ(File(u"TakTak.exe"), "old program");
    EXPECT_EQ(File(u"TakTak.ini"), kOldIni);
    fs::remove(dir_.FsPath(u"worker-outcome.txt"));
  }
}

TEST_F(UpdaterTest, AManifestThatIsNoGoodDeliveryRecordsNothing) {
  const std::pair<const char*, LoopbackServer::Response> cases[] = {
      {"error page", LoopbackServer::Response::Text("<b>oops</b>", "HTTP/1.1 500 Server Error")},
      {"no token", LoopbackServer::Response::Text("<html>maintenance</html>")},
      {"empty body", LoopbackServer::Response::Text("")},
      {"cut short", GzippedCutShort("<html><b>2.0</b><b>a.txt</b>" + LongPage() + "<b>b.txt</b>")},
      {"empty version", Gzipped("<html><b></b><b>a.txt</b></html>")},
      {"version with a line break", Gzipped("<html><b>2.\r\n0</b><b>a.txt</b></html>")},
  };
  for (const auto& [what, response] : cases) {
    SCOPED_TRACE(what);
    server_.On("/4/Update/Update.aspx", response);

    const std::string failure = RunToFailure();

    EXPECT_NE(failure, "");
    EXPECT_EQ(File(u"TakTak.ini"), kOldIni);
    EXPECT_EQ(RequestedPaths().back(), "/4/Update/Update.aspx") << "nothing is fetched after it";
    fs::remove(dir_.FsPath(u"worker-outcome.txt"));
  }
}

// The settings file reads values back without blanks around them, so a padded version is
// recorded as it reads back and matches on the next start.
TEST_F(UpdaterTest, PaddedVersionIsCurrentOnTheNextStart) {
  Manifest("<b> 2.0\t</b><b>index.html</b><b></b>");
  server_.On("/4/Update/index.html", LoopbackServer::Response::Text("new page"));
  EXPECT_EQ(RunToEnd(), std::optional<int>(0));
  EXPECT_EQ(RunToEnd(), std::optional<int>(0));
  EXPECT_EQ(RequestedPaths(),
            (std::vector<std::string>{"/4/Update/Update.aspx", "/4/Update/index.html",
                                      "/4/Update/Update.aspx"}));
  EXPECT_NE(File(u"TakTak.ini").find("CurrentVersion=2.0\r\n"), std::string::npos);
}

// A settings file that goes on after a zero byte is read only up to it, so it is never rewritten
// from what was read: the version stays unrecorded and the file keeps every byte.
TEST_F(UpdaterTest, SettingsFileWithAZeroByteIsNotRewritten) {
  const std::string ini(
      "[version]\r\nCurrentVersion=1.0\r\n[General]\r\nA=\0\r\nLanguage=zh-CN\r\n", 63);
  WriteWholeFile(dir_.FsPath(u"TakTak.ini"), ini);
  Manifest("<b>2.0</b><b></b>");
  const std::string failure = RunToFailure();
  EXPECT_NE(failure.find("zero byte"), std::string::npos) << failure;
  EXPECT_TRUE(File(u"TakTak.ini") == ini);
}

}  // namespace
