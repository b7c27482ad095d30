// Decoding of compressed response bodies. A body counts as compressed when it starts with the
// eight bytes 1F 8B 08 00 00 00 00 00. Two layouts follow that prefix: mode Z, a zlib stream
// from offset 8, and mode G, a gzip file of one or more members from offset 0. None of these
// routines reports bad data: a bad body yields fewer decoded bytes or none.
#pragma once

#include <memory>

#include "support/Streams.h"
#include "support/Strings.h"
#include "support/WideFileStreams.h"

// Decodes the body in `stream` (position 0 on entry) when it carries the compressed-body
// signature; otherwise leaves it unchanged at position 0. `mode` is the preferred layout, 'Z' or
// 'G'; any other value means 'Z'. A URL containing ".asp" in any letter case selects 'G'. When
// the first layout yields nothing the other one is tried. A body with the signature is replaced
// by a new stream holding the decoded bytes, which is empty when neither layout decodes. Raises
// only what the second attempt raises (exhausted memory, a failing read), and then `stream`
// still holds the received body.
// Returns false when a body with the signature did not decode whole in the layout whose bytes
// were kept (cut short, damaged, or with bytes lost after a damaged member; see GunzipStream and
// InflateZlibStream), so that a caller can refuse a body that is not all there; true otherwise.
bool DecodeCompressed(std::unique_ptr<TTntMemoryStream>& stream, const WideString& url, char mode);

// Decodes `source` in one layout. 'Z': inflates the zlib stream from offset 8 and appends the
// bytes to `output`. 'G': replaces `output` by the gunzipped content of `source` from offset 0.
// Any other mode does nothing. True when the layout decoded whole (never for another mode).
bool DecodeAs(TMemoryStream& source, std::unique_ptr<TTntMemoryStream>& output, char mode);

// Inflates the zlib stream running from `source`'s position to its end and appends the decoded
// bytes to `output`: all of them when the stream ends with a matching Adler-32, none otherwise.
// `output`'s position is 0 afterwards. True when the stream was complete.
bool InflateZlibStream(TMemoryStream& source, TMemoryStream& output);

// The decoded content of the gzip file at `source`'s position: every complete member, the bytes
// decodable before a fault, and bytes following a member that do not start a new one, copied
// unchanged. The returned stream's position is at its end. `whole`, when given, tells whether
// that is all the input held, undamaged: false when the input ended inside a member's header or
// deflate data, or a fault in a header, in deflate data or in a complete trailer (CRC-32 or size)
// stopped the decode. A trailer cut short at the end of the input loses nothing.
std::unique_ptr<TTntMemoryStream> GunzipStream(TMemoryStream& source, bool* whole = nullptr);
