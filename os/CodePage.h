// Text in the system's ANSI code page and UTF-16, converted the way the operating system does it.
// On Windows this is the system's ANSI code page; elsewhere it is code page 936 (Simplified
// Chinese), the code page of the systems the product ships to.
#pragma once

#include <string>

namespace os {

// ANSI bytes to UTF-16. Bytes that form no character of the code page become U+FFFD.
std::u16string AnsiToWide(const std::string& ansi);

// UTF-16 to ANSI bytes. Characters the code page lacks become its default character "?".
std::string WideToAnsi(const std::u16string& wide);

// Upper-cases the letters of an ANSI text by the code page's rules; the trail bytes of
// double-byte characters are never touched.
std::string AnsiUpperCase(const std::string& ansi);

// Lower-cases a UTF-16 text character by character.
std::u16string WideLowerCase(const std::u16string& wide);

}  // namespace os
