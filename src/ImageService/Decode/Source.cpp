#include "ImageService/Decode/Source.h"

#include <algorithm>
#include <cstring>

namespace ImageService::Decode {

std::size_t Source::readAt(std::uint64_t offset, void* into, std::size_t count) {
    if (offset >= length)
        return 0;
    const std::size_t asked = static_cast<std::size_t>(std::min<std::uint64_t>(count, length - offset));
    const std::size_t got = fetch(offset, into, asked);
    if (got < asked)
        length = offset + got;
    return got;
}

std::size_t MemorySource::fetch(std::uint64_t offset, void* into, std::size_t count) {
    std::memcpy(into, data + offset, count);
    return count;
}

// No larger than what is left to read: a request beyond that fails whatever the buffer's size, and a
// small file (the usual case in tests and fuzzing) then costs no megabyte of zeroed memory.
Reader::Reader(Source& source, std::uint64_t at, std::size_t capacity)
    : source(source),
      at(at),
      buffer(static_cast<std::size_t>(
          std::min<std::uint64_t>(capacity, source.size() > at ? source.size() - at : 0))) {}

bool Reader::refill(std::size_t count) {
    if (count > buffer.size())
        return false;
    std::memmove(buffer.data(), buffer.data() + start, end - start);
    end -= start;
    start = 0;
    while (end < count) {
        const std::size_t got = source.readAt(at + end, buffer.data() + end, buffer.size() - end);
        if (got == 0)
            return false;
        end += got;
    }
    return true;
}

std::vector<std::uint8_t> readHead(Source& source, std::size_t count) {
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(count, source.size())));
    head.resize(source.readAt(0, head.data(), head.size()));
    return head;
}

}  // namespace ImageService::Decode
