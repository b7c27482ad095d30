// Splits arbitrary URLs with the HTTP client component. An even first byte makes every further
// byte one character; an odd one reads the rest as UTF-16 (little-endian pairs). A split that
// succeeds must leave every part zero-terminated inside its buffer, and splitting the stored URL
// again must give the same parts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/IEHTTP3.h"

namespace {

WideString Part(const char16_t* text, std::uint32_t length) {
  if (text == nullptr) return {};
  if (length >= 2048 || text[length] != 0) std::abort();
  return WideString(text, length);
}

struct Split {
  WideString error, host, path, extra;
  std::uint16_t port;
  AnsiString postData;
  bool operator==(const Split&) const = default;
};

Split Take(const TIEHTTP& http) {
  const os::URL_COMPONENTSW& parts = http.UrlParts();
  Split split{http.ErrorText(), {}, {}, {}, parts.nPort, http.PostData()};
  if (split.error.empty() && parts.dwStructSize != 0) {
    split.host = Part(parts.lpszHostName, parts.dwHostNameLength);
    split.path = Part(parts.lpszUrlPath, parts.dwUrlPathLength);
    split.extra = Part(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (split.path.empty()) std::abort();  // a URL without a path is refused
  }
  return split;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  WideString url;
  if ((data[0] & 1) == 0) {
    for (std::size_t i = 1; i < size; ++i) url.push_back(data[i]);
  } else {
    for (std::size_t i = 1; i + 1 < size; i += 2) {
      url.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
  }
  TIEHTTP http;
  http.SetURL(url);
  const Split first = Take(http);
  const WideString stored = http.URL();
  if (stored.empty()) return 0;
  TIEHTTP again;
  again.SetURL(stored);
  if (again.URL() != stored || !(Take(again) == first)) std::abort();
  return 0;
}
