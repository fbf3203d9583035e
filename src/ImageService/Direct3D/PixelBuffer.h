// Owner of one level's bytes. Allocation never throws: a request the machine cannot meet gives an
// empty buffer, which the service reports as E_OUTOFMEMORY. Memory comes zeroed, so no stale bytes
// can ever reach a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace ImageService {

class PixelBuffer {
public:
    PixelBuffer() = default;
    static PixelBuffer allocate(std::size_t size);
    // Takes over memory obtained from std::malloc/std::calloc (a decoder's output) without a copy.
    static PixelBuffer adopt(std::uint8_t* bytes, std::size_t size);

    std::uint8_t* data() { return bytes.get(); }
    const std::uint8_t* data() const { return bytes.get(); }
    std::size_t size() const { return length; }
    bool empty() const { return !bytes; }

private:
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, FreeDeleter> bytes;
    std::size_t length = 0;
};

}  // namespace ImageService
