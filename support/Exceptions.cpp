#include "support/Exceptions.h"

AnsiString FormatMessageText(const AnsiString& pattern, std::initializer_list<AnsiString> args) {
  AnsiString out;
  out.reserve(pattern.size() + 64);
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size()) {
      const char kind = pattern[i + 1];
      if ((kind == 's' || kind == 'd' || kind == 'x') && next != args.end()) {
        out += *next++;
        ++i;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}
