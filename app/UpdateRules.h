// The rules the update worker applies to what the update server sends: the manifest's tokens,
// the file names it lists, and whether a response is a good delivery.
#pragma once

#include <cstdint>

#include "support/Exceptions.h"
#include "support/Strings.h"

// Takes the next token between `startTag` and `endTag` from the front of `buffer` (tags matched
// byte for byte). When both tags are found, `token` is the text between them and `buffer` loses
// everything up to and including the end tag; otherwise `token` is empty and `buffer` unchanged.
void TakeBetween(AnsiString& buffer, const AnsiString& startTag, const AnsiString& endTag,
                 AnsiString& token);

// A failure of the update that the worker ends its run with.
class EUpdateError : public Exception {
 public:
  using Exception::Exception;
};

// The release version a manifest's version token names, as the settings file reads it back:
// without the bytes 0x00 to 0x20 around it (so that a padded version matches on the next start).
// Raises EUpdateError when nothing is left, or a line break or zero byte remains inside, which
// the settings file could not hold.
AnsiString VersionOfToken(const AnsiString& token);

// Raises EUpdateError unless `name` is a plain relative file name that stays inside the
// directory it is saved under: no drive, root or UNC prefix, no "." or ".." segment, no
// character that Windows forbids in file names (control characters and <>:"|?*), no segment
// that names a device (CON, NUL, COM1, LPT1 and the like, with or without an extension).
void CheckServerFileName(const AnsiString& name);

// What a finished request delivered, as the worker judges it.
struct Delivery {
  AnsiString statusLine;          // first line of the response headers
  bool timedOut = false;          // the request was cut for lack of progress
  AnsiString contentLength;       // the server's own Content-Length header, empty when absent
  std::int64_t bytesReceived = 0; // body bytes as they came over the wire
  bool decodedWhole = true;       // a compressed body decoded to its end
};

// Raises EUpdateError unless the delivery is good: a 2xx status, not cut by the time-out, no
// shorter than the length the server announced, and, when compressed, decoded to its end (a
// body sent without a length and cut short shows only there).
void CheckDelivery(const Delivery& delivery, const AnsiString& what);
