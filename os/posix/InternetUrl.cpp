// Transitional until the URL splitting is written.
#include "os/posix/InternetParts.h"

namespace os::posix {

bool CrackUrl(const char16_t*, std::uint32_t, std::uint32_t, URL_COMPONENTSW*,
              std::uint32_t& error) {
  error = ERROR_INTERNET_INVALID_URL;
  return false;
}

bool QueryGlobalOption(std::uint32_t, void*, std::uint32_t*, std::uint32_t& error) {
  error = 12018;
  return false;
}

bool SetGlobalOption(std::uint32_t, const void*, std::uint32_t, std::uint32_t& error) {
  error = 12018;
  return false;
}

std::uint32_t ReceiveTimeoutMs() { return 0; }

}  // namespace os::posix
