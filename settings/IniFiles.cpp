#include "settings/IniFiles.h"

#include "os/CodePage.h"
#include "os/Files.h"
#include "support/Exceptions.h"
#include "support/WideFileStreams.h"

namespace {

constexpr std::size_t kBuckets = 256;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// The text without the bytes 0x00 to 0x20 at either end.
AnsiString Trim(const AnsiString& text, std::size_t begin = 0, std::size_t end = AnsiString::npos) {
  if (end > text.size()) end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// A text that a settings line cannot hold: the file would read it back as other lines.
bool HoldsLineBreak(const AnsiString& text) {
  return text.find_first_of(AnsiString("\r\n\0", 3)) != AnsiString::npos;
}

}  // namespace

std::uint32_t HashOfText(const AnsiString& text) {
  std::uint32_t hash = 0;
  for (const char c : text) {
    hash = ((hash << 2) | (hash >> 30)) ^ static_cast<unsigned char>(c);
  }
  return hash;
}

void THashedStringList::SetCaseSensitive(bool caseSensitive) {
  if (caseSensitive == caseSensitive_) return;
  caseSensitive_ = caseSensitive;
  Changed();
}

void THashedStringList::Changed() {
  valueHash_.valid = false;
  nameHash_.valid = false;
}

AnsiString THashedStringList::KeyOf(const AnsiString& text) const {
  return caseSensitive_ ? text : os::AnsiUpperCase(text);
}

void THashedStringList::Build(Table& table, bool names) const {
  table.heads.assign(kBuckets, -1);
  table.next.clear();
  table.index.clear();
  table.keys.clear();
  table.next.reserve(lines_.size());
  table.index.reserve(lines_.size());
  table.keys.reserve(lines_.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    AnsiString key;
    if (names) {
      const std::size_t equals = lines_[i].find('=');
      if (equals == AnsiString::npos) continue;
      key = KeyOf(lines_[i].substr(0, equals));
    } else {
      key = KeyOf(lines_[i]);
    }
    const std::size_t bucket = HashOfText(key) % kBuckets;
    // At the head of its bucket: a later line shadows an earlier equal one.
    table.next.push_back(table.heads[bucket]);
    table.heads[bucket] = static_cast<int>(table.keys.size());
    table.index.push_back(static_cast<int>(i));
    table.keys.push_back(std::move(key));
  }
  table.valid = true;
}

int THashedStringList::Find(Table& table, bool names, const AnsiString& text) const {
  if (!table.valid) Build(table, names);
  const AnsiString key = KeyOf(text);
  for (int entry = table.heads[HashOfText(key) % kBuckets]; entry >= 0;
       entry = table.next[static_cast<std::size_t>(entry)]) {
    if (table.keys[static_cast<std::size_t>(entry)] == key) {
      return table.index[static_cast<std::size_t>(entry)];
    }
  }
  return -1;
}

int THashedStringList::IndexOf(const AnsiString& text) const {
  return Find(valueHash_, false, text);
}

int THashedStringList::IndexOfName(const AnsiString& name) const {
  return Find(nameHash_, true, name);
}

TMemIniFile::TMemIniFile(const AnsiString& fileName) : TCustomIniFile(fileName) {
  if (fileName.empty()) return;
  const WideString wideName = os::AnsiToWide(fileName);
  // A directory of that name counts as no file.
  if (!os::FileExists(wideName)) return;
  // Others may read the file meanwhile, but not change it under the reading.
  TTntFileStream file(wideName, fmOpenRead | fmShareDenyWrite);
  const std::int64_t size = file.Size();
  if (size < 0) throw EReadError("Stream read error");
  AnsiString text(static_cast<std::size_t>(size), '\0');
  // A short read must not pass for the whole file: the next write would lose the rest.
  if (size > 0 && file.Read(text.data(), size) != size) throw EReadError("Stream read error");
  SetText(text);
  // The text ends at a zero byte; what follows it is not read, so the file must not be rewritten
  // from what was (a file saved as UTF-16, say, would be reduced to its first character).
  const std::size_t zero = text.find('\0');
  FCutAtZero = zero != AnsiString::npos && text.find_first_not_of('\0', zero) != AnsiString::npos;
}

THashedStringList& TMemIniFile::AddSection(const AnsiString& name) {
  FSectionList.Add(name);
  sectionLines_.push_back(std::make_unique<THashedStringList>());
  return *sectionLines_.back();
}

void TMemIniFile::SetText(const AnsiString& text) {
  FCutAtZero = false;
  FSectionList.Clear();
  sectionLines_.clear();
  TStringList lines;
  lines.SetText(text);
  THashedStringList* section = nullptr;
  for (const AnsiString& raw : lines.Lines()) {
    const AnsiString line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = &AddSection(Trim(line, 1, line.size() - 1));
    } else if (section != nullptr) {
      const std::size_t equals = line.find('=');
      if (equals == AnsiString::npos) {
        section->Add(line);
      } else {
        section->Add(Trim(line, 0, equals) + "=" + Trim(line, equals + 1));
      }
    }
    // Lines before the first section header belong to no section and are dropped.
  }
}

AnsiString TMemIniFile::Text() const {
  std::size_t total = 0;
  for (std::size_t i = 0; i < FSectionList.Count(); ++i) {
    total += FSectionList[i].size() + 6;
    for (const AnsiString& line : sectionLines_[i]->Lines()) total += line.size() + 2;
  }
  AnsiString text;
  text.reserve(total);
  for (std::size_t i = 0; i < FSectionList.Count(); ++i) {
    text += "[";
    text += FSectionList[i];
    text += "]\r\n";
    for (const AnsiString& line : sectionLines_[i]->Lines()) {
      text += line;
      text += "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

AnsiString TMemIniFile::ReadValue(const AnsiString& SectionName, const AnsiString& KeyName,
                                  const AnsiString& DefaultValue) {
  const int section = FSectionList.IndexOf(SectionName);
  if (section < 0) return DefaultValue;
  const THashedStringList& lines = *sectionLines_[static_cast<std::size_t>(section)];
  const int key = lines.IndexOfName(KeyName);
  if (key < 0) return DefaultValue;
  const AnsiString& line = lines[static_cast<std::size_t>(key)];
  return line.substr(line.find('=') + 1);
}

void TMemIniFile::WriteValue(const AnsiString& SectionName, const AnsiString& KeyName,
                             const AnsiString& NewValue) {
  if (HoldsLineBreak(SectionName) || HoldsLineBreak(KeyName) || HoldsLineBreak(NewValue) ||
      KeyName.find('=') != AnsiString::npos) {
    throw EInvalidOperation(
        "Invalid settings entry: a line break or NUL byte in a section, key or value, or \"=\" "
        "in a key name");
  }
  const int found = FSectionList.IndexOf(SectionName);
  THashedStringList& lines =
      found >= 0 ? *sectionLines_[static_cast<std::size_t>(found)] : AddSection(SectionName);
  AnsiString line = KeyName + "=" + NewValue;
  const int key = lines.IndexOfName(KeyName);
  if (key >= 0) {
    lines.Put(static_cast<std::size_t>(key), std::move(line));
  } else {
    lines.Add(std::move(line));
  }
}

void TMemIniFile::WriteWholeFile() {
  if (FCutAtZero) {
    throw EFCreateError(FormatMessageText(
        "Cannot create file \"%s\". %s",
        {FileName(), "It holds a zero byte before more text, which rewriting it would lose"}));
  }
  const AnsiString text = Text();
  ReplaceFileAtomically(os::AnsiToWide(FileName()), text.data(),
                        static_cast<std::int64_t>(text.size()));
}
