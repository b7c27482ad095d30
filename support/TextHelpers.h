// Small routines to cut, copy and convert text. None of them raises for any content of its
// input. The UTF-8 conversions are our own rules, not the operating system's converters: one
// UTF-16 code unit per sequence of at most three bytes.
#pragma once

#include "support/Streams.h"
#include "support/Strings.h"

// Splits `s` at every `separator` byte. Empty pieces between separators and before a leading
// one are kept; a trailing separator yields no empty last piece; an empty `s` gives one empty
// piece.
void SplitString(AnsiString s, char separator, arStr& result);

// All bytes of the stream from offset 0, whatever its position, which is left unchanged.
void StreamToString(const TMemoryStream& stream, AnsiString& result);

// Standard Base64 with "=" padding and no line breaks.
void Base64Encode(const AnsiString& s, AnsiString& result);

// UTF-8 bytes to UTF-16. A continuation byte outside 0x80-0xBF or an incomplete sequence
// anywhere makes the whole result empty.
void Utf8ToWide(const AnsiString& s, WideString& result);

// UTF-16 to UTF-8, each code unit on its own (a surrogate pair becomes six bytes).
void WideToUtf8(const WideString& w, AnsiString& result);

// Value-returning forms of the two conversions.
inline WideString Utf8ToWide(const AnsiString& s) {
  WideString w;
  Utf8ToWide(s, w);
  return w;
}
inline AnsiString WideToUtf8(const WideString& w) {
  AnsiString s;
  WideToUtf8(w, s);
  return s;
}
