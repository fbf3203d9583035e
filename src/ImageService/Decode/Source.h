// Where the decoders read an image file from: the file itself, read piece by piece, or bytes already
// in memory (the fuzz targets and tests). A decode may hold the decoded image and little else, so no
// decoder reads a file whole: probes read their headers, decoders stream the pixels through a Reader
// with a bounded buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ImageService::Decode {

class Source {
public:
    virtual ~Source() = default;
    // The file's length as opened; smaller once a read has found the file ending sooner (it shrank
    // while being read), so every later check judges what is there.
    std::uint64_t size() const { return length; }
    // Copies up to `count` bytes from `offset` and returns how many; fewer only where the data ends.
    std::size_t readAt(std::uint64_t offset, void* into, std::size_t count);

protected:
    explicit Source(std::uint64_t length) : length(length) {}
    // Up to `count` bytes, all within the length; fewer when the data ends sooner.
    virtual std::size_t fetch(std::uint64_t offset, void* into, std::size_t count) = 0;

private:
    std::uint64_t length;
};

class MemorySource : public Source {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) : Source(size), data(data) {}

protected:
    std::size_t fetch(std::uint64_t offset, void* into, std::size_t count) override;

private:
    const std::uint8_t* data;
};

// A sequential cursor over a source. The buffer holds at most `capacity` bytes, so take() and
// peek() hand out at most that many at once; the decoders ask for a row or a packet at a time.
class Reader {
public:
    static constexpr std::size_t kCapacity = std::size_t{1} << 20;
    // For text headers, which end within a few lines: the reader fetches this much at a time.
    static constexpr std::size_t kHeaderCapacity = 4096;

    Reader(Source& source, std::uint64_t at, std::size_t capacity = kCapacity);

    std::uint64_t position() const { return at; }
    std::uint64_t size() const { return source.size(); }
    bool atEnd() { return !ensure(1); }
    int peek() { return ensure(1) ? buffer[start] : -1; }
    int get() {
        if (!ensure(1))
            return -1;
        ++at;
        return buffer[start++];
    }
    // The next `count` bytes without moving past them; nullptr when the data ends before them.
    const std::uint8_t* peek(std::size_t count) { return ensure(count) ? buffer.data() + start : nullptr; }
    // The next `count` bytes, moved past; nullptr (and nothing moved) when the data ends before them.
    const std::uint8_t* take(std::size_t count) {
        if (!ensure(count))
            return nullptr;
        const std::uint8_t* bytes = buffer.data() + start;
        start += count;
        at += count;
        return bytes;
    }
    void skip(std::uint64_t count) {
        if (count <= end - start) {
            start += static_cast<std::size_t>(count);
        } else {
            start = end = 0;
        }
        at += count;
    }

private:
    bool ensure(std::size_t count) { return end - start >= count || refill(count); }
    bool refill(std::size_t count);

    Source& source;
    std::uint64_t at;  // file offset of buffer[start]
    std::vector<std::uint8_t> buffer;
    std::size_t start = 0;  // first unread byte in the buffer
    std::size_t end = 0;    // one past the last byte in the buffer
};

// The first min(size, count) bytes of the source. Headers are parsed from these, while their size
// checks use source.size(), so `count` must cover the longest header the format has.
std::vector<std::uint8_t> readHead(Source& source, std::size_t count);

}  // namespace ImageService::Decode
