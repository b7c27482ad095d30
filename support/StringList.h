// TStringList: an ordered list of ANSI strings whose text is its lines each followed by CR LF.
#pragma once

#include <cstddef>
#include <vector>

#include "support/Strings.h"

class TStringList {
 public:
  TStringList() = default;
  virtual ~TStringList() = default;

  std::size_t Count() const { return lines_.size(); }
  const AnsiString& operator[](std::size_t index) const { return lines_[index]; }
  const std::vector<AnsiString>& Lines() const { return lines_; }

  virtual void Add(AnsiString line);
  virtual void Insert(std::size_t index, AnsiString line);
  virtual void Put(std::size_t index, AnsiString line);
  virtual void Delete(std::size_t index);
  virtual void Clear();

  // Every line followed by CR LF.
  AnsiString Text() const;
  // Replaces the lines by those of `text`: lines end at CR LF, LF or CR, and a zero byte ends
  // the text. A last line without a line break still counts; a text ending in a line break adds
  // no empty last line.
  void SetText(const AnsiString& text);

 protected:
  // Called after every change of the lines.
  virtual void Changed() {}

  std::vector<AnsiString> lines_;
};
