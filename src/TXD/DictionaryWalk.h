// One walk over a dictionary's structure, from its chunk headers, native headers and size fields
// alone: every chunk is checked against its parent and its neighbours and every size against the
// chunk it sits in, so the records handed out lie exactly where the file says and nothing past the
// dictionary is touched. The reader accepts what the writer can write back unchanged. Both the load
// and the index walk twice: once to check everything, once to read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "TXD/ArchiveIndex.h"
#include "TXD/ArchiveInput.h"

namespace TXD {

class DictionaryWalk {
public:
    explicit DictionaryWalk(ArchiveInput& input) : input(input) {}

    // Walks the whole dictionary; `visit`, when given, receives each record as soon as its chunk is
    // checked, and stops the walk by returning false (reason() is then empty). False with reason() at
    // the first fault.
    bool walk(const std::function<bool(const RecordInfo&)>& visit);
    std::uint32_t textureCount() const { return count; }
    const std::string& reason() const { return why; }

private:
    bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool need(std::uint64_t count, std::uint64_t end, const char* what);
    bool readU32(std::uint32_t& value);
    bool chunkHeader(std::uint32_t type, std::uint32_t& size, std::uint64_t end);
    bool record(std::uint32_t index, std::uint64_t end, RecordInfo& info);
    bool nativeHeader(std::uint32_t index, RecordInfo& info);
    bool pixelData(std::uint32_t index, std::uint64_t end, RecordInfo& info);

    ArchiveInput& input;
    std::uint64_t at = 0;  // file offset of the next byte to read
    std::uint32_t count = 0;
    std::string why;
};

}  // namespace TXD
