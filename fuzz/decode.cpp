// Decodes arbitrary bodies. The first input byte picks the preferred mode and whether the URL
// names an .asp page; the rest is the body. Any body must decode without a fault, and a body
// without the compressed-body signature must come back unchanged, in the same stream, and count
// as whole.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/CompressedBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char kModes[] = {'Z', 'G', 0, 'g'};
  static const std::uint8_t kSignature[8] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00};
  const char mode = kModes[data[0] & 3];
  const WideString url = (data[0] & 4) != 0 ? u"http://127.0.0.1/Update.ASPX" : u"http://h/f.bin";
  const std::uint8_t* body = data + 1;
  const std::size_t bodySize = size - 1;

  auto stream = std::make_unique<TTntMemoryStream>();
  stream->WriteBuffer(body, static_cast<std::int64_t>(bodySize));
  stream->SetPosition(0);
  const TTntMemoryStream* received = stream.get();
  const bool whole = DecodeCompressed(stream, url, mode);
  if (stream == nullptr) std::abort();

  const bool signature = bodySize >= 8 && std::memcmp(body, kSignature, 8) == 0;
  if (!signature) {
    if (!whole || stream.get() != received || stream->Position() != 0 ||
        stream->Size() != static_cast<std::int64_t>(bodySize) ||
        (bodySize > 0 && std::memcmp(stream->Memory(), body, bodySize) != 0)) {
      std::abort();
    }
  } else if (stream.get() == received) {
    std::abort();  // a body with the signature is always replaced
  }
  return 0;
}
