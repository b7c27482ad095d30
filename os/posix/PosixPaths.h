// File names between the program's form (UTF-16, backslashes as on Windows) and Linux's (UTF-8,
// slashes). Used by the Linux implementations of the file, process and registry services.
#pragma once

#include <string>

namespace os::posix {

// The UTF-8 form of a UTF-16 name, every backslash a slash.
std::string NativePath(const std::u16string& name);

// The UTF-16 form of UTF-8 text, every slash replaced by `slash` (a slash keeps it). A byte
// that starts no sequence stands for itself.
std::u16string WidePath(const std::string& utf8, char16_t slash = u'/');

}  // namespace os::posix
