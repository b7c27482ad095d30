// An internet library whose results a test scripts, for the failures no server produces on
// demand. It records every call with its arguments and serves one scripted response.
//
//   FakeInternet net;
//   net.Script(FakeInternet::Call::HttpOpenRequest, {{true, 183}});   // handle, last error 183
//   net.Script(FakeInternet::Call::HttpSendRequest, {{false, 12045}, {true}});
//   net.response.headers = {"HTTP/1.1 200 OK", "Content-Length: 5"};
//   net.response.body = {"hel", "lo"};                                // one chunk per read
//   ... run the transfer with `net` as its library ...
//   net.CallsOf(FakeInternet::Call::HttpOpenRequest)[0].flags        // 0x80803100
//   net.CloseCount(handle)                                            // 1
//
// A call with no scripted outcome left succeeds with last error 0. A scripted outcome sets the
// last error after the call whether it succeeds or fails; a failing call returns none or false.
// The calls may come from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "os/Internet.h"

class FakeInternet final : public os::InternetLibrary {
 public:
  enum class Call {
    InternetOpen,
    InternetConnect,
    HttpOpenRequest,
    HttpSendRequest,
    HttpQueryInfo,
    InternetReadFile,
    InternetCloseHandle,
    InternetQueryOption,
    InternetSetOption,
  };

  struct Outcome {
    bool succeed = true;
    std::uint32_t lastError = 0;
    // The call raises std::bad_alloc, as a failed allocation inside it would.
    bool outOfMemory = false;
  };

  // One call as it was made. Fields that the call has no argument for stay empty.
  struct Record {
    explicit Record(Call c) : call(c) {}
    Call call;
    os::HINTERNET handle = nullptr;  // the handle the call was made on
    os::HINTERNET result = nullptr;  // the handle it returned
    std::u16string text;  // agent, server name, verb, or the extra headers (exactly as long
                          // as the length argument says)
    std::u16string path;  // object name of HttpOpenRequestW
    std::u16string version;
    std::u16string user;
    std::u16string password;
    std::uint16_t port = 0;
    std::uint32_t flags = 0;  // open flags, access type, info level, option or read size
    std::uint32_t value = 0;  // the option value set, or the header length argument
    std::string body;         // the optional data of HttpSendRequestW
  };

  // The response the query and read calls serve.
  struct Response {
    std::vector<std::string> headers;  // status line first, then header lines (no CR LF)
    std::vector<std::string> body;     // one chunk per read (split when the read asks for less)
  };
  Response response;

  // Outcomes for the next calls of one kind, used in order.
  void Script(Call call, std::vector<Outcome> outcomes);

  std::vector<Record> Calls() const;
  std::vector<Record> CallsOf(Call call) const;
  // How often InternetCloseHandle was called with the handle.
  int CloseCount(os::HINTERNET handle) const;
  // Runs at the start of every InternetReadFile, on the reading thread, outside the fake's lock:
  // lets a test hold a read back until some condition holds.
  std::function<void()> beforeRead;

  // The handles returned and not yet closed.
  std::vector<os::HINTERNET> OpenHandles() const;

  os::HINTERNET InternetOpenW(const char16_t* agent, std::uint32_t accessType,
                              const char16_t* proxy, const char16_t* proxyBypass,
                              std::uint32_t flags) override;
  os::HINTERNET InternetConnectW(os::HINTERNET session, const char16_t* serverName,
                                 std::uint16_t serverPort, const char16_t* userName,
                                 const char16_t* password, std::uint32_t service,
                                 std::uint32_t flags, std::uintptr_t context) override;
  os::HINTERNET HttpOpenRequestW(os::HINTERNET connection, const char16_t* verb,
                                 const char16_t* objectName, const char16_t* version,
                                 const char16_t* referrer, const char16_t** acceptTypes,
                                 std::uint32_t flags, std::uintptr_t context) override;
  bool HttpSendRequestW(os::HINTERNET request, const char16_t* headers, std::uint32_t headersLength,
                        const void* optional, std::uint32_t optionalLength) override;
  bool HttpQueryInfoW(os::HINTERNET request, std::uint32_t infoLevel, void* buffer,
                      std::uint32_t* bufferLength, std::uint32_t* index) override;
  bool InternetReadFile(os::HINTERNET file, void* buffer, std::uint32_t bytesToRead,
                        std::uint32_t* bytesRead) override;
  bool InternetCloseHandle(os::HINTERNET handle) override;
  bool InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                         os::URL_COMPONENTSW* components) override;
  bool InternetQueryOptionW(os::HINTERNET handle, std::uint32_t option, void* buffer,
                            std::uint32_t* bufferLength) override;
  bool InternetSetOptionW(os::HINTERNET handle, std::uint32_t option, const void* buffer,
                          std::uint32_t bufferLength) override;
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t code) override;
  std::string ErrorMessage(std::uint32_t code) override;

 private:
  // The next outcome of a call kind (success when none is scripted); sets the last error.
  Outcome Next(Call call);
  os::HINTERNET NewHandle();

  mutable std::mutex mutex_;
  std::map<Call, std::deque<Outcome>> scripts_;
  std::vector<Record> calls_;
  std::map<os::HINTERNET, int> closes_;
  std::vector<os::HINTERNET> open_;
  std::map<os::HINTERNET, std::uint32_t> securityFlags_;
  std::uintptr_t nextHandle_ = 0x100;
  std::size_t chunk_ = 0;        // next body chunk to serve
  std::size_t chunkOffset_ = 0;  // bytes of it already served
};
