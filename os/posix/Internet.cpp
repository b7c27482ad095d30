// The internet client library on Linux, over libcurl. Each request handle owns one curl easy
// handle in a multi handle of its own, driven by the thread that calls into the request: the send
// runs the transfer until the final response's headers have arrived, and each read runs it until
// body bytes have arrived. Bytes that arrive while a read waits go straight into the reader's
// buffer; only what does not fit there is buffered. That buffer is bounded: when the reader lags,
// the transfer is paused until the reader has taken the bytes. Closing a handle from another thread
// wakes the call under way on it (or on a request below it) and makes it fail with "operation
// cancelled".
#include "os/Internet.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <errno.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/CodePage.h"
#include "os/posix/InternetParts.h"

namespace os {
namespace {

thread_local std::uint32_t lastError = 0;

constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInternetInternal = 12004;
constexpr std::uint32_t kErrorInternetInvalidOption = 12009;
constexpr std::uint32_t kErrorInternetLoginFailure = 12015;
constexpr std::uint32_t kErrorInternetIncorrectHandleType = 12018;
constexpr std::uint32_t kErrorInternetSecurityChannel = 12157;

constexpr std::uint32_t kSecurityIgnoreCnInvalid = 0x00001000u;
constexpr std::uint32_t kSecurityIgnoreDateInvalid = 0x00002000u;

constexpr std::uint32_t kQueryStatusCode = 19;
constexpr std::uint32_t kQueryStatusText = 20;
constexpr std::uint32_t kQueryRawHeaders = 21;
constexpr std::uint32_t kQueryModifierMask = 0xF0000000u;

// The transfer is paused once this many body bytes wait for the reader.
constexpr std::size_t kMaxBuffered = 256 * 1024;
// curl's receive buffer, and so the most bytes one write callback hands over. A receive takes
// what the socket holds up to this size, so a large buffer saves receive and poll calls: on
// loopback 512 KiB fetched a large body about 15% faster than 64 KiB, while 1 MiB, no longer
// held in the cache while it is copied out, was slower again.
constexpr long kReceiveBufferSize = 512 * 1024;

bool Fail(std::uint32_t code) {
  lastError = code;
  return false;
}

HINTERNET FailHandle(std::uint32_t code) {
  lastError = code;
  return nullptr;
}

std::string Narrow(const char16_t* text) {
  if (text == nullptr) return {};
  return WideToAnsi(std::u16string(text));
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The URL path as curl accepts it: bytes outside printable ASCII and blanks are escaped.
std::string EscapePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (out.empty() || out[0] != '/') out.insert(out.begin(), '/');
  return out;
}

struct Request;

struct Handle {
  enum class Kind { Session, Connection, Request };
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() = default;
  const Kind kind;
  std::atomic<bool> closed{false};
};

struct Session final : Handle {
  Session() : Handle(Kind::Session) {}
  std::string agent;

  void Attach(const std::shared_ptr<Request>& request) {
    std::lock_guard<std::mutex> lock(mutex);
    std::erase_if(requests, [](const std::weak_ptr<Request>& r) { return r.expired(); });
    requests.push_back(request);
  }
  void WakeAll();

 private:
  std::mutex mutex;
  std::vector<std::weak_ptr<Request>> requests;
};

struct Connection final : Handle {
  Connection() : Handle(Kind::Connection) {}
  std::shared_ptr<Session> session;
  std::string host;
  std::uint16_t port = 0;
  std::string user;
  std::string password;
};

// A curl easy handle in a multi handle of its own.
struct CurlPair {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
};

// Idle curl handles, kept for the next request: a new multi handle costs a socket pair and a
// handful of system calls, which short requests would pay each time. A returned pair is reset
// to curl's defaults and holds no transfer. The pool is never destroyed, so a request that ends
// while the process exits never meets a destroyed pool.
class CurlPool {
 public:
  static CurlPool& Instance() {
    static CurlPool* pool = new CurlPool;
    return *pool;
  }

  // An idle pair, or a new one; either handle is null when curl has no memory for it.
  CurlPair Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        CurlPair pair = idle_.back();
        idle_.pop_back();
        return pair;
      }
    }
    return {curl_easy_init(), curl_multi_init()};
  }

  // Takes back a pair whose easy handle is no longer in its multi handle.
  void Give(CurlPair pair) {
    if (pair.easy != nullptr && pair.multi != nullptr) {
      curl_easy_reset(pair.easy);
      std::lock_guard<std::mutex> lock(mutex_);
      if (idle_.size() < kMaxIdle) {
        idle_.push_back(pair);
        return;
      }
    }
    if (pair.easy != nullptr) curl_easy_cleanup(pair.easy);
    if (pair.multi != nullptr) curl_multi_cleanup(pair.multi);
  }

 private:
  static constexpr std::size_t kMaxIdle = 4;
  std::mutex mutex_;
  std::vector<CurlPair> idle_;
};

struct Request final : Handle {
  Request() : Handle(Kind::Request) {
    const CurlPair pair = CurlPool::Instance().Take();
    easy = pair.easy;
    multi = pair.multi;
  }
  ~Request() override {
    if (added) curl_multi_remove_handle(multi, easy);
    CurlPool::Instance().Give({easy, multi});
    if (headerList != nullptr) curl_slist_free_all(headerList);
  }

  std::shared_ptr<Connection> connection;
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  bool added = false;
  // Set while a call runs the transfer, so that a close wakes only a call that may be waiting.
  std::atomic<bool> pumping{false};
  std::string verb;
  std::string path;
  bool http10 = true;
  bool secure = false;
  std::uint32_t securityFlags = 0;

  // Per send.
  std::string body;
  curl_slist* headerList = nullptr;
  bool sent = false;
  bool headersComplete = false;
  // True until the first line of a response head has been seen: only there is a line starting
  // "HTTP/" a status line; elsewhere it is a header line like any other.
  bool atHeadStart = true;
  bool done = false;
  CURLcode result = CURLE_OK;
  long status = 0;
  std::vector<std::string> headers;  // the final response's head: status line, header lines
  std::string buffered;              // body bytes not yet read; `offset` of them are taken
  std::size_t offset = 0;
  // The buffer of the read under way while it waits for bytes (null otherwise), its size, and
  // how many bytes the transfer has put there.
  char* readTarget = nullptr;
  std::size_t readCapacity = 0;
  std::size_t readFilled = 0;
  bool paused = false;
  std::chrono::steady_clock::time_point lastActivity;
  char errorText[CURL_ERROR_SIZE] = {};

  bool Cancelled() const { return closed || connection->closed || connection->session->closed; }
  // The close sets `closed` before it looks at `pumping`, and a call sets `pumping` before it
  // looks at `closed`, so either the call sees the close or the close wakes the call.
  void Wake() {
    if (pumping) curl_multi_wakeup(multi);
  }
  std::size_t Available() const { return buffered.size() - offset; }
};

void Session::WakeAll() {
  std::lock_guard<std::mutex> lock(mutex);
  for (const std::weak_ptr<Request>& weak : requests) {
    if (std::shared_ptr<Request> r = weak.lock()) r->Wake();
  }
}

// Live handles by value. A value is never reused, so a second close of a handle fails cleanly
// instead of closing some later handle.
class Registry {
 public:
  HINTERNET Add(std::shared_ptr<Handle> handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ += 4;
    handles_[next_] = std::move(handle);
    return reinterpret_cast<HINTERNET>(next_);
  }
  std::shared_ptr<Handle> Find(HINTERNET h) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    return it == handles_.end() ? nullptr : it->second;
  }
  std::shared_ptr<Handle> Remove(HINTERNET h) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == handles_.end()) return nullptr;
    std::shared_ptr<Handle> handle = std::move(it->second);
    handles_.erase(it);
    return handle;
  }

 private:
  std::mutex mutex_;
  std::uintptr_t next_ = 0x1000;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Handle>> handles_;
};

template <typename T>
std::shared_ptr<T> FindAs(Registry& registry, HINTERNET h, Handle::Kind kind) {
  std::shared_ptr<Handle> handle = registry.Find(h);
  if (handle == nullptr) {
    lastError = kErrorInvalidHandle;
    return nullptr;
  }
  if (handle->kind != kind) {
    lastError = kErrorInternetIncorrectHandleType;
    return nullptr;
  }
  return std::static_pointer_cast<T>(handle);
}

// WinInet's code for a failed transfer.
std::uint32_t MapCurlError(Request& r) {
  long osErrno = 0;
  curl_easy_getinfo(r.easy, CURLINFO_OS_ERRNO, &osErrno);
  switch (r.result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return osErrno == ECONNRESET ? ERROR_INTERNET_CONNECTION_RESET
                                   : ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_PARTIAL_FILE:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_PEER_FAILED_VERIFICATION: {
      long verify = 0;
      curl_easy_getinfo(r.easy, CURLINFO_SSL_VERIFYRESULT, &verify);
      // OpenSSL's X509_V_ERR_CERT_NOT_YET_VALID and X509_V_ERR_CERT_HAS_EXPIRED; a chain that
      // verified but failed the host check leaves 0.
      if (verify == 9 || verify == 10) return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
      if (verify == 0) return ERROR_INTERNET_SEC_CERT_CN_INVALID;
      return ERROR_INTERNET_INVALID_CA;
    }
    case CURLE_SSL_CONNECT_ERROR:
      return kErrorInternetSecurityChannel;
    case CURLE_LOGIN_DENIED:
      return kErrorInternetLoginFailure;
    case CURLE_OUT_OF_MEMORY:
      return kErrorNotEnoughMemory;
    case CURLE_ABORTED_BY_CALLBACK:
      return ERROR_INTERNET_OPERATION_CANCELLED;
    default:
      return kErrorInternetInternal;
  }
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  Request& r = *static_cast<Request*>(user);
  r.lastActivity = std::chrono::steady_clock::now();
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (r.atHeadStart && line.compare(0, 5, "HTTP/") == 0) {
    // A new response head: an interim one or a redirect is replaced by what follows it.
    r.atHeadStart = false;
    r.headers.assign(1, line);
    std::size_t blank = line.find(' ');
    r.status = blank == std::string::npos ? 0 : std::strtol(line.c_str() + blank + 1, nullptr, 10);
  } else if (line.empty()) {
    bool interim = r.status >= 100 && r.status < 200;
    // curl follows any 3xx response that names a place to go; one without it is final.
    bool followed = false;
    if (r.status >= 300 && r.status < 400) {
      followed = std::any_of(r.headers.begin() + 1, r.headers.end(), [](const std::string& h) {
        return Lower(h.substr(0, 9)) == "location:" &&
               h.find_first_not_of(" \t", 9) != std::string::npos;
      });
    }
    r.atHeadStart = interim || followed;
    if (!interim && !followed) r.headersComplete = true;
  } else if (!r.headers.empty()) {
    r.headers.push_back(line);
  }
  return size * count;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Request& r = *static_cast<Request*>(user);
  r.lastActivity = std::chrono::steady_clock::now();
  // curl hands over the body of the final response only, so its head is complete whatever it
  // looked like (an unrequested 101, say); otherwise a send could wait for ever behind a full
  // buffer.
  r.headersComplete = true;
  const std::size_t total = size * count;
  std::size_t taken = 0;
  // A waiting read takes the bytes first; it waits only while nothing is buffered, so the order
  // of the bytes holds.
  if (r.readTarget != nullptr && r.Available() == 0) {
    taken = std::min(total, r.readCapacity - r.readFilled);
    std::memcpy(r.readTarget + r.readFilled, data, taken);
    r.readFilled += taken;
    if (taken == total) return total;
  }
  // A paused callback is handed the same bytes again later, so only one that took none of them
  // may pause; the rest of a partly taken one is at most one receive buffer over the bound.
  if (taken == 0 && r.Available() >= kMaxBuffered) {
    r.paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (r.offset > 0 && r.offset == r.buffered.size()) {
    r.buffered.clear();
    r.offset = 0;
  }
  r.buffered.append(data + taken, total - taken);
  return total;
}

// Lets certificates with a bad date pass when the request says so. OpenSSL is the library that
// libcurl itself loaded; its two calls are looked up in the process rather than linked, so the
// library needs no OpenSSL development files.
CURLcode OnSslContext(CURL*, void* sslContext, void*) {
  using GetStore = void* (*)(void*);
  using SetFlags = int (*)(void*, unsigned long);
  static auto getStore = reinterpret_cast<GetStore>(dlsym(RTLD_DEFAULT, "SSL_CTX_get_cert_store"));
  static auto setFlags = reinterpret_cast<SetFlags>(dlsym(RTLD_DEFAULT, "X509_STORE_set_flags"));
  constexpr unsigned long kNoCheckTime = 0x200000;  // X509_V_FLAG_NO_CHECK_TIME
  if (getStore != nullptr && setFlags != nullptr) {
    if (void* store = getStore(sslContext)) setFlags(store, kNoCheckTime);
  }
  return CURLE_OK;
}

// Runs the transfer until `ready` holds, the transfer ends, or the request is cut. False (with the
// last error set) when cut or when the receive time-out passed without any progress.
template <typename Ready>
bool Pump(Request& r, Ready ready) {
  r.pumping = true;
  struct PumpingFlag {
    Request& r;
    ~PumpingFlag() { r.pumping = false; }
  } flag{r};
  std::uint32_t timeoutMs = posix::ReceiveTimeoutMs();
  // The receive time-out counts from this call on: time the caller spent between calls is no
  // lack of progress of the transfer.
  r.lastActivity = std::chrono::steady_clock::now();
  while (!ready() && !r.done) {
    if (r.Cancelled()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    int running = 0;
    curl_multi_perform(r.multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(r.multi, &queued)) {
      if (message->msg == CURLMSG_DONE) {
        r.done = true;
        r.result = message->data.result;
      }
    }
    if (ready() || r.done) break;
    if (r.Cancelled()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    if (timeoutMs > 0 && !r.paused &&
        std::chrono::steady_clock::now() - r.lastActivity > std::chrono::milliseconds(timeoutMs)) {
      return Fail(ERROR_INTERNET_TIMEOUT);
    }
    curl_multi_poll(r.multi, nullptr, 0, 1000, nullptr);
  }
  return !r.Cancelled() || Fail(ERROR_INTERNET_OPERATION_CANCELLED);
}

// Sets up the easy handle for one send of the request.
bool Configure(Request& r, const std::string& headerText) {
  CURL* e = r.easy;
  curl_easy_reset(e);
  const Connection& c = *r.connection;
  // An IPv6 address goes in brackets, unless it came with them as the URL had it.
  const bool bare6 = c.host.find(':') != std::string::npos && c.host.front() != '[';
  const std::string host = bare6 ? "[" + c.host + "]" : c.host;
  std::string url = std::string(r.secure ? "https://" : "http://") + host + ":" +
                    std::to_string(c.port) + EscapePath(r.path);
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  // A proxy's answer to the tunnel request is not the server's response.
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Curl handles are pooled, connections are not: each request's connection closes with its
  // transfer.
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r.errorText);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION,
                   r.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(e, CURLOPT_USERAGENT, c.session->agent.c_str());
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
  if (!c.user.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, c.user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, c.password.c_str());
  }
  if (r.secure) {
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER,
                     (r.securityFlags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) ? 0L : 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST,
                     (r.securityFlags & kSecurityIgnoreCnInvalid) ? 0L : 2L);
    if (r.securityFlags & kSecurityIgnoreDateInvalid) {
      curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, OnSslContext);
    }
  }

  // The extra headers, one per CR LF separated line.
  if (r.headerList != nullptr) curl_slist_free_all(r.headerList);
  r.headerList = nullptr;
  bool hasContentType = false;
  bool hasAccept = false;
  std::size_t pos = 0;
  while (pos <= headerText.size()) {
    std::size_t end = headerText.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = headerText.size();
    std::string line = headerText.substr(pos, end - pos);
    pos = end + 1;
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (Lower(line.substr(0, 13)) == "content-type:") hasContentType = true;
    if (Lower(line.substr(0, 7)) == "accept:") hasAccept = true;
    r.headerList = curl_slist_append(r.headerList, line.c_str());
  }
  // curl would add headers of its own that the platform does not send.
  r.headerList = curl_slist_append(r.headerList, "Expect:");
  if (!hasContentType) r.headerList = curl_slist_append(r.headerList, "Content-Type:");
  if (!hasAccept) r.headerList = curl_slist_append(r.headerList, "Accept:");
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headerList);

  if (r.verb == "GET" && r.body.empty()) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else if (r.verb == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
    if (r.verb != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
  }
  return true;
}

// Copies a text answer of HttpQueryInfoW into the caller's buffer as UTF-16, WinInet's way:
// on success the length excludes the terminating zero, when the buffer is too small it is the
// size needed including it.
bool ReturnText(const std::string& text, void* buffer, std::uint32_t* bufferLength) {
  std::u16string wide = AnsiToWide(text);
  std::uint32_t bytes = static_cast<std::uint32_t>(wide.size() * 2);
  if (buffer == nullptr || *bufferLength < bytes + 2) {
    *bufferLength = bytes + 2;
    return Fail(ERROR_INSUFFICIENT_BUFFER_CODE);
  }
  std::memcpy(buffer, wide.c_str(), bytes + 2);
  *bufferLength = bytes;
  return true;
}

bool ReturnNumber(std::uint32_t value, void* buffer, std::uint32_t* bufferLength) {
  if (buffer == nullptr || *bufferLength < 4) {
    *bufferLength = 4;
    return Fail(ERROR_INSUFFICIENT_BUFFER_CODE);
  }
  std::memcpy(buffer, &value, 4);
  *bufferLength = 4;
  return true;
}

// The header name of an HttpQueryInfoW level that names one header.
const char* HeaderName(std::uint32_t level) {
  switch (level) {
    case 1:
      return "content-type";
    case 5:
      return "content-length";
    case 9:
      return "date";
    case 29:
      return "content-encoding";
    case 33:
      return "location";
    case 36:
      return "server";
    case 43:
      return "set-cookie";
    default:
      return nullptr;
  }
}

class PosixInternet final : public InternetLibrary {
 public:
  PosixInternet() { curl_global_init(CURL_GLOBAL_DEFAULT); }

  HINTERNET InternetOpenW(const char16_t* agent, std::uint32_t, const char16_t*, const char16_t*,
                          std::uint32_t) override {
    // Proxy settings: libcurl takes them from the environment, as the system configures them.
    auto session = std::make_shared<Session>();
    session->agent = Narrow(agent);
    return handles_.Add(std::move(session));
  }

  HINTERNET InternetConnectW(HINTERNET sessionHandle, const char16_t* serverName,
                             std::uint16_t serverPort, const char16_t* userName,
                             const char16_t* password, std::uint32_t service, std::uint32_t,
                             std::uintptr_t) override {
    auto session = FindAs<Session>(handles_, sessionHandle, Handle::Kind::Session);
    if (session == nullptr) return nullptr;
    if (session->closed) return FailHandle(ERROR_INTERNET_OPERATION_CANCELLED);
    if (service != INTERNET_SERVICE_HTTP || serverName == nullptr || *serverName == 0) {
      return FailHandle(kErrorInvalidParameter);
    }
    auto connection = std::make_shared<Connection>();
    connection->session = session;
    connection->host = Narrow(serverName);
    connection->port = serverPort != 0 ? serverPort : INTERNET_DEFAULT_HTTP_PORT;
    connection->user = Narrow(userName);
    connection->password = Narrow(password);
    return handles_.Add(std::move(connection));
  }

  HINTERNET HttpOpenRequestW(HINTERNET connectionHandle, const char16_t* verb,
                             const char16_t* objectName, const char16_t* version, const char16_t*,
                             const char16_t**, std::uint32_t flags, std::uintptr_t) override {
    auto connection = FindAs<Connection>(handles_, connectionHandle, Handle::Kind::Connection);
    if (connection == nullptr) return nullptr;
    if (connection->closed || connection->session->closed) {
      return FailHandle(ERROR_INTERNET_OPERATION_CANCELLED);
    }
    auto request = std::make_shared<Request>();
    if (request->easy == nullptr || request->multi == nullptr) {
      return FailHandle(kErrorNotEnoughMemory);
    }
    request->connection = connection;
    request->verb = verb != nullptr && *verb != 0 ? Narrow(verb) : "GET";
    request->path = objectName != nullptr ? Narrow(objectName) : "/";
    request->http10 = version == nullptr || Narrow(version) != "HTTP/1.1";
    request->secure = (flags & INTERNET_FLAG_SECURE) != 0;
    if (flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID)
      request->securityFlags |= kSecurityIgnoreCnInvalid;
    if (flags & INTERNET_FLAG_IGNORE_CERT_DATE_INVALID) {
      request->securityFlags |= kSecurityIgnoreDateInvalid;
    }
    connection->session->Attach(request);
    return handles_.Add(std::move(request));
  }

  bool HttpSendRequestW(HINTERNET requestHandle, const char16_t* headers,
                        std::uint32_t headersLength, const void* optional,
                        std::uint32_t optionalLength) override {
    auto r = FindAs<Request>(handles_, requestHandle, Handle::Kind::Request);
    if (r == nullptr) return false;
    if (r->Cancelled()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    std::string headerText;
    if (headers != nullptr) {
      std::u16string wide = headersLength == 0xFFFFFFFFu || headersLength == 0
                                ? std::u16string(headers)
                                : std::u16string(headers, headersLength);
      headerText = WideToAnsi(wide);
    }
    if (r->added) {
      // A second send (after a changed security flag) starts the transfer afresh.
      curl_multi_remove_handle(r->multi, r->easy);
      r->added = false;
    }
    r->body.assign(static_cast<const char*>(optional), optional != nullptr ? optionalLength : 0);
    r->sent = true;
    r->headersComplete = false;
    r->done = false;
    r->result = CURLE_OK;
    r->status = 0;
    r->headers.clear();
    r->atHeadStart = true;
    r->buffered.clear();
    r->offset = 0;
    r->paused = false;
    r->errorText[0] = 0;
    r->lastActivity = std::chrono::steady_clock::now();
    Configure(*r, headerText);
    if (curl_multi_add_handle(r->multi, r->easy) != CURLM_OK) return Fail(kErrorInternetInternal);
    r->added = true;
    if (!Pump(*r, [&] { return r->headersComplete; })) {
      r->sent = false;
      return false;
    }
    if (!r->headersComplete) {
      r->sent = false;
      return Fail(r->result == CURLE_OK ? ERROR_HTTP_INVALID_SERVER_RESPONSE : MapCurlError(*r));
    }
    return true;
  }

  bool HttpQueryInfoW(HINTERNET requestHandle, std::uint32_t infoLevel, void* buffer,
                      std::uint32_t* bufferLength, std::uint32_t* index) override {
    auto r = FindAs<Request>(handles_, requestHandle, Handle::Kind::Request);
    if (r == nullptr) return false;
    if (bufferLength == nullptr) return Fail(kErrorInvalidParameter);
    if (!r->sent || !r->headersComplete) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    std::uint32_t level = infoLevel & ~kQueryModifierMask;
    bool number = (infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0;

    if (level == HTTP_QUERY_RAW_HEADERS_CRLF || level == kQueryRawHeaders) {
      // Status line first; CR LF after each line and after the block, or a zero after each.
      bool crlf = level == HTTP_QUERY_RAW_HEADERS_CRLF;
      std::string text;
      for (const std::string& line : r->headers) {
        text += line;
        if (crlf) {
          text += "\r\n";
        } else {
          text += '\0';
        }
      }
      if (crlf) text += "\r\n";
      return ReturnText(text, buffer, bufferLength);
    }
    if (level == kQueryStatusCode || level == kQueryStatusText) {
      std::string line = r->headers.empty() ? std::string() : r->headers[0];
      std::size_t first = line.find(' ');
      std::string rest = first == std::string::npos ? std::string() : line.substr(first + 1);
      std::size_t second = rest.find(' ');
      std::string code = rest.substr(0, second);
      std::string text = second == std::string::npos ? std::string() : rest.substr(second + 1);
      if (level == kQueryStatusText) return ReturnText(text, buffer, bufferLength);
      if (number) return ReturnNumber(static_cast<std::uint32_t>(r->status), buffer, bufferLength);
      return ReturnText(code, buffer, bufferLength);
    }
    const char* name = HeaderName(level);
    if (name == nullptr) return Fail(12154);  // ERROR_HTTP_INVALID_QUERY_REQUEST

    // The header of that name at the caller's index; the index moves on past it.
    std::uint32_t wanted = index != nullptr ? *index : 0;
    std::uint32_t seen = 0;
    std::string prefix = std::string(name) + ":";
    for (std::size_t i = 1; i < r->headers.size(); ++i) {
      const std::string& line = r->headers[i];
      if (Lower(line.substr(0, prefix.size())) != prefix) continue;
      if (seen++ != wanted) continue;
      std::string value = line.substr(prefix.size());
      value.erase(0, value.find_first_not_of(" \t"));
      bool ok = number ? ReturnNumber(
                             static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10)),
                             buffer, bufferLength)
                       : ReturnText(value, buffer, bufferLength);
      if (ok && index != nullptr) ++*index;
      return ok;
    }
    return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
  }

  bool InternetReadFile(HINTERNET requestHandle, void* buffer, std::uint32_t bytesToRead,
                        std::uint32_t* bytesRead) override {
    if (bytesRead != nullptr) *bytesRead = 0;
    auto r = FindAs<Request>(handles_, requestHandle, Handle::Kind::Request);
    if (r == nullptr) return false;
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead > 0)) {
      return Fail(kErrorInvalidParameter);
    }
    if (!r->sent) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (bytesToRead == 0) return true;
    if (r->Available() == 0 && !r->done) {
      // Nothing buffered: the transfer runs with this read's buffer as the place for its bytes.
      r->readTarget = static_cast<char*>(buffer);
      r->readCapacity = bytesToRead;
      r->readFilled = 0;
      const bool ok = Pump(*r, [&] { return r->readFilled > 0 || r->Available() > 0; });
      const std::size_t filled = r->readFilled;
      r->readTarget = nullptr;
      r->readCapacity = r->readFilled = 0;
      if (!ok) return false;
      if (filled > 0) {
        *bytesRead = static_cast<std::uint32_t>(filled);
        return true;
      }
    } else if (!Pump(*r, [&] { return r->Available() > 0; })) {
      return false;
    }
    std::size_t n = std::min<std::size_t>(bytesToRead, r->Available());
    if (n > 0) {
      std::memcpy(buffer, r->buffered.data() + r->offset, n);
      r->offset += n;
      if (r->offset == r->buffered.size()) {
        r->buffered.clear();
        r->offset = 0;
      }
      if (r->paused && r->Available() < kMaxBuffered) {
        // Unpausing may hand over the held bytes at once, through OnBody.
        r->paused = false;
        r->lastActivity = std::chrono::steady_clock::now();
        curl_easy_pause(r->easy, CURLPAUSE_CONT);
      }
      *bytesRead = static_cast<std::uint32_t>(n);
      return true;
    }
    // The transfer has ended and every byte was read.
    if (r->result == CURLE_OK) return true;
    return Fail(MapCurlError(*r));
  }

  bool InternetCloseHandle(HINTERNET h) override {
    std::shared_ptr<Handle> handle = handles_.Remove(h);
    if (handle == nullptr) return Fail(kErrorInvalidHandle);
    handle->closed = true;
    // Wakes whatever call is under way on the handle or below it; it then sees the close.
    switch (handle->kind) {
      case Handle::Kind::Session:
        static_cast<Session&>(*handle).WakeAll();
        break;
      case Handle::Kind::Connection:
        static_cast<Connection&>(*handle).session->WakeAll();
        break;
      case Handle::Kind::Request:
        static_cast<Request&>(*handle).Wake();
        break;
    }
    return true;
  }

  bool InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                         URL_COMPONENTSW* components) override {
    return posix::CrackUrl(url, urlLength, flags, components, lastError);
  }

  bool InternetQueryOptionW(HINTERNET handle, std::uint32_t option, void* buffer,
                            std::uint32_t* bufferLength) override {
    if (handle == nullptr) return posix::QueryGlobalOption(option, buffer, bufferLength, lastError);
    if (bufferLength == nullptr) return Fail(kErrorInvalidParameter);
    std::shared_ptr<Handle> found = handles_.Find(handle);
    if (found == nullptr) return Fail(kErrorInvalidHandle);
    if (option != INTERNET_OPTION_SECURITY_FLAGS) return Fail(kErrorInternetInvalidOption);
    if (found->kind != Handle::Kind::Request) return Fail(kErrorInternetIncorrectHandleType);
    return ReturnNumber(static_cast<Request&>(*found).securityFlags, buffer, bufferLength);
  }

  bool InternetSetOptionW(HINTERNET handle, std::uint32_t option, const void* buffer,
                          std::uint32_t bufferLength) override {
    if (handle == nullptr) return posix::SetGlobalOption(option, buffer, bufferLength, lastError);
    std::shared_ptr<Handle> found = handles_.Find(handle);
    if (found == nullptr) return Fail(kErrorInvalidHandle);
    if (option != INTERNET_OPTION_SECURITY_FLAGS) return Fail(kErrorInternetInvalidOption);
    if (found->kind != Handle::Kind::Request) return Fail(kErrorInternetIncorrectHandleType);
    if (buffer == nullptr || bufferLength < 4) return Fail(kErrorInvalidParameter);
    std::uint32_t flags;
    std::memcpy(&flags, buffer, 4);
    static_cast<Request&>(*found).securityFlags = flags;
    return true;
  }

  std::uint32_t GetLastError() override { return lastError; }
  void SetLastError(std::uint32_t code) override { lastError = code; }
  std::string ErrorMessage(std::uint32_t code) override;

 private:
  Registry handles_;
};

std::string PosixInternet::ErrorMessage(std::uint32_t code) {
  struct Text {
    std::uint32_t code;
    const char* text;
  };
  static const Text kTexts[] = {
      {0, "The operation completed successfully."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {8, "Not enough memory resources are available to process this command."},
      {32, "The process cannot access the file because it is being used by another process."},
      {87, "The parameter is incorrect."},
      {122, "The data area passed to a system call is too small."},
      {126, "The specified module could not be found."},
      {183, "Cannot create a file when that file already exists."},
      {12001, "No more handles could be generated at this time."},
      {12002, "The operation timed out."},
      {12004, "An internal error occurred."},
      {12005, "The URL is invalid."},
      {12006, "The URL scheme could not be recognized or is not supported."},
      {12007, "The server name or address could not be resolved."},
      {12009, "The option is invalid."},
      {12015, "The login attempt failed."},
      {12017, "The operation was canceled."},
      {12018, "The type of handle supplied is incorrect for this operation."},
      {12019, "The operation cannot be carried out in the handle's current state."},
      {12029, "A connection with the server could not be established."},
      {12030, "The connection with the server was terminated abnormally."},
      {12031, "The connection with the server was reset."},
      {12037, "The server's certificate date is invalid."},
      {12038, "The server's certificate name does not match the host name."},
      {12045, "The certificate authority is invalid or incorrect."},
      {12150, "The requested header could not be located."},
      {12152, "The server returned an invalid or unrecognized response."},
      {12154, "The request for HTTP header information is invalid."},
      {12156, "The HTTP redirect request failed."},
      {12157, "An error occurred in the secure channel support."},
  };
  for (const Text& t : kTexts) {
    if (t.code == code) return t.text;
  }
  return "Unknown error " + std::to_string(code) + ".";
}

}  // namespace

InternetLibrary& DefaultInternet() {
  static PosixInternet library;
  return library;
}

}  // namespace os
