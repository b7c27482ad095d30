// The in-memory INI file: a settings file held as sections of lines, read once and written whole.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "support/StringList.h"
#include "support/Strings.h"

// A string list with hashed look-ups of whole lines and of the names of "name=value" lines.
// Unless made case-sensitive, both sides of a comparison are upper-cased by the ANSI rules first.
// Each table is rebuilt in full at the first look-up after a change, so a run of changes costs
// one rebuild. Of equal entries the last one is found.
class THashedStringList : public TStringList {
 public:
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool caseSensitive);

  // The index of the last line equal to `text`, or -1.
  int IndexOf(const AnsiString& text) const;
  // The index of the last line whose name (its text before the first "=") equals `name`, or -1.
  // Lines without "=" have no name and are never found.
  int IndexOfName(const AnsiString& name) const;

 protected:
  void Changed() override;

 private:
  // 256 buckets; each entry links to the next of its bucket, so an entry added later sits
  // nearer the head of its bucket.
  struct Table {
    bool valid = false;
    std::vector<int> heads;
    std::vector<int> next;   // by entry
    std::vector<int> index;  // the line of each entry
    std::vector<AnsiString> keys;
  };

  AnsiString KeyOf(const AnsiString& text) const;
  void Build(Table& table, bool names) const;
  int Find(Table& table, bool names, const AnsiString& text) const;

  bool caseSensitive_ = false;
  mutable Table valueHash_;
  mutable Table nameHash_;
};

// The hash of a look-up text: starting at 0, for each byte the hash rotated left by 2 bits XOR
// the byte, on 32 bits.
std::uint32_t HashOfText(const AnsiString& text);

// The common interface of the settings stores: values by section and key, and writing the whole
// store to its file.
class TCustomIniFile {
 public:
  explicit TCustomIniFile(AnsiString fileName) : fileName_(std::move(fileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  const AnsiString& FileName() const { return fileName_; }

  virtual AnsiString ReadValue(const AnsiString& SectionName, const AnsiString& KeyName,
                               const AnsiString& DefaultValue) = 0;
  virtual void WriteValue(const AnsiString& SectionName, const AnsiString& KeyName,
                          const AnsiString& NewValue) = 0;
  virtual void WriteWholeFile() = 0;

 private:
  AnsiString fileName_;
};

// An INI file held in memory. Creating it loads the file (a missing file, an empty name or a
// directory of that name gives an empty store; a file that cannot be read raises EFOpenError or
// EReadError). Values change in memory only until WriteWholeFile writes the whole content.
class TMemIniFile : public TCustomIniFile {
 public:
  explicit TMemIniFile(const AnsiString& fileName);

  // The value of the key in the section, or `DefaultValue` when either is missing. Section and
  // key match without regard to letter case; of equal ones the last is used.
  AnsiString ReadValue(const AnsiString& SectionName, const AnsiString& KeyName,
                       const AnsiString& DefaultValue) override;
  // Sets "KeyName=NewValue" in memory: in place of the found key line, else at the end of the
  // section, which is appended when missing. Raises EInvalidOperation, changing nothing, when a
  // text holds a line break or a NUL byte, which the file could not hold as one line.
  void WriteValue(const AnsiString& SectionName, const AnsiString& KeyName,
                  const AnsiString& NewValue) override;
  // Replaces the file by the whole content in one step, never leaving it half written. Raises
  // EFCreateError "Cannot create file "%s". %s" (or EWriteError) with the file unchanged, also
  // when the loaded file held a zero byte with more text after it, which was not read.
  void WriteWholeFile() override;

  // The content as the file holds it: each section's header, its lines and an empty line, each
  // line followed by CR LF.
  AnsiString Text() const;
  // Replaces the content by that parsed from a settings file's text (up to a zero byte).
  void SetText(const AnsiString& text);

  const THashedStringList& SectionNames() const { return FSectionList; }

 private:
  THashedStringList& AddSection(const AnsiString& name);

  THashedStringList FSectionList;
  bool FCutAtZero = false;  // the loaded file went on after a zero byte
  // The lines of each section, in the order of FSectionList.
  std::vector<std::unique_ptr<THashedStringList>> sectionLines_;
};
