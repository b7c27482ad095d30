#include "os/CodePage.h"

#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>

namespace os {
namespace {

constexpr char kAnsiCharset[] = "CP936";
constexpr char kWideCharset[] = "UTF-16LE";

// One iconv descriptor per direction and thread: iconv state is not shareable between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts as much as possible; returns false at an invalid or incomplete sequence, with the
  // pointers left at it. Output space is grown as needed.
  bool Run(const char*& in, size_t& inLeft, std::string& out) {
    while (inLeft > 0) {
      char buffer[4096];
      char* outPtr = buffer;
      size_t outLeft = sizeof buffer;
      size_t rc = iconv(cd_, const_cast<char**>(&in), &inLeft, &outPtr, &outLeft);
      out.append(buffer, static_cast<size_t>(outPtr - buffer));
      if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return false;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

Converter& ToWide() {
  thread_local Converter converter(kWideCharset, kAnsiCharset);
  return converter;
}

Converter& ToAnsi() {
  thread_local Converter converter(kAnsiCharset, kWideCharset);
  return converter;
}

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// The code page keeps ASCII as it is, so pure ASCII text (most headers, URLs and file names)
// converts unit by unit, without iconv.
template <typename From, typename To>
bool CopyIfAscii(const From& in, To& out) {
  for (const auto c : in) {
    if (static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<decltype(c)>>(c)) >= 0x80) {
      return false;
    }
  }
  out.assign(in.begin(), in.end());
  return true;
}

}  // namespace

std::u16string AnsiToWide(const std::string& ansi) {
  std::u16string ascii;
  if (CopyIfAscii(ansi, ascii)) return ascii;
  std::string bytes;
  const char* in = ansi.data();
  size_t left = ansi.size();
  while (!ToWide().Run(in, left, bytes)) {
    // A byte that starts no character of the code page: one replacement character, then on.
    const size_t skip = (IsLeadByte(static_cast<unsigned char>(*in)) && left >= 2) ? 2 : 1;
    bytes.append("\xFD\xFF", 2);
    in += skip;
    left -= skip;
  }
  std::u16string wide(bytes.size() / 2, u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
  return wide;
}

std::string WideToAnsi(const std::u16string& wide) {
  std::string ansi;
  if (CopyIfAscii(wide, ansi)) return ansi;
  const char* in = reinterpret_cast<const char*>(wide.data());
  size_t left = wide.size() * 2;
  while (!ToAnsi().Run(in, left, ansi)) {
    // A character the code page lacks (or a lone surrogate): the default character.
    const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(in[0]) |
                                                (static_cast<unsigned char>(in[1]) << 8));
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && left >= 4;
    const size_t skip = pair ? 4 : 2;
    ansi.push_back('?');
    in += skip;
    left -= skip;
  }
  return ansi;
}

std::string AnsiUpperCase(const std::string& ansi) {
  std::string upper = ansi;
  for (size_t i = 0; i < upper.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(upper[i]);
    if (IsLeadByte(c) && i + 1 < upper.size()) {
      ++i;  // the trail byte belongs to a double-byte character
    } else if (c >= 'a' && c <= 'z') {
      upper[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return upper;
}

std::u16string WideLowerCase(const std::u16string& wide) {
  std::u16string lower = wide;
  for (char16_t& c : lower) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
      c = static_cast<char16_t>(c + 0x20);
    } else if (c >= 0x400 && c <= 0x40F) {
      c = static_cast<char16_t>(c + 0x50);
    } else if (c >= 0xFF21 && c <= 0xFF3A) {
      c = static_cast<char16_t>(c + 0x20);
    }
  }
  return lower;
}

}  // namespace os
