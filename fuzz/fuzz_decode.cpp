// One target per image format: the header probe, then (when it accepts) a full decode into a buffer
// of exactly the size the probe promised. The sanitizers catch any read or write outside it.
#include <cstdint>
#include <vector>

#include "ImageService/Decode/Decoders.h"

using namespace ImageService;

#ifndef QUILLPACK_FUZZ_FORMAT
#error "QUILLPACK_FUZZ_FORMAT names the format: Png, Jpeg, Bmp, Tga, Dds, Pnm, Pfm or Hdr"
#endif
#define QP_JOIN(a, b) a##b
#define QP_PROBE(format) QP_JOIN(Decode::probe, format)
#define QP_DECODE(format) QP_JOIN(Decode::decode, format)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Decode::MemorySource file(data, size);
    Decode::ImageHeader header;
    if (FAILED(QP_PROBE(QUILLPACK_FUZZ_FORMAT)(file, &header)))
        return 0;
    auto bytes = levelByteSize(header.textureFormat, header.width, header.height);
    // Keep each run small enough for the fuzzer (a garbage 16 Mpixel image takes seconds under the
    // sanitizers); the size limits themselves are tested elsewhere.
    if (!bytes || *bytes > (std::size_t{16} << 20))
        return 0;
    std::vector<std::uint8_t> pixels(*bytes);
    QP_DECODE(QUILLPACK_FUZZ_FORMAT)(file, header, Decode::Destination{pixels.data(), pixels.size()});
    return 0;
}
