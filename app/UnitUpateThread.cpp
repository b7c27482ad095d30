#include "app/UnitUpateThread.h"

#include "app/UnitUpdata.h"
#include "app/UpdateRules.h"
#include "app/platform/Application.h"
#include "os/CodePage.h"
#include "support/WideFileStreams.h"

namespace {

constexpr char16_t kUserAgent[] =
    u"Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.1; Trident/4.0; .NET CLR 2.0.50727)";
constexpr char kProgramName[] = "TakTak.exe";
constexpr char kTokenStart[] = "<b>";
constexpr char kTokenEnd[] = "</b>";

AnsiString Ansi(const char16_t* text) { return os::WideToAnsi(text); }

// What the request just made delivered, for the good-delivery check.
Delivery DeliveryOf(const TIEHTTP& http) {
  Delivery delivery;
  delivery.statusLine = http.ResponseHeaders->Count() > 0 ? (*http.ResponseHeaders)[0] : "";
  delivery.timedOut = http.TimedOut();
  delivery.contentLength = os::WideToAnsi(http.GetResponseHeader(u"Content-Length"));
  delivery.bytesReceived = http.BytesReceived;
  delivery.decodedWhole = http.BodyDecodedWhole();
  return delivery;
}

}  // namespace

std::unique_ptr<TIEHTTP> CreateHttpClient(int TimeoutSeconds) {
  auto http = std::make_unique<TIEHTTP>(nullptr);
  http->UserAgent = kUserAgent;
  http->SetTimeout(TimeoutSeconds);
  return http;
}

void TUpdateThread::ShowProgress() {
  FormUpdate->ProgressBar1->SetMax(static_cast<int>(FHttp->ContentLength));
  FormUpdate->ProgressBar1->SetPosition(static_cast<int>(FHttp->BytesReceived));
}

void TUpdateThread::ShowStatus() { FormUpdate->Label1->SetCaption(FStatus); }

void TUpdateThread::SaveVersion() {
  FormUpdate->Ini->WriteValue("version", "CurrentVersion", FVersion);
}

void TUpdateThread::Fetch(const AnsiString& path, const AnsiString& what) {
  // The address is built as ANSI text and converted from the ANSI code page; no character of a
  // name is escaped.
  FHttp->ExecuteURL(os::AnsiToWide(UpdateServer() + path));
  CheckDelivery(DeliveryOf(*FHttp), what);
}

void TUpdateThread::Execute() {
  try {
    Update();
  } catch (const std::exception& e) {
    ReportWorkerOutcome(e.what());
    throw;  // the thread's trap drops it: failures are silent
  }
}

void TUpdateThread::Update() {
  FHttp = CreateHttpClient(10);
  FHttp->OnPacketRead = [this](TIEHTTP*) { ShowProgress(); };
  SetFreeOnTermination(true);

  Fetch("/4/Update/Update.aspx", "manifest");
  FVersion = FormUpdate->Ini->ReadValue("version", "CurrentVersion", "");

  AnsiString manifest = FHttp->ResponseLines->Text();
  const std::size_t manifestLength = manifest.size();
  AnsiString versionToken;
  TakeBetween(manifest, kTokenStart, kTokenEnd, versionToken);
  // A manifest without any token is no manifest (an error page, say): nothing is recorded.
  if (manifest.size() == manifestLength) throw EUpdateError("manifest: no version token");
  // Checked before anything is fetched: a version that could not be recorded must not cost the
  // application its files.
  versionToken = VersionOfToken(versionToken);

  const bool current = FVersion == versionToken;
  if (current) {
    FStatus = Ansi(u"\u5DF2\u7ECF\u662F\u6700\u65B0\u7248\u672C ") + versionToken + "!";
    CallInMainThread([this] { ShowStatus(); });
  } else {
    AnsiString token = versionToken;
    while (!token.empty()) {
      TakeBetween(manifest, kTokenStart, kTokenEnd, token);
      if (token.empty()) break;
      FStatus = Ansi(u"\u6B63\u5728\u66F4\u65B0 ") + token;
      CallInMainThread([this] { ShowStatus(); });

      AnsiString target;
      if (token == kProgramName) {
        Fetch("/4/Update/Taktak.exe", token);
        target = AppDir + kProgramName;
      } else {
        // Names come from the network: only plain relative names inside html\ are accepted.
        CheckServerFileName(token);
        Fetch("/4/Update/" + token, token);
        target = AppDir + "html\\" + token;
      }
      // Written beside the old file and moved over it in one step: a failed save leaves the old
      // file whole.
      ReplaceFileAtomically(os::AnsiToWide(target), FHttp->ResponseStream->Memory(),
                            FHttp->ResponseStream->Size());
    }
    // Recorded only once every file is in place, so a run that failed part-way is repeated in
    // full by the next one.
    FVersion = versionToken;
    CallInMainThread([this] { SaveVersion(); });
    FStatus = Ansi(u"\u66F4\u65B0\u5B8C\u6210!");
    CallInMainThread([this] { ShowStatus(); });
  }
  FHttp.reset();
  ReportWorkerOutcome("");

  CallInMainThread([current] {
    if (!current) FormUpdate->RequestClose();
    Application().RequestQuit();
  });
}
