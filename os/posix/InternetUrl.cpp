// The parts of the Linux internet library that need no network: splitting URLs with WinInet's
// rules and results, and the process-wide options.
#include <atomic>
#include <cstring>
#include <string_view>

#include "os/posix/InternetParts.h"

namespace os::posix {
namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInvalidOption = 12009;
constexpr std::uint32_t kErrorIncorrectHandleType = 12018;

// WinInet's scheme numbers.
constexpr int kSchemeHttp = 3;
constexpr int kSchemeHttps = 4;

// WinInet's default: 30 seconds.
std::atomic<std::uint32_t> receiveTimeoutMs{30000};

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// %xx becomes the character with that code, one character per escape, as WinInet does; a "%"
// that starts no valid escape stays as it is.
std::u16string Unescape(std::u16string_view part) {
  std::u16string out;
  out.reserve(part.size());
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] == u'%' && i + 2 < part.size()) {
      const int high = HexValue(part[i + 1]);
      const int low = HexValue(part[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char16_t>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(part[i]);
  }
  return out;
}

// Hands one part to the caller: copied into its buffer (zero-terminated) when it gave one, else
// as a pointer into the URL when it asked for the part by a non-zero length, else not at all.
bool StorePart(std::u16string_view part, bool unescape, char16_t*& buffer, std::uint32_t& length,
               const char16_t* url, std::uint32_t& error) {
  if (buffer == nullptr) {
    if (length != 0) {
      buffer = const_cast<char16_t*>(part.empty() ? nullptr : url + (part.data() - url));
      length = static_cast<std::uint32_t>(part.size());
    }
    return true;
  }
  const std::u16string value = unescape ? Unescape(part) : std::u16string(part);
  if (value.size() + 1 > length) {
    length = static_cast<std::uint32_t>(value.size() + 1);
    error = ERROR_INSUFFICIENT_BUFFER_CODE;
    return false;
  }
  std::memcpy(buffer, value.data(), value.size() * sizeof(char16_t));
  buffer[value.size()] = u'\0';
  length = static_cast<std::uint32_t>(value.size());
  return true;
}

// The receive time-out is the one process-wide option; the security flags belong to a request.
bool IsGlobalOption(std::uint32_t option, std::uint32_t& error) {
  if (option == INTERNET_OPTION_SECURITY_FLAGS) {
    error = kErrorIncorrectHandleType;
    return false;
  }
  if (option != INTERNET_OPTION_RECEIVE_TIMEOUT) {
    error = kErrorInvalidOption;
    return false;
  }
  return true;
}

}  // namespace

bool CrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
              URL_COMPONENTSW* components, std::uint32_t& error) {
  if (url == nullptr || components == nullptr ||
      components->dwStructSize != sizeof(URL_COMPONENTSW)) {
    error = kErrorInvalidParameter;
    return false;
  }
  const std::u16string_view text =
      urlLength == 0 ? std::u16string_view(url) : std::u16string_view(url, urlLength);
  const bool unescape = (flags & ICU_ESCAPE) != 0;
  if (text.empty()) {
    error = kErrorInvalidParameter;
    return false;
  }

  // Scheme: letters, digits, "+", "-" or "." before the first ":".
  const std::size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos || colon == 0) {
    error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    return false;
  }
  const std::u16string_view scheme = text.substr(0, colon);
  int schemeNumber = 0;
  std::uint16_t defaultPort = 0;
  if (EqualsIgnoringCase(scheme, u"http")) {
    schemeNumber = kSchemeHttp;
    defaultPort = INTERNET_DEFAULT_HTTP_PORT;
  } else if (EqualsIgnoringCase(scheme, u"https")) {
    schemeNumber = kSchemeHttps;
    defaultPort = INTERNET_DEFAULT_HTTPS_PORT;
  } else {
    error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    return false;
  }
  if (text.substr(colon + 1, 2) != u"//") {
    error = ERROR_INTERNET_INVALID_URL;
    return false;
  }

  // Authority up to the path, query or fragment; then the path; then the extra information,
  // which starts at the first "?" or "#".
  const std::size_t authorityStart = colon + 3;
  std::size_t authorityEnd = text.find_first_of(u"/?#", authorityStart);
  if (authorityEnd == std::u16string_view::npos) authorityEnd = text.size();
  const std::u16string_view authority = text.substr(authorityStart, authorityEnd - authorityStart);
  std::size_t extraStart = text.find_first_of(u"?#", authorityEnd);
  if (extraStart == std::u16string_view::npos) extraStart = text.size();
  const std::u16string_view path = text.substr(authorityEnd, extraStart - authorityEnd);
  const std::u16string_view extra = text.substr(extraStart);

  std::u16string_view userName, password, hostPort = authority;
  const std::size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) {
    const std::u16string_view credentials = authority.substr(0, at);
    hostPort = authority.substr(at + 1);
    const std::size_t split = credentials.find(u':');
    userName = credentials.substr(0, split);
    if (split != std::u16string_view::npos) password = credentials.substr(split + 1);
  }

  // Host, with an IPv6 literal kept in its brackets, then an optional ":port".
  std::u16string_view host = hostPort, portText;
  std::size_t portColon = std::u16string_view::npos;
  if (!hostPort.empty() && hostPort.front() == u'[') {
    const std::size_t close = hostPort.find(u']');
    if (close == std::u16string_view::npos) {
      error = ERROR_INTERNET_INVALID_URL;
      return false;
    }
    if (close + 1 < hostPort.size()) {
      if (hostPort[close + 1] != u':') {
        error = ERROR_INTERNET_INVALID_URL;
        return false;
      }
      portColon = close + 1;
    }
  } else {
    portColon = hostPort.find(u':');
  }
  if (portColon != std::u16string_view::npos) {
    host = hostPort.substr(0, portColon);
    portText = hostPort.substr(portColon + 1);
  }
  if (host.empty()) {
    error = ERROR_INTERNET_INVALID_URL;
    return false;
  }
  std::uint32_t port = defaultPort;
  if (!portText.empty()) {
    port = 0;
    for (const char16_t c : portText) {
      if (c < u'0' || c > u'9' || port > 65535) {
        error = ERROR_INTERNET_INVALID_URL;
        return false;
      }
      port = port * 10 + (c - u'0');
    }
    if (port > 65535) {
      error = ERROR_INTERNET_INVALID_URL;
      return false;
    }
  }

  URL_COMPONENTSW& c = *components;
  if (!StorePart(scheme, false, c.lpszScheme, c.dwSchemeLength, url, error) ||
      !StorePart(host, false, c.lpszHostName, c.dwHostNameLength, url, error) ||
      !StorePart(userName, unescape, c.lpszUserName, c.dwUserNameLength, url, error) ||
      !StorePart(password, unescape, c.lpszPassword, c.dwPasswordLength, url, error) ||
      !StorePart(path, unescape, c.lpszUrlPath, c.dwUrlPathLength, url, error) ||
      !StorePart(extra, unescape, c.lpszExtraInfo, c.dwExtraInfoLength, url, error)) {
    return false;
  }
  c.nScheme = schemeNumber;
  c.nPort = static_cast<std::uint16_t>(port);
  return true;
}

bool QueryGlobalOption(std::uint32_t option, void* buffer, std::uint32_t* bufferLength,
                       std::uint32_t& error) {
  if (!IsGlobalOption(option, error)) return false;
  if (bufferLength == nullptr) {
    error = kErrorInvalidParameter;
    return false;
  }
  if (buffer == nullptr || *bufferLength < sizeof(std::uint32_t)) {
    *bufferLength = sizeof(std::uint32_t);
    error = ERROR_INSUFFICIENT_BUFFER_CODE;
    return false;
  }
  const std::uint32_t value = receiveTimeoutMs.load();
  std::memcpy(buffer, &value, sizeof value);
  *bufferLength = sizeof value;
  return true;
}

bool SetGlobalOption(std::uint32_t option, const void* buffer, std::uint32_t bufferLength,
                     std::uint32_t& error) {
  if (!IsGlobalOption(option, error)) return false;
  if (buffer == nullptr || bufferLength != sizeof(std::uint32_t)) {
    error = kErrorInvalidParameter;
    return false;
  }
  std::uint32_t value;
  std::memcpy(&value, buffer, sizeof value);
  receiveTimeoutMs.store(value);
  return true;
}

std::uint32_t ReceiveTimeoutMs() { return receiveTimeoutMs.load(); }

}  // namespace os::posix
