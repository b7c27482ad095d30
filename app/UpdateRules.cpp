#include "app/UpdateRules.h"

#include <charconv>
#include <string_view>

#include "os/CodePage.h"

void TakeBetween(AnsiString& buffer, const AnsiString& startTag, const AnsiString& endTag,
                 AnsiString& token) {
  token.clear();
  if (buffer.empty()) return;
  const std::size_t start = buffer.find(startTag);
  if (start == AnsiString::npos) return;
  const std::size_t bodyStart = start + startTag.size();
  const std::size_t end = buffer.find(endTag, bodyStart);
  if (end == AnsiString::npos) return;
  token = buffer.substr(bodyStart, end - bodyStart);
  buffer.erase(0, end + endTag.size());
}

AnsiString VersionOfToken(const AnsiString& token) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  std::size_t begin = 0, end = token.size();
  while (begin < end && blank(token[begin])) ++begin;
  while (end > begin && blank(token[end - 1])) --end;
  const AnsiString version = token.substr(begin, end - begin);
  if (version.empty()) throw EUpdateError("manifest: empty version token");
  if (version.find_first_of(AnsiString("\r\n\0", 3)) != AnsiString::npos) {
    throw EUpdateError("manifest: the version token holds a line break or a zero byte");
  }
  return version;
}

namespace {

// True for a path segment that Windows opens as a device instead of a file: CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM0-COM9 or LPT0-LPT9 (with the superscript digits 1-3 as well) in any letter
// case, alone or followed by an extension or by blanks. Saving under such a name, or writing the
// temporary file beside it, would send the bytes to the device.
bool IsDeviceName(std::u16string_view segment) {
  segment = segment.substr(0, segment.find(u'.'));
  while (!segment.empty() && segment.back() == u' ') segment.remove_suffix(1);
  std::u16string upper(segment);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (upper == device) return true;
  }
  if (upper.size() != 4 || (upper.compare(0, 3, u"COM") != 0 && upper.compare(0, 3, u"LPT") != 0))
    return false;
  const char16_t digit = upper[3];
  return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
         digit == u'\u00B3';
}

}  // namespace

void CheckServerFileName(const AnsiString& name) {
  auto refuse = [&name](const char* why) {
    throw EUpdateError("Refused file name \"" + name + "\": " + why);
  };
  // The check runs on the name as the file system will see it: in code page 936 a trail byte
  // can look like "\\" or "|" without being one.
  const WideString wide = os::AnsiToWide(name);
  if (wide.empty()) refuse("empty");
  if (wide[0] == u'\\' || wide[0] == u'/') refuse("absolute path");
  for (const char16_t c : wide) {
    if (c < 0x20 || c == 0x7F) refuse("control character");
    if (std::u16string_view(u"<>:\"|?*").find(c) != std::u16string_view::npos) {
      refuse("character not allowed in file names");
    }
  }
  std::size_t start = 0;
  while (start <= wide.size()) {
    std::size_t end = wide.find_first_of(u"\\/", start);
    if (end == WideString::npos) end = wide.size();
    const WideString segment = wide.substr(start, end - start);
    if (segment.empty()) refuse("empty path segment");
    // ".", ".." and the like: Windows drops trailing dots and blanks, so any segment made of
    // them alone names the directory itself or its parent.
    if (segment.find_first_not_of(u". ") == WideString::npos) refuse("relative path segment");
    if (IsDeviceName(segment)) refuse("device name");
    start = end + 1;
  }
}

void CheckDelivery(const Delivery& delivery, const AnsiString& what) {
  if (delivery.timedOut) throw EUpdateError(what + ": the request timed out");
  // "HTTP/1.1 200 OK": the status is the second word.
  const std::size_t blank = delivery.statusLine.find(' ');
  const AnsiString status =
      blank == AnsiString::npos ? AnsiString() : delivery.statusLine.substr(blank + 1, 3);
  if (status.size() != 3 || status[0] != '2' || status[1] < '0' || status[1] > '9' ||
      status[2] < '0' || status[2] > '9') {
    throw EUpdateError(what + ": bad response \"" + delivery.statusLine + "\"");
  }
  if (!delivery.decodedWhole) {
    throw EUpdateError(what + ": the compressed body is cut short or damaged");
  }
  if (!delivery.contentLength.empty()) {
    std::int64_t announced = 0;
    const char* first = delivery.contentLength.data();
    const char* last = first + delivery.contentLength.size();
    const auto [ptr, ec] = std::from_chars(first, last, announced);
    if (ec == std::errc() && ptr == last && delivery.bytesReceived < announced) {
      throw EUpdateError(what + ": body shorter than announced");
    }
  }
}
