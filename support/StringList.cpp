#include "support/StringList.h"

#include <utility>

void TStringList::Add(AnsiString line) {
  lines_.push_back(std::move(line));
  Changed();
}

void TStringList::Insert(std::size_t index, AnsiString line) {
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
  Changed();
}

void TStringList::Put(std::size_t index, AnsiString line) {
  lines_[index] = std::move(line);
  Changed();
}

void TStringList::Delete(std::size_t index) {
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

void TStringList::Clear() {
  lines_.clear();
  Changed();
}

AnsiString TStringList::Text() const {
  std::size_t total = 0;
  for (const AnsiString& line : lines_) total += line.size() + 2;
  AnsiString text;
  text.reserve(total);
  for (const AnsiString& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(const AnsiString& text) {
  lines_.clear();
  const std::size_t end = text.find('\0');
  const std::size_t length = end == AnsiString::npos ? text.size() : end;
  std::size_t start = 0;
  while (start < length) {
    std::size_t stop = start;
    while (stop < length && text[stop] != '\r' && text[stop] != '\n') ++stop;
    lines_.emplace_back(text, start, stop - start);
    if (stop < length && text[stop] == '\r') ++stop;
    else if (stop < length) ++stop;  // a lone LF
    if (stop < length && text[stop] == '\n' && text[stop - 1] == '\r') ++stop;  // CR LF
    start = stop;
  }
  Changed();
}
