// The parts of the Linux internet library that need no network: URL splitting and the
// process-wide options. The library class (Internet.cpp) forwards its calls here.
#pragma once

#include <cstdint>

#include "os/Internet.h"

namespace os::posix {

// InternetCrackUrlW with WinInet's rules; on failure returns false with `error` set.
bool CrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
              URL_COMPONENTSW* components, std::uint32_t& error);

// InternetQueryOptionW and InternetSetOptionW without a handle (process-wide options).
bool QueryGlobalOption(std::uint32_t option, void* buffer, std::uint32_t* bufferLength,
                       std::uint32_t& error);
bool SetGlobalOption(std::uint32_t option, const void* buffer, std::uint32_t bufferLength,
                     std::uint32_t& error);

// The process-wide receive time-out in milliseconds (0: none), as last set.
std::uint32_t ReceiveTimeoutMs();

}  // namespace os::posix
