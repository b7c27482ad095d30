#include "support/TextHelpers.h"

#include <cstring>

void SplitString(AnsiString s, char separator, arStr& result) {
  result.clear();
  do {
    const std::size_t p = s.find(separator);
    if (p == AnsiString::npos) {
      result.push_back(std::move(s));
      s.clear();
    } else {
      result.push_back(s.substr(0, p));
      s.erase(0, p + 1);
    }
  } while (!s.empty());
}

void StreamToString(const TMemoryStream& stream, AnsiString& result) {
  const std::int64_t size = stream.Size();
  result.resize(static_cast<std::size_t>(size));
  if (size > 0) std::memcpy(result.data(), stream.Memory(), static_cast<std::size_t>(size));
}

void Base64Encode(const AnsiString& s, AnsiString& result) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::size_t n = s.size();
  result.assign(4 * ((n + 2) / 3), '=');
  std::size_t out = 0;
  for (std::size_t i = 0; i < n; i += 3) {
    const unsigned b0 = static_cast<unsigned char>(s[i]);
    const unsigned b1 = i + 1 < n ? static_cast<unsigned char>(s[i + 1]) : 0;
    const unsigned b2 = i + 2 < n ? static_cast<unsigned char>(s[i + 2]) : 0;
    const unsigned group = (b0 << 16) | (b1 << 8) | b2;
    result[out++] = kAlphabet[(group >> 18) & 63];
    result[out++] = kAlphabet[(group >> 12) & 63];
    result[out++] = i + 1 < n ? kAlphabet[(group >> 6) & 63] : '=';
    result[out++] = i + 2 < n ? kAlphabet[group & 63] : '=';
  }
}

void Utf8ToWide(const AnsiString& s, WideString& result) {
  result.clear();
  if (s.empty()) return;
  WideString out(s.size(), u'\0');
  std::size_t count = 0;
  const std::size_t n = s.size();
  auto continuation = [&](std::size_t i, unsigned& bits) {
    if (i >= n) return false;
    const unsigned b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return false;
    bits = b & 0x3F;
    return true;
  };
  for (std::size_t i = 0; i < n;) {
    const unsigned lead = static_cast<unsigned char>(s[i]);
    unsigned b1 = 0, b2 = 0;
    if (lead < 0x80) {
      out[count++] = static_cast<char16_t>(lead);
      i += 1;
    } else if ((lead & 0x20) == 0) {
      if (!continuation(i + 1, b1)) return;
      out[count++] = static_cast<char16_t>(((lead & 0x1F) << 6) | b1);
      i += 2;
    } else {
      if (!continuation(i + 1, b1) || !continuation(i + 2, b2)) return;
      out[count++] = static_cast<char16_t>(((lead & 0x0F) << 12) | (b1 << 6) | b2);
      i += 3;
    }
  }
  out.resize(count);
  result = std::move(out);
}

void WideToUtf8(const WideString& w, AnsiString& result) {
  result.clear();
  if (w.empty()) return;
  AnsiString out(w.size() * 3, '\0');
  std::size_t count = 0;
  for (const char16_t unit : w) {
    if (unit < 0x80) {
      out[count++] = static_cast<char>(unit);
    } else if (unit < 0x800) {
      out[count++] = static_cast<char>(0xC0 | (unit >> 6));
      out[count++] = static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      out[count++] = static_cast<char>(0xE0 | (unit >> 12));
      out[count++] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      out[count++] = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  out.resize(count);
  result = std::move(out);
}
