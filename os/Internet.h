// The internet client library: the WinInet subset the HTTP client calls, with WinInet's
// signatures, constants and last-error behaviour. On Windows it is wininet.dll itself; on Linux
// it is our own library over libcurl. The HTTP client takes the platform's library unless a test
// hands it another one (a fake that scripts results and last-error codes).
#pragma once

#include <cstdint>
#include <string>

namespace os {

// An opaque handle of a session, connection or request; nullptr is "none".
using HINTERNET = void*;

// WinInet's published values.
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr std::uint32_t INTERNET_SERVICE_HTTP = 3;
inline constexpr std::uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr std::uint16_t INTERNET_DEFAULT_HTTPS_PORT = 443;

inline constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000u;
inline constexpr std::uint32_t INTERNET_FLAG_SECURE = 0x00800000u;
inline constexpr std::uint32_t INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000u;
inline constexpr std::uint32_t INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000u;
inline constexpr std::uint32_t INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100u;

inline constexpr std::uint32_t ICU_ESCAPE = 0x80000000u;

inline constexpr std::uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr std::uint32_t INTERNET_OPTION_SECURITY_FLAGS = 31;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100u;

inline constexpr std::uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr std::uint32_t HTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr std::uint32_t HTTP_QUERY_SET_COOKIE = 43;
inline constexpr std::uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000u;

// Error codes (last-error values) the HTTP client knows by name.
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;
inline constexpr std::uint32_t ERROR_MOD_NOT_FOUND_CODE = 126;
inline constexpr std::uint32_t ERROR_ALREADY_EXISTS_CODE = 183;
inline constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr std::uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr std::uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr std::uint32_t ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr std::uint32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr std::uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr std::uint32_t ERROR_HTTP_REDIRECT_FAILED = 12156;

// The split parts of a URL, shaped like URL_COMPONENTSW. A member with a buffer receives its part
// zero-terminated and its length in characters; a member with no buffer and length 0 is not
// requested.
struct URL_COMPONENTSW {
  std::uint32_t dwStructSize = sizeof(URL_COMPONENTSW);
  char16_t* lpszScheme = nullptr;
  std::uint32_t dwSchemeLength = 0;
  int nScheme = 0;
  char16_t* lpszHostName = nullptr;
  std::uint32_t dwHostNameLength = 0;
  std::uint16_t nPort = 0;
  char16_t* lpszUserName = nullptr;
  std::uint32_t dwUserNameLength = 0;
  char16_t* lpszPassword = nullptr;
  std::uint32_t dwPasswordLength = 0;
  char16_t* lpszUrlPath = nullptr;
  std::uint32_t dwUrlPathLength = 0;
  char16_t* lpszExtraInfo = nullptr;
  std::uint32_t dwExtraInfoLength = 0;
};

// The library's calls. Each sets the calling thread's last-error value on failure, as WinInet
// does; the value is read and set through GetLastError and SetLastError of the same library.
// Every call may be made from any thread; InternetCloseHandle of a session from another thread
// makes calls under way or following on its connections and requests fail without blocking.
class InternetLibrary {
 public:
  virtual ~InternetLibrary() = default;

  virtual HINTERNET InternetOpenW(const char16_t* agent, std::uint32_t accessType,
                                  const char16_t* proxy, const char16_t* proxyBypass,
                                  std::uint32_t flags) = 0;
  virtual HINTERNET InternetConnectW(HINTERNET session, const char16_t* serverName,
                                     std::uint16_t serverPort, const char16_t* userName,
                                     const char16_t* password, std::uint32_t service,
                                     std::uint32_t flags, std::uintptr_t context) = 0;
  virtual HINTERNET HttpOpenRequestW(HINTERNET connection, const char16_t* verb,
                                     const char16_t* objectName, const char16_t* version,
                                     const char16_t* referrer, const char16_t** acceptTypes,
                                     std::uint32_t flags, std::uintptr_t context) = 0;
  virtual bool HttpSendRequestW(HINTERNET request, const char16_t* headers,
                                std::uint32_t headersLength, const void* optional,
                                std::uint32_t optionalLength) = 0;
  virtual bool HttpQueryInfoW(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                              std::uint32_t* bufferLength, std::uint32_t* index) = 0;
  virtual bool InternetReadFile(HINTERNET file, void* buffer, std::uint32_t bytesToRead,
                                std::uint32_t* bytesRead) = 0;
  virtual bool InternetCloseHandle(HINTERNET handle) = 0;
  virtual bool InternetCrackUrlW(const char16_t* url, std::uint32_t urlLength,
                                 std::uint32_t flags, URL_COMPONENTSW* components) = 0;
  virtual bool InternetQueryOptionW(HINTERNET handle, std::uint32_t option, void* buffer,
                                    std::uint32_t* bufferLength) = 0;
  virtual bool InternetSetOptionW(HINTERNET handle, std::uint32_t option, const void* buffer,
                                  std::uint32_t bufferLength) = 0;

  virtual std::uint32_t GetLastError() = 0;
  virtual void SetLastError(std::uint32_t code) = 0;

  // The system's message text for an error code (a system or an internet error), in the ANSI
  // code page, without a trailing line break.
  virtual std::string ErrorMessage(std::uint32_t code) = 0;
};

// The platform's library, alive for the whole process.
InternetLibrary& DefaultInternet();

}  // namespace os
