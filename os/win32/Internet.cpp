// The Windows internet library: every call goes to wininet.dll unchanged.
#include "os/Internet.h"

#include <windows.h>
#include <wininet.h>

#include "os/CodePage.h"

namespace os {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is wchar_t on Windows");

LPCWSTR W(const char16_t* s) { return reinterpret_cast<LPCWSTR>(s); }
LPWSTR W(char16_t* s) { return reinterpret_cast<LPWSTR>(s); }
char16_t* U(LPWSTR s) { return reinterpret_cast<char16_t*>(s); }

// Our URL parts to WinInet's record and back; the buffers are the caller's in both.
::URL_COMPONENTSW ToWinInet(const os::URL_COMPONENTSW& c) {
  ::URL_COMPONENTSW r{};
  r.dwStructSize = sizeof r;
  r.lpszScheme = W(c.lpszScheme);
  r.dwSchemeLength = c.dwSchemeLength;
  r.nScheme = static_cast<INTERNET_SCHEME>(c.nScheme);
  r.lpszHostName = W(c.lpszHostName);
  r.dwHostNameLength = c.dwHostNameLength;
  r.nPort = c.nPort;
  r.lpszUserName = W(c.lpszUserName);
  r.dwUserNameLength = c.dwUserNameLength;
  r.lpszPassword = W(c.lpszPassword);
  r.dwPasswordLength = c.dwPasswordLength;
  r.lpszUrlPath = W(c.lpszUrlPath);
  r.dwUrlPathLength = c.dwUrlPathLength;
  r.lpszExtraInfo = W(c.lpszExtraInfo);
  r.dwExtraInfoLength = c.dwExtraInfoLength;
  return r;
}

void FromWinInet(const ::URL_COMPONENTSW& r, os::URL_COMPONENTSW& c) {
  c.lpszScheme = U(r.lpszScheme);
  c.dwSchemeLength = r.dwSchemeLength;
  c.nScheme = static_cast<int>(r.nScheme);
  c.lpszHostName = U(r.lpszHostName);
  c.dwHostNameLength = r.dwHostNameLength;
  c.nPort = r.nPort;
  c.lpszUserName = U(r.lpszUserName);
  c.dwUserNameLength = r.dwUserNameLength;
  c.lpszPassword = U(r.lpszPassword);
  c.dwPasswordLength = r.dwPasswordLength;
  c.lpszUrlPath = U(r.lpszUrlPath);
  c.dwUrlPathLength = r.dwUrlPathLength;
  c.lpszExtraInfo = U(r.lpszExtraInfo);
  c.dwExtraInfoLength = r.dwExtraInfoLength;
}

class WinInetLibrary final : public InternetLibrary {
 public:
  HINTERNET InternetOpenW(const char16_t* agent, std::uint32_t accessType, const char16_t* proxy,
                          const char16_t* proxyBypass, std::uint32_t flags) override {
    return ::InternetOpenW(W(agent), accessType, W(proxy), W(proxyBypass), flags);
  }
  HINTERNET InternetConnectW(HINTERNET session, const char16_t* serverName,
                             std::uint16_t serverPort, const char16_t* userName,
                             const char16_t* password, std::uint32_t service, std::uint32_t flags,
                             std::uintptr_t context) override {
    return ::InternetConnectW(session, W(serverName), serverPort, W(userName), W(password), service,
                              flags, context);
  }
  HINTERNET HttpOpenRequestW(HINTERNET connection, const char16_t* verb, const char16_t* objectName,
                             const char16_t* version, const char16_t* referrer,
                             const char16_t** acceptTypes, std::uint32_t flags,
                             std::uintptr_t context) override {
    return ::HttpOpenRequestW(connection, W(verb), W(objectName), W(version), W(referrer),
                              reinterpret_cast<LPCWSTR*>(acceptTypes), flags, context);
  }
  bool HttpSendRequestW(HINTERNET request, const char16_t* headers, std::uint32_t headersLength,
                        const void* optional, std::uint32_t optionalLength) override {
    return ::HttpSendRequestW(request, W(headers), headersLength, const_cast<void*>(optional),
                              optionalLength) != FALSE;
  }
  bool HttpQueryInfoW(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                      std::uint32_t* bufferLength, std::uint32_t* index) override {
    DWORD length = bufferLength != nullptr ? *bufferLength : 0;
    DWORD at = index != nullptr ? *index : 0;
    const BOOL ok =
        ::HttpQueryInfoW(request, infoLevel, buffer, bufferLength != nullptr ? &length : nullptr,
                         index != nullptr ? &at : nullptr);
    if (bufferLength != nullptr) *bufferLength = length;
    if (index != nullptr) *index = at;
    return ok != FALSE;
  }
  bool InternetReadFile(HINTERNET file, void* buffer, std::uint32_t bytesToRead,
                        std::uint32_t* bytesRead) override {
    DWORD read = 0;
    const BOOL ok = ::InternetReadFile(file, buffer, bytesToRead, &read);
    if (bytesRead != nullptr) *bytesRead = read;
    return ok != FALSE;
  }
  bool InternetCloseHandle(HINTERNET handle) override {
    return ::InternetCloseHandle(handle) != FALSE;
  }
  bool InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                         os::URL_COMPONENTSW* components) override {
    if (components == nullptr) {
      return ::InternetCrackUrlW(W(url), urlLength, flags, nullptr) != FALSE;
    }
    ::URL_COMPONENTSW parts = ToWinInet(*components);
    const BOOL ok = ::InternetCrackUrlW(W(url), urlLength, flags, &parts);
    FromWinInet(parts, *components);
    return ok != FALSE;
  }
  bool InternetQueryOptionW(HINTERNET handle, std::uint32_t option, void* buffer,
                            std::uint32_t* bufferLength) override {
    DWORD length = bufferLength != nullptr ? *bufferLength : 0;
    const BOOL ok =
        ::InternetQueryOptionW(handle, option, buffer, bufferLength != nullptr ? &length : nullptr);
    if (bufferLength != nullptr) *bufferLength = length;
    return ok != FALSE;
  }
  bool InternetSetOptionW(HINTERNET handle, std::uint32_t option, const void* buffer,
                          std::uint32_t bufferLength) override {
    return ::InternetSetOptionW(handle, option, const_cast<void*>(buffer), bufferLength) != FALSE;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }
  void SetLastError(std::uint32_t code) override { ::SetLastError(code); }

  // Internet errors (12000-12999) have their texts in wininet.dll's message table, all others in
  // the system's.
  std::string ErrorMessage(std::uint32_t code) override {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE module = nullptr;
    if (code >= 12000 && code <= 12999) module = ::GetModuleHandleW(L"wininet.dll");
    flags |= module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    LPWSTR text = nullptr;
    const DWORD n =
        ::FormatMessageW(flags, module, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::u16string message;
    if (n != 0 && text != nullptr) message.assign(U(text), n);
    if (text != nullptr) ::LocalFree(text);
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n')) {
      message.pop_back();
    }
    return WideToAnsi(message);
  }
};

}  // namespace

InternetLibrary& DefaultInternet() {
  static WinInetLibrary library;
  return library;
}

}  // namespace os
