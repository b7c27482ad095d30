// Transitional: the libcurl transfer calls are not written yet. Only the calls that need no
// network work; the others fail with "cannot connect".
#include <string>

#include "os/Internet.h"
#include "os/posix/InternetParts.h"

namespace os {
namespace {

thread_local std::uint32_t lastError = 0;

class PosixInternet final : public InternetLibrary {
 public:
  HINTERNET InternetOpenW(const char16_t*, std::uint32_t, const char16_t*, const char16_t*,
                          std::uint32_t) override {
    return Fail();
  }
  HINTERNET InternetConnectW(HINTERNET, const char16_t*, std::uint16_t, const char16_t*,
                             const char16_t*, std::uint32_t, std::uint32_t,
                             std::uintptr_t) override {
    return Fail();
  }
  HINTERNET HttpOpenRequestW(HINTERNET, const char16_t*, const char16_t*, const char16_t*,
                             const char16_t*, const char16_t**, std::uint32_t,
                             std::uintptr_t) override {
    return Fail();
  }
  bool HttpSendRequestW(HINTERNET, const char16_t*, std::uint32_t, const void*,
                        std::uint32_t) override {
    return Fail() != nullptr;
  }
  bool HttpQueryInfoW(HINTERNET, std::uint32_t, void*, std::uint32_t*, std::uint32_t*) override {
    return Fail() != nullptr;
  }
  bool InternetReadFile(HINTERNET, void*, std::uint32_t, std::uint32_t* read) override {
    if (read != nullptr) *read = 0;
    return Fail() != nullptr;
  }
  bool InternetCloseHandle(HINTERNET) override { return true; }
  bool InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                         URL_COMPONENTSW* components) override {
    return posix::CrackUrl(url, urlLength, flags, components, lastError);
  }
  bool InternetQueryOptionW(HINTERNET handle, std::uint32_t option, void* buffer,
                            std::uint32_t* bufferLength) override {
    if (handle != nullptr) return Fail() != nullptr;
    return posix::QueryGlobalOption(option, buffer, bufferLength, lastError);
  }
  bool InternetSetOptionW(HINTERNET handle, std::uint32_t option, const void* buffer,
                          std::uint32_t bufferLength) override {
    if (handle != nullptr) return Fail() != nullptr;
    return posix::SetGlobalOption(option, buffer, bufferLength, lastError);
  }
  std::uint32_t GetLastError() override { return lastError; }
  void SetLastError(std::uint32_t code) override { lastError = code; }
  std::string ErrorMessage(std::uint32_t code) override { return "error " + std::to_string(code); }

 private:
  static HINTERNET Fail() {
    lastError = ERROR_INTERNET_CANNOT_CONNECT;
    return nullptr;
  }
};

}  // namespace

InternetLibrary& DefaultInternet() {
  static PosixInternet library;
  return library;
}

}  // namespace os
