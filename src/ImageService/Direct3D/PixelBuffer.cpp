#include "ImageService/Direct3D/PixelBuffer.h"

namespace ImageService {

PixelBuffer PixelBuffer::allocate(std::size_t size) {
    PixelBuffer buffer;
    // calloc of a large block maps fresh zero pages, so zeroing costs nothing up front.
    auto* bytes = static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1));
    if (!bytes)
        return buffer;
    buffer.bytes.reset(bytes);
    buffer.length = size;
    return buffer;
}

PixelBuffer PixelBuffer::adopt(std::uint8_t* bytes, std::size_t size) {
    PixelBuffer buffer;
    buffer.bytes.reset(bytes);
    buffer.length = bytes ? size : 0;
    return buffer;
}

}  // namespace ImageService
