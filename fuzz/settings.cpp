// Loads arbitrary text as a settings file, then writes one value and reads it back, before and
// after the store's own text is loaded again, as the program does when it records a version.
// The first input byte gives the lengths of the section, key and value names (taken from the
// next bytes, mapped to letters and digits); the rest is the file's text. Any text must load
// without a fault, and the written value must be read back both times.
#include <cstdint>
#include <cstdlib>

#include "settings/IniFiles.h"

namespace {

AnsiString PlainName(const std::uint8_t*& data, std::size_t& size, std::size_t length) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  AnsiString name;
  for (; length > 0 && size > 0; --length, ++data, --size)
    name.push_back(kAlphabet[*data % (sizeof kAlphabet - 1)]);
  return name.empty() ? AnsiString("k") : name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t lengths = *data++;
  --size;
  const AnsiString section = PlainName(data, size, 1 + (lengths & 3));
  const AnsiString key = PlainName(data, size, 1 + ((lengths >> 2) & 3));
  const AnsiString value = PlainName(data, size, 1 + (lengths >> 4));
  const AnsiString text(reinterpret_cast<const char*>(data), size);

  TMemIniFile ini("");
  ini.SetText(text);
  for (const AnsiString& name : ini.SectionNames().Lines()) ini.ReadValue(name, key, "");
  ini.WriteValue(section, key, value);
  if (ini.ReadValue(section, key, "") != value) std::abort();
  const AnsiString saved = ini.Text();
  ini.SetText(saved);
  if (ini.ReadValue(section, key, "") != value) std::abort();
  // The text of a loaded text is stable: saving again changes nothing.
  if (ini.Text() != saved) std::abort();
  return 0;
}
