// The HTTP client component: one GET or POST request at a time over the internet library, run on
// a transfer thread of its own while the caller waits and receives progress events.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "app/platform/Threads.h"
#include "os/Internet.h"
#include "support/DateTime.h"
#include "support/StringList.h"
#include "support/Strings.h"
#include "support/WideFileStreams.h"

class TIEHTTP;
class TComponent;

// An event handler; the sender is the component that fires it.
using TNotifyEvent = std::function<void(TIEHTTP* sender)>;

// Everything one request's transfer thread touches. The component fills the inputs before the
// thread starts and never changes them afterwards; the thread owns the outputs until it marks
// the transfer done. The thread holds the state by shared ownership, so a transfer that outlives
// its Execute (cut by the time-out, or abandoned when an event handler raised) never touches the
// component, which the caller may reuse or free.
struct TTransferState {
  static constexpr std::uint32_t kChunkSize = 32768;

  explicit TTransferState(os::InternetLibrary& library) : internet(library) {}

  // The whole transfer of one request (session, connection, request, send, headers, body).
  void DoRequest();
  // Fills `headers` and `cookies` from the response.
  void ReadResponseHeaders(os::HINTERNET requestHandle);
  // Reads the body into `stream`; returns the error code of a failed read, else 0.
  std::uint32_t ReadBody(os::HINTERNET requestHandle);
  // Closes the request, connection and session handles, each exactly once, whichever thread
  // comes first.
  void CloseHandles();
  // Closes the session only: the transfer's pending and following calls then fail at once.
  void CloseSession();
  void ResetDeadline();
  // Records the failure that ended the transfer by an exception, unless one is recorded already.
  void RecordFailure(const WideString& text);

  os::InternetLibrary& internet;

  // Inputs, written by the caller before the thread starts.
  WideString userAgent;
  WideString hostName;
  std::uint16_t port = 0;
  bool hasCredentials = false;
  WideString userName;
  WideString password;
  WideString method;
  WideString path;
  WideString headersText;
  AnsiString postData;
  WideString compositionError;

  // Written by the caller during the wait, read by the thread.
  std::atomic<bool> packetHandler{false};
  std::atomic<int> timeoutSeconds{0};
  std::atomic<bool> timedOut{false};

  // Written by the thread (the session also by the caller's cut, through CloseSession).
  std::atomic<os::HINTERNET> session{nullptr};
  std::atomic<os::HINTERNET> connection{nullptr};
  std::atomic<os::HINTERNET> request{nullptr};
  std::atomic<bool> handlesClosed{false};
  std::atomic<std::int32_t> errorCode{0};
  std::atomic<std::uint32_t> contentLength{0};
  std::atomic<std::uint32_t> bytesReceived{0};
  std::atomic<std::uint32_t> packetCount{0};
  std::atomic<TDateTime> lastReadTime{0};
  std::atomic<TDateTime> deadline{0};
  std::atomic<bool> transferDone{false};

  // Written by the thread under `lock`; the caller takes them under `lock` too, the stream only
  // once the transfer is done (until then the thread fills the stream's memory in place).
  std::mutex lock;
  WideString errorText;
  std::unique_ptr<TTntMemoryStream> stream = std::make_unique<TTntMemoryStream>();
  TStringList headers;
  TStringList cookies;

  // The caller waits on it; the thread signals it per chunk (when someone listens) and at the end.
  TEvent event;

 private:
  void Transfer(std::uint32_t& code);
  void SetErrorText(WideString text);
};

// The transfer thread of one request: runs DoRequest, marks the transfer done and signals the
// event. It frees itself when its body returns.
class TTimeout : public TThread {
 public:
  explicit TTimeout(bool createSuspended) : TThread(createSuspended) {}

  std::shared_ptr<TTransferState> FHttpClient;

 protected:
  void Execute() override;
};

// A (name, value) pair of a multipart form, and a file entry of one.
struct TFormField {
  WideString name;
  WideString value;
};
struct TFormFile {
  WideString fieldName;
  WideString fileName;
  AnsiString data;
};

// The HTTP client component. Not thread-safe: one thread sets it up, runs its requests and reads
// the results; only the transfer thread works alongside, on a state of its own.
class TIEHTTP {
 public:
  // Uses the platform's internet library unless another one is given (tests hand in fakes).
  explicit TIEHTTP(TComponent* owner = nullptr,
                   os::InternetLibrary& internet = os::DefaultInternet());
  ~TIEHTTP();
  TIEHTTP(const TIEHTTP&) = delete;
  TIEHTTP& operator=(const TIEHTTP&) = delete;

  // Published properties. The guarded setters raise Exception while a request runs.
  const WideString& postStr() const { return FpostStr; }
  const WideString& getStr() const { return FgetStr; }
  const WideString& URL() const { return FURL; }
  std::int32_t Timeout() const { return FTimeout; }
  std::int32_t TimerIntervalSeconds() const { return FTimerIntervalSeconds; }
  bool BlockingMode() const { return FBlockingMode; }
  const WideString& RequestMethod() const { return FRequestMethod; }
  bool MultipartPOST() const { return FMultipartPOST; }
  TNotifyEvent OnPacketRead;
  TNotifyEvent OnTimer;

  void SetpostStr(const WideString& value);
  void SetgetStr(const WideString& value);
  void SetURL(const WideString& value);
  void SetTimeout(std::int32_t value) { FTimeout = value; }
  void SetTimerIntervalSeconds(std::int32_t value) { FTimerIntervalSeconds = value; }
  void SetBlockingMode(bool value) { FBlockingMode = value; }
  void SetRequestMethod(const WideString& value);
  void SetMultipartPOST(bool value);

  // Runs one request; see Execute. Raises what Execute raises.
  void ExecuteURL(const WideString& url);
  // Runs one request for URL and waits for it. Returns normally with the response, or with an
  // empty body when the request was cut by its time-out; raises "TIEHTTP: no url in execute
  // method", "wininet error # <code> : <text>" or "tiehttp error: <text>" on failure, and lets an
  // event handler's exception through.
  void Execute();

  // Splits FURL into FUrlParts and takes the query as the POST body.
  void CrackURL();
  // Request composition, run by Execute before the transfer starts.
  void AppendGetStr();
  void PrepareRequest();
  void AddHeader(const WideString& line);
  void BuildMultipart();
  void AddFormField(const WideString& name, const WideString& value);

  // The index of the response header line of that name (any letter case, blanks and one ":"
  // ignored), or -1; and the text after its ": ", empty when absent.
  int IndexOfResponseHeader(const WideString& name) const;
  WideString GetResponseHeader(const WideString& name) const;
  // FDeadline := now + Timeout seconds.
  void ResetDeadline();
  static WideString WinInetErrorText(std::int32_t code);
  // The message a request raises for what it recorded: the WinInet code's when there is one
  // (a text recorded beside it is not reported), else the error text's; empty when neither.
  static WideString RecordedErrorMessage(std::int32_t errorCode, const WideString& errorText);

  // Read or set by callers directly.
  WideString UserAgent = u"tiehttp";
  std::unique_ptr<TStringList> ResponseLines;
  std::unique_ptr<TTntMemoryStream> ResponseStream;
  std::unique_ptr<TStringList> ResponseCookies;
  std::unique_ptr<TStringList> RequestHeaders;
  std::unique_ptr<TStringList> ResponseHeaders;
  std::uint32_t BytesReceived = 0;
  std::uint32_t ContentLength = 0;
  WideString UserName;
  WideString Password;
  WideString ProxyUser;
  WideString ProxyPassword;

  // Internal state, readable for inspection.
  const WideString& Headers() const { return FHeaders; }
  const AnsiString& PostData() const { return FPostData; }
  const WideString& ContentType() const { return FContentType; }
  const WideString& RequestPath() const { return FRequestPath; }
  const os::URL_COMPONENTSW& UrlParts() const { return FUrlParts; }
  std::int32_t ErrorCode() const { return FErrorCode; }
  const WideString& ErrorText() const { return FErrorText; }
  bool Busy() const { return FBusy != 0; }
  bool TimedOut() const { return FTimedOut; }
  // False when the last response's body carried the compressed-body signature but did not decode
  // whole (cut short or damaged); ResponseStream holds what did decode, as always.
  bool BodyDecodedWhole() const { return FBodyDecodedWhole; }
  std::uint32_t PacketCount() const { return FPacketCount; }
  std::uint32_t PacketEvents() const { return FPacketEvents; }
  std::uint32_t TimerEvents() const { return FTimerEvents; }
  const std::vector<TFormField>& FormFields() const { return FFormFields; }
  std::vector<TFormFile>& FormFiles() { return FFormFiles; }
  void SetDecodeMode(char mode) { FDecodeMode = mode; }

 private:
  // False when a later Execute, run from an event handler, took the component over.
  bool RunRequest(const std::shared_ptr<TTransferState>& state);
  void StartTransfer(const std::shared_ptr<TTransferState>& state);
  void WaitForTransfer(const std::shared_ptr<TTransferState>& state);
  void CutRunningRequest();
  void TakeProgress(TTransferState& state);
  void TakeResults(TTransferState& state, bool withBody);
  void ConvertBody();
  void CleanUp();
  [[noreturn]] void Raise(const WideString& message);

  os::InternetLibrary& FInternet;
  WideString FHeaders;
  AnsiString FPostData;
  std::int32_t FTimeout = 90;
  std::int32_t FTimerIntervalSeconds = 0;
  bool FTimedOut = false;
  bool FBodyDecodedWhole = true;
  bool FHandlesClosed = false;
  bool FBlockingMode = true;
  TDateTime FLastReadTime = 0;
  TDateTime FLastPacketEventTime = 0;
  TDateTime FLastTimerTime = 0;
  TDateTime FDeadline = 0;
  WideString FpostStr;
  WideString FgetStr;
  WideString FRequestMethod;
  bool FMultipartPOST = false;
  WideString FURL;
  // The running request's transfer; none between requests.
  std::shared_ptr<TTransferState> FTransfer;
  std::int32_t FErrorCode = 0;
  WideString FErrorText;
  // The split's failure text, kept so that Execute can report it.
  WideString FUrlError;
  std::int32_t FBusy = 0;
  WideString FContentType;
  std::vector<TFormField> FFormFields;
  std::vector<TFormFile> FFormFiles;
  os::URL_COMPONENTSW FUrlParts{};
  std::array<char16_t, 2048> FHostBuffer{};
  std::array<char16_t, 2048> FPathBuffer{};
  std::array<char16_t, 2048> FExtraBuffer{};
  WideString FUrlUserName;
  WideString FUrlPassword;
  // The path composed by AppendGetStr; the split path in FUrlParts stays as split.
  WideString FRequestPath;
  std::uint32_t FPacketCount = 0;
  std::uint32_t FPacketEvents = 0;
  std::uint32_t FTimerEvents = 0;
  char FDecodeMode = 0;
};
