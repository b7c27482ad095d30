#include "http/IEHTTP3.h"

#include <cstring>
#include <new>
#include <string_view>

#include "app/platform/Application.h"
#include "app/platform/Controls.h"
#include "os/CodePage.h"
#include "support/CompressedBody.h"
#include "support/Exceptions.h"
#include "support/TextHelpers.h"

namespace {

constexpr char kBoundaryAnsi[] = "-----------------------------7cf87224d2020a";
constexpr char16_t kMultipartType[] =
    u"multipart/form-data; boundary=-----------------------------7cf87224d2020a";
constexpr char16_t kFormType[] = u"application/x-www-form-urlencoded";
constexpr char16_t kBusyText[] = u"tiehttp: Cannot change parameters while processing request";
constexpr std::uint32_t kSecureFlags = os::INTERNET_FLAG_RELOAD | os::INTERNET_FLAG_SECURE |
                                       os::INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                       os::INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
                                       os::INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr std::uint32_t kErrorInternalError = 12004;
// Header queries use one buffer of 10000 bytes.
constexpr std::uint32_t kHeaderBufferChars = 5000;

WideString Decimal(long long value) {
  const std::string digits = std::to_string(value);
  return WideString(digits.begin(), digits.end());
}

[[noreturn]] void RaiseWide(const WideString& message) { throw Exception(os::WideToAnsi(message)); }

AnsiString LowerAscii(AnsiString s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool IsTrimmed(char16_t c) { return c <= 32; }

// The header lookup shared by the component and its transfer.
int IndexOfHeader(const TStringList& lines, const WideString& name) {
  WideString key = os::WideLowerCase(name);
  std::size_t begin = 0, end = key.size();
  while (begin < end && IsTrimmed(key[begin])) ++begin;
  while (end > begin && IsTrimmed(key[end - 1])) --end;
  key = key.substr(begin, end - begin);
  if (!key.empty() && key.back() == u':') key.pop_back();
  if (key.empty()) return -1;
  const AnsiString prefix = os::WideToAnsi(key) + ": ";
  for (std::size_t i = 0; i < lines.Count(); ++i) {
    if (LowerAscii(lines[i].substr(0, prefix.size())) == prefix) return static_cast<int>(i);
  }
  return -1;
}

WideString HeaderValue(const TStringList& lines, const WideString& name) {
  const int index = IndexOfHeader(lines, name);
  if (index < 0) return {};
  const AnsiString& line = lines[static_cast<std::size_t>(index)];
  return os::AnsiToWide(line.substr(line.find(": ") + 2));
}

// A signed 32-bit decimal integer, the whole text; false for anything else.
bool ParseInt32(const WideString& text, std::int32_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    v = v * 10 + (text[i] - u'0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool Contains(const WideString& s, std::u16string_view part) {
  return s.find(part) != WideString::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The transfer, on the transfer thread.

void TTimeout::Execute() {
  SetFreeOnTermination(true);
  TTransferState& state = *FHttpClient;
  state.transferDone = false;
  try {
    state.DoRequest();
  } catch (const std::bad_alloc&) {
    state.RecordFailure(u"Out of memory");
  } catch (const std::exception& e) {
    state.RecordFailure(os::AnsiToWide(e.what()));
  } catch (...) {
    state.RecordFailure(u"Transfer failed");
  }
  state.transferDone = true;
  state.event.SetEvent();
}

void TTransferState::SetErrorText(WideString text) {
  std::lock_guard<std::mutex> guard(lock);
  errorText = std::move(text);
}

void TTransferState::RecordFailure(const WideString& text) {
  // A failure the transfer recorded itself says more; one that recorded nothing must not pass
  // for a complete response.
  std::lock_guard<std::mutex> guard(lock);
  if (errorCode == 0 && errorText.empty()) errorText = text;
}

void TTransferState::ResetDeadline() { deadline = Now() + SecondsToDays(timeoutSeconds.load()); }

void TTransferState::DoRequest() {
  packetCount = 0;
  std::uint32_t code = 0;
  try {
    Transfer(code);
  } catch (...) {
    CloseHandles();
    errorCode = static_cast<std::int32_t>(code);
    throw;
  }
  CloseHandles();
  errorCode = static_cast<std::int32_t>(code);
}

void TTransferState::Transfer(std::uint32_t& code) {
  os::HINTERNET s = internet.InternetOpenW(userAgent.c_str(), os::INTERNET_OPEN_TYPE_PRECONFIG,
                                           nullptr, nullptr, 0);
  session = s;
  if (s == nullptr) {
    SetErrorText(u"Could not open Internet");
    return;
  }
  // A cut that came before the session existed could not close it: stop here instead.
  if (timedOut) return;

  os::HINTERNET c = internet.InternetConnectW(
      s, hostName.c_str(), port, hasCredentials ? userName.c_str() : nullptr,
      hasCredentials ? password.c_str() : nullptr, os::INTERNET_SERVICE_HTTP, 0, 0);
  connection = c;
  if (c == nullptr) {
    SetErrorText(u"Could not connect to server " + hostName);
    return;
  }

  const std::uint32_t flags = port == os::INTERNET_DEFAULT_HTTPS_PORT
                                  ? kSecureFlags
                                  : static_cast<std::uint32_t>(os::INTERNET_FLAG_RELOAD);
  internet.SetLastError(0);
  os::HINTERNET r = internet.HttpOpenRequestW(c, method.c_str(), path.c_str(), u"HTTP/1.0", nullptr,
                                              nullptr, flags, 0);
  request = r;
  const std::uint32_t e = internet.GetLastError();
  if (e != 0 && e != os::ERROR_INSUFFICIENT_BUFFER_CODE && e != os::ERROR_MOD_NOT_FOUND_CODE &&
      e != os::ERROR_ALREADY_EXISTS_CODE) {
    code = e;
    errorCode = static_cast<std::int32_t>(e);
    return;
  }
  if (r == nullptr) {
    SetErrorText(u"Could not open HTTP request");
    return;
  }
  if (!compositionError.empty()) {
    SetErrorText(compositionError);
    return;
  }

  const auto send = [&] {
    return internet.HttpSendRequestW(r, headersText.c_str(),
                                     static_cast<std::uint32_t>(headersText.size()),
                                     postData.data(), static_cast<std::uint32_t>(postData.size()));
  };
  // A failed call that left no error code must not pass for success.
  const auto lastError = [&] {
    const std::uint32_t value = internet.GetLastError();
    return value != 0 ? value : kErrorInternalError;
  };
  if (!send()) {
    code = lastError();
    if (code == os::ERROR_INTERNET_INVALID_CA) {
      std::uint32_t security = 0, length = sizeof security;
      internet.InternetQueryOptionW(r, os::INTERNET_OPTION_SECURITY_FLAGS, &security, &length);
      security |= os::SECURITY_FLAG_IGNORE_UNKNOWN_CA;
      internet.InternetSetOptionW(r, os::INTERNET_OPTION_SECURITY_FLAGS, &security,
                                  sizeof security);
      code = send() ? 0 : lastError();
    }
  }
  if (code != 0) return;

  contentLength = 0;
  std::uint32_t length = 0, lengthSize = sizeof length, index = 0;
  internet.HttpQueryInfoW(r, os::HTTP_QUERY_CONTENT_LENGTH | os::HTTP_QUERY_FLAG_NUMBER, &length,
                          &lengthSize, &index);
  contentLength = length == 0 ? 1 : length;
  bytesReceived = 0;
  ReadResponseHeaders(r);
  if (contentLength <= 1) {
    WideString custom;
    {
      std::lock_guard<std::mutex> guard(lock);
      custom = HeaderValue(headers, u"Custom-Content-Length");
    }
    std::int32_t value = 0;
    // A value that is no integer, or none above 0, is ignored, as if the header were absent.
    if (!custom.empty() && custom != u"0" && ParseInt32(custom, value) && value > 0) {
      contentLength = static_cast<std::uint32_t>(value);
    }
  }
  ResetDeadline();
  code = ReadBody(r);
}

void TTransferState::ReadResponseHeaders(os::HINTERNET requestHandle) {
  std::array<char16_t, kHeaderBufferChars> text{};
  TStringList cookieLines;
  std::uint32_t index = 0;
  for (;;) {
    std::uint32_t size = sizeof text;
    const std::uint32_t before = index;
    if (!internet.HttpQueryInfoW(requestHandle, os::HTTP_QUERY_SET_COOKIE, text.data(), &size,
                                 &index)) {
      break;
    }
    cookieLines.Add(
        os::WideToAnsi(WideString(text.data(), std::min<std::size_t>(size / 2, text.size()))));
    // The library advances the index to the next Set-Cookie header; one that does not would
    // return the same header for ever.
    if (index == before) break;
  }
  text.fill(0);
  index = 0;
  std::uint32_t size = sizeof text;
  const bool haveHeaders = internet.HttpQueryInfoW(requestHandle, os::HTTP_QUERY_RAW_HEADERS_CRLF,
                                                   text.data(), &size, &index);
  std::lock_guard<std::mutex> guard(lock);
  cookies = cookieLines;
  if (haveHeaders) {
    headers.SetText(
        os::WideToAnsi(WideString(text.data(), std::min<std::size_t>(size / 2, text.size()))));
  }
}

std::uint32_t TTransferState::ReadBody(os::HINTERNET requestHandle) {
  for (;;) {
    // Each chunk is read straight into the free end of the stream: the body is copied once.
    std::uint8_t* space = stream->BeginWrite(kChunkSize);
    std::uint32_t n = 0;
    const bool ok = internet.InternetReadFile(requestHandle, space, kChunkSize, &n);
    if (!ok) n = 0;
    const std::uint32_t failure = ok ? 0 : internet.GetLastError();
    n = std::min(n, kChunkSize);
    {
      std::lock_guard<std::mutex> guard(lock);
      if (timedOut) {
        stream->Clear();
        return 0;
      }
      stream->EndWrite(n);
    }
    bytesReceived += n;
    ++packetCount;
    // One clock reading stamps the chunk and renews the deadline.
    const TDateTime now = Now();
    lastReadTime = now;
    deadline = now + SecondsToDays(timeoutSeconds.load());
    if (n > 0 && packetHandler) event.SetEvent();
    if (ok && n == 0) return 0;
    // A failed read ends the body: what was read stays, and the request reports the code.
    if (!ok) return failure != 0 ? failure : kErrorInternalError;
  }
}

void TTransferState::CloseHandles() {
  if (handlesClosed.exchange(true)) return;
  if (os::HINTERNET h = request.exchange(nullptr)) internet.InternetCloseHandle(h);
  if (os::HINTERNET h = connection.exchange(nullptr)) internet.InternetCloseHandle(h);
  CloseSession();
}

void TTransferState::CloseSession() {
  if (os::HINTERNET h = session.exchange(nullptr)) internet.InternetCloseHandle(h);
}

// ---------------------------------------------------------------------------------------------
// The component, on the caller's thread.

TIEHTTP::TIEHTTP(TComponent* /*owner*/, os::InternetLibrary& internet) : FInternet(internet) {
  SetRequestMethod(u"GET");
  SetMultipartPOST(false);
  ResponseLines = std::make_unique<TStringList>();
  ResponseStream = std::make_unique<TTntMemoryStream>();
  ResponseStream->SetPosition(0);
  ResponseHeaders = std::make_unique<TStringList>();
  RequestHeaders = std::make_unique<TStringList>();
  RequestHeaders->Add("Accept-Encoding: gzip, deflate");
  ResponseCookies = std::make_unique<TStringList>();
  UserAgent = u"tiehttp";
  FBlockingMode = true;
  FTimeout = 90;
  FBusy = 0;

  // The library's default receive time-out of 30 s would cut slow downloads that the
  // component's own time-out allows; lift it once for the whole process.
  std::uint32_t receiveTimeout = 0, size = sizeof receiveTimeout;
  if (FInternet.InternetQueryOptionW(nullptr, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout,
                                     &size) &&
      receiveTimeout == 30000) {
    const std::uint32_t none = 0;
    FInternet.InternetSetOptionW(nullptr, os::INTERNET_OPTION_RECEIVE_TIMEOUT, &none, sizeof none);
  }
}

TIEHTTP::~TIEHTTP() {
  ResponseLines.reset();
  ResponseStream.reset();
  ResponseCookies.reset();
  ResponseHeaders.reset();
  RequestHeaders.reset();
}

void TIEHTTP::SetpostStr(const WideString& value) {
  if (FBusy == 1) RaiseWide(kBusyText);
  FpostStr = value;
}

void TIEHTTP::SetgetStr(const WideString& value) {
  if (FBusy == 1) RaiseWide(kBusyText);
  FgetStr = value;
}

void TIEHTTP::SetMultipartPOST(bool value) {
  if (FBusy == 1) RaiseWide(kBusyText);
  FMultipartPOST = value;
  SetRequestMethod(value ? WideString(u"POST") : FRequestMethod);
}

void TIEHTTP::SetRequestMethod(const WideString& value) {
  if (FBusy == 1) RaiseWide(u"Cannot change parameters while processing request");
  const WideString method = os::AnsiToWide(os::AnsiUpperCase(os::WideToAnsi(value)));
  if (method != u"POST" && method != u"GET") {
    RaiseWide(u"Unsupported method. Allowed methods: GET, POST");
  }
  FRequestMethod = method;
  if (method == u"POST") {
    FContentType = FMultipartPOST ? kMultipartType : kFormType;
  } else {
    FContentType.clear();
  }
}

void TIEHTTP::SetURL(const WideString& value) {
  FURL = value;
  if (FURL.empty()) {
    FUrlParts = os::URL_COMPONENTSW{};
    FUrlParts.dwStructSize = 0;
    FUrlError.clear();
    return;
  }
  if (!Contains(os::WideLowerCase(FURL), u"://")) FURL = u"http://" + FURL;
  CrackURL();
}

void TIEHTTP::CrackURL() {
  FUrlParts = os::URL_COMPONENTSW{};
  FUrlParts.dwStructSize = sizeof(os::URL_COMPONENTSW);
  FUrlParts.lpszHostName = FHostBuffer.data();
  FUrlParts.dwHostNameLength = FHostBuffer.size();
  FUrlParts.lpszUrlPath = FPathBuffer.data();
  FUrlParts.dwUrlPathLength = FPathBuffer.size();
  FUrlParts.lpszExtraInfo = FExtraBuffer.data();
  FUrlParts.dwExtraInfoLength = FExtraBuffer.size();
  FPostData.clear();
  FUrlError.clear();
  FUrlUserName.clear();
  FUrlPassword.clear();

  if (!FInternet.InternetCrackUrlW(FURL.c_str(), 0, os::ICU_ESCAPE, &FUrlParts)) {
    const std::uint32_t code = FInternet.GetLastError();
    FErrorText = u"tiehttp: Invalid URL. Error - " + Decimal(static_cast<std::int32_t>(code)) +
                 u" = " + os::AnsiToWide(FInternet.ErrorMessage(code));
    FUrlError = FErrorText;
    return;
  }
  if (FUrlParts.dwUrlPathLength == 0) {
    FErrorText = u"tiehttp: Empty URL";
    FUrlError = FErrorText;
    return;
  }
  const AnsiString query = WideToUtf8(WideString(FExtraBuffer.data(), FUrlParts.dwExtraInfoLength));
  for (const char c : query) {
    if (c == '+') {
      FPostData += "%2B";
    } else {
      FPostData.push_back(c);
    }
  }
  if (!UserName.empty()) {
    FUrlUserName = UserName;
    FUrlPassword = Password;
    FUrlParts.lpszUserName = FUrlUserName.data();
    FUrlParts.dwUserNameLength = FUrlUserName.size();
    FUrlParts.lpszPassword = FUrlPassword.data();
    FUrlParts.dwPasswordLength = FUrlPassword.size();
  }
}

void TIEHTTP::ExecuteURL(const WideString& url) {
  SetURL(url);
  Execute();
}

int TIEHTTP::IndexOfResponseHeader(const WideString& name) const {
  return IndexOfHeader(*ResponseHeaders, name);
}

WideString TIEHTTP::GetResponseHeader(const WideString& name) const {
  return HeaderValue(*ResponseHeaders, name);
}

void TIEHTTP::ResetDeadline() {
  FDeadline = Now() + SecondsToDays(FTimeout);
  if (FTransfer) {
    FTransfer->timeoutSeconds = FTimeout;
    FTransfer->deadline = FDeadline;
  }
}

WideString TIEHTTP::WinInetErrorText(std::int32_t code) {
  struct Entry {
    std::int32_t code;
    const char16_t* text;
  };
  static constexpr Entry kTexts[] = {
      {12001, u"(Out of handles)"},
      {12002, u"(Timeout)"},
      {12004, u"(Internal Error)"},
      {12005, u"(Invalid URL)"},
      {12006, u"(Unrecognized Scheme)"},
      {12007, u"(Service Name Not Resolved)"},
      {12008, u"(Protocol Not Found)"},
      {12013, u"(Incorrect User Name)"},
      {12014, u"(Incorrect Password)"},
      {12015, u"(Login Failure)"},
      {12016, u"(Invalid Operation)"},
      {12017, u"(Operation Canceled)"},
      {12020, u"(Not Proxy Request)"},
      {12023, u"(No Direct Access)"},
      {12026, u"(Request Pending)"},
      {12027, u"(Incorrect Format)"},
      {12028, u"(Item not found)"},
      {12029, u"(Cannot connect)"},
      {12030, u"(Connection Aborted)"},
      {12031, u"(Connection Reset)"},
      {12033, u"(Invalid Proxy Request)"},
      {12034, u"(Need UI)"},
      {12035, u"(Sec Cert Date Invalid)"},
      {12038, u"(Sec Cert CN Invalid)"},
      {12044, u"(Client Auth Cert Needed)"},
      {12045, u"(Invalid CA Cert)"},
      {12046, u"(Client Auth Not Setup)"},
      {12150, u"(HTTP Header Not Found)"},
      {12152, u"(Invalid HTTP Server Response)"},
      {12153, u"(Invalid HTTP Header)"},
      {12154, u"(Invalid Query Request)"},
      {12156, u"(Redirect Failed)"},
      {12159, u"(TCP/IP not installed)"},
  };
  for (const Entry& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return u"(Unknown WININET error # " + Decimal(code) + u")";
}

// ---------------------------------------------------------------------------------------------
// Request composition.

void TIEHTTP::AppendGetStr() {
  WideString path;
  if (FUrlParts.lpszUrlPath != nullptr)
    path.assign(FUrlParts.lpszUrlPath, FUrlParts.dwUrlPathLength);
  if (FRequestMethod == u"GET" && FUrlParts.lpszExtraInfo != nullptr) {
    path.append(FUrlParts.lpszExtraInfo, FUrlParts.dwExtraInfoLength);
  }
  if (!FgetStr.empty()) {
    path += Contains(path, u"?") ? u"&" : u"?";
    path += FgetStr;
    FgetStr.clear();
  }
  FRequestPath = path;
}

void TIEHTTP::PrepareRequest() {
  const bool get = FRequestMethod == u"GET";
  if (get) FPostData.clear();
  if (!FPostData.empty() && FPostData.front() == '?') FPostData.erase(0, 1);
  if (!FpostStr.empty()) {
    if (get) {
      // Refused: a GET carries no body, and dropping the text silently would lose it.
      FErrorText = u"No poststr allowed in GET method";
    } else if (FPostData.empty()) {
      FPostData = WideToUtf8(FpostStr);
    } else {
      FPostData.push_back('&');
      FPostData += WideToUtf8(FpostStr);
    }
    FpostStr.clear();
  }
  if (FRequestMethod == u"POST") {
    if (FContentType.empty()) FContentType = kFormType;
  } else {
    FContentType.clear();
  }
  if (!FContentType.empty() && !Contains(FContentType, u"Content-Type:")) {
    FContentType = u"Content-Type: " + FContentType;
  }
  FHeaders.clear();
  if (!FContentType.empty()) AddHeader(FContentType);
  if (!ProxyUser.empty()) {
    AnsiString encoded;
    Base64Encode(os::WideToAnsi(ProxyUser) + ":" + os::WideToAnsi(ProxyPassword), encoded);
    AddHeader(u"Proxy-Authorization: Basic " + os::AnsiToWide(encoded));
  }
  const AnsiString extra = RequestHeaders->Text();
  if (!extra.empty()) AddHeader(os::AnsiToWide(extra));
  if (Contains(os::WideLowerCase(FContentType), u"multipart")) BuildMultipart();
}

void TIEHTTP::AddHeader(const WideString& line) {
  if (!FHeaders.empty()) FHeaders += u"\r\n";
  FHeaders += line;
}

void TIEHTTP::BuildMultipart() {
  AnsiString data = FPostData;
  if (!data.empty()) {
    if (data.front() == '&') data.erase(0, 1);
    arStr pieces;
    SplitString(data, '&', pieces);
    for (const AnsiString& piece : pieces) {
      arStr pair;
      SplitString(piece, '=', pair);
      if (pair.size() != 2) {
        FErrorText = u"could not convert " + os::AnsiToWide(piece) + u" to multipart";
        return;
      }
      AddFormField(os::AnsiToWide(pair[0]), os::AnsiToWide(pair[1]));
    }
  }
  if (FFormFields.empty() && FFormFiles.empty()) {
    FErrorText = u"multipart error: no variables to post";
    return;
  }
  const AnsiString boundary = kBoundaryAnsi;
  AnsiString body;
  for (const TFormField& field : FFormFields) {
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"" + os::WideToAnsi(field.name) + "\"\r\n";
    body += "\r\n";
    body += WideToUtf8(field.value) + "\r\n";
  }
  for (const TFormFile& file : FFormFiles) {
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"" + os::WideToAnsi(file.fieldName) +
            "\"; filename=\"" + os::WideToAnsi(file.fileName) + "\"\r\n";
    body += "Content-Transfer-Encoding: binary\r\n";
    body += "\r\n";
    body += file.data + "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  FPostData = body;
}

void TIEHTTP::AddFormField(const WideString& name, const WideString& value) {
  for (TFormField& field : FFormFields) {
    if (field.name == name) {
      field.value = value;
      return;
    }
  }
  FFormFields.push_back({name, value});
}

// ---------------------------------------------------------------------------------------------
// Request execution.

void TIEHTTP::Raise(const WideString& message) { RaiseWide(message); }

void TIEHTTP::Execute() {
  if (FBusy != 0) {
    if (ShowMessageDialog(
            os::WideToAnsi(u"Request is in progress (iehttp). Override and continue?"),
            mtConfirmation, {mbOK, mbCancel}) != mrOk) {
      return;
    }
    // The running request is given up before this one reuses the component.
    CutRunningRequest();
  }
  FBusy = 1;
  FErrorCode = 0;
  FErrorText.clear();
  BytesReceived = 0;
  ContentLength = 0;
  if (FURL.empty()) {
    FBusy = 0;
    Raise(u"TIEHTTP: no url in execute method");
  }
  if (!FUrlError.empty()) {
    // Running with the parts of an earlier URL would fetch the wrong thing.
    FErrorText = FUrlError;
    CleanUp();
    Raise(u"tiehttp error: " + FErrorText);
  }

  const auto state = std::make_shared<TTransferState>(FInternet);
  bool ownRequest = true;
  try {
    ownRequest = RunRequest(state);
  } catch (...) {
    if (FTransfer == state) {
      // An event handler raised: the transfer is given up so that it ends at once.
      state->timedOut = true;
      state->CloseSession();
      FTransfer.reset();
      CleanUp();
    }
    throw;
  }
  // A request that a later Execute overrode from an event handler leaves that request's
  // results alone.
  if (!ownRequest) return;
  CleanUp();
  const WideString failure = RecordedErrorMessage(FErrorCode, FErrorText);
  if (!failure.empty()) Raise(failure);
}

WideString TIEHTTP::RecordedErrorMessage(std::int32_t errorCode, const WideString& errorText) {
  if (errorCode > 0) {
    return u"wininet error # " + Decimal(errorCode) + u" : " + WinInetErrorText(errorCode);
  }
  if (!errorText.empty()) return u"tiehttp error: " + errorText;
  return {};
}

bool TIEHTTP::RunRequest(const std::shared_ptr<TTransferState>& state) {
  ResponseLines->Clear();
  ResponseStream->Clear();
  // Header lists of an earlier response must not describe this one.
  ResponseHeaders->Clear();
  ResponseCookies->Clear();
  FTransfer = state;
  ResetDeadline();
  FTimedOut = false;
  FBodyDecodedWhole = true;
  FHandlesClosed = false;
  FLastReadTime = Now();
  FLastPacketEventTime = Now();
  state->lastReadTime = FLastReadTime;
  FPacketCount = 0;
  FPacketEvents = 0;
  FTimerEvents = 0;

  // Composition runs here, before the transfer starts, so that the transfer thread works only
  // on its own state; a composition error is reported by the transfer in its order.
  AppendGetStr();
  PrepareRequest();
  state->compositionError = std::exchange(FErrorText, WideString());
  state->userAgent = UserAgent;
  state->hostName.assign(FUrlParts.lpszHostName, FUrlParts.dwHostNameLength);
  state->port = FUrlParts.nPort;
  state->hasCredentials = FUrlParts.lpszUserName != nullptr;
  if (state->hasCredentials) {
    state->userName.assign(FUrlParts.lpszUserName, FUrlParts.dwUserNameLength);
    state->password.assign(FUrlParts.lpszPassword, FUrlParts.dwPasswordLength);
  }
  state->method = FRequestMethod;
  state->path = FRequestPath;
  state->headersText = FHeaders;
  state->postData = FPostData;
  state->packetHandler = static_cast<bool>(OnPacketRead);

  StartTransfer(state);
  WaitForTransfer(state);
  if (FTransfer != state) return false;
  FTransfer.reset();

  try {
    ResponseStream->SetPosition(0);
    FBodyDecodedWhole = DecodeCompressed(ResponseStream, FURL, FDecodeMode);
    ResponseStream->SetPosition(0);
    ConvertBody();
  } catch (...) {
    // The transfer is over, so Execute leaves this to the caller: without it the component
    // would stay busy for good.
    CleanUp();
    throw;
  }
  return true;
}

void TIEHTTP::StartTransfer(const std::shared_ptr<TTransferState>& state) {
  auto thread = std::make_unique<TTimeout>(true);
  thread->FHttpClient = state;
  thread->StartThread();
  // Once started, the thread frees itself; it is not touched after this.
  thread.release();
}

void TIEHTTP::WaitForTransfer(const std::shared_ptr<TTransferState>& state) {
  for (;;) {
    try {
      state->event.WaitFor(500);
      state->event.ResetEvent();
    } catch (...) {
      Raise(u"CANNOT call WaitForSingleObject. Event handle =" +
            Decimal(static_cast<long long>(reinterpret_cast<std::uintptr_t>(&state->event))) +
            u" .thread done=" + (state->transferDone ? u"-1" : u"0"));
    }
    state->packetHandler = static_cast<bool>(OnPacketRead);
    state->timeoutSeconds = FTimeout;
    TakeProgress(*state);

    const TDateTime t = FLastReadTime;
    if (OnPacketRead && t > FLastPacketEventTime) {
      FLastPacketEventTime = t;
      ++FPacketEvents;
      OnPacketRead(this);
      if (FTransfer != state) return;
    }
    if (OnTimer && FTimerIntervalSeconds > 0 &&
        Now() > FLastTimerTime + SecondsToDays(FTimerIntervalSeconds)) {
      FLastTimerTime = Now();
      ++FTimerEvents;
      OnTimer(this);
      if (FTransfer != state) return;
    }
    if (!FBlockingMode) {
      Application().PumpMessages();
      if (FTransfer != state) return;
    }
    // A transfer that has finished is taken, however late the caller came back to look.
    if (FTimeout > 0 && !state->transferDone && Now() > state->deadline) {
      // What the transfer recorded up to now counts; failures that closing the session causes
      // in it do not.
      TakeResults(*state, false);
      state->timedOut = true;
      state->CloseSession();
      FTimedOut = true;
      ResponseStream->Clear();
      return;
    }
    if (state->transferDone) {
      TakeResults(*state, true);
      return;
    }
  }
}

void TIEHTTP::CutRunningRequest() {
  const std::shared_ptr<TTransferState> running = FTransfer;
  if (!running) return;
  running->timedOut = true;
  running->CloseSession();
  // Closing the session makes the transfer's calls fail at once, so this wait is short.
  while (!running->transferDone) {
    running->event.ResetEvent();
    if (running->transferDone) break;
    running->event.WaitFor(500);
  }
  FTransfer.reset();
  FBusy = 0;
}

void TIEHTTP::TakeProgress(TTransferState& state) {
  BytesReceived = state.bytesReceived;
  ContentLength = state.contentLength;
  FLastReadTime = state.lastReadTime;
  FDeadline = state.deadline;
  FPacketCount = state.packetCount;
}

void TIEHTTP::TakeResults(TTransferState& state, bool withBody) {
  std::lock_guard<std::mutex> guard(state.lock);
  if (withBody) std::swap(ResponseStream, state.stream);
  *ResponseHeaders = state.headers;
  *ResponseCookies = state.cookies;
  FErrorText = state.errorText;
  FErrorCode = state.errorCode;
  TakeProgress(state);
}

void TIEHTTP::ConvertBody() {
  const AnsiString headerText = ResponseHeaders->Text();
  const bool utf8 = headerText.find("charset=utf-8") != AnsiString::npos;
  const bool utf16 = !utf8 && headerText.find("charset=utf-16") != AnsiString::npos;
  if (!utf8 && !utf16) {
    // The lines end at the first zero byte, so only the bytes before it are copied: a binary
    // body of any size costs no second copy of itself.
    const auto* bytes = reinterpret_cast<const char*>(ResponseStream->Memory());
    const auto size = static_cast<std::size_t>(ResponseStream->Size());
    const void* zero = size != 0 ? std::memchr(bytes, 0, size) : nullptr;
    const std::size_t used = zero != nullptr ? static_cast<const char*>(zero) - bytes : size;
    ResponseLines->SetText(AnsiString(bytes, used));
    return;
  }
  AnsiString body;
  StreamToString(*ResponseStream, body);
  ResponseStream->SetPosition(0);
  if (utf8) {
    ResponseLines->SetText(os::WideToAnsi(Utf8ToWide(body)));
    return;
  }
  // Little-endian code units up to the first zero unit; an odd last byte is dropped.
  WideString text;
  for (std::size_t i = 0; i + 1 < body.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(static_cast<std::uint8_t>(body[i]) |
                                                static_cast<std::uint8_t>(body[i + 1]) << 8);
    if (unit == 0) break;
    text.push_back(unit);
  }
  ResponseLines->SetText(os::WideToAnsi(text));
}

void TIEHTTP::CleanUp() {
  FFormFields.clear();
  FFormFiles.clear();
  FBusy = 0;
  // The multipart body is dropped with its request.
  if (FMultipartPOST) FPostData.clear();
  // A cut request's handles are closed by its transfer when its failing call returns; closing
  // them here could pull a handle from under a call still using it.
  if (FTimedOut) FHandlesClosed = true;
}
