// The file input of one load or listing: the dictionary that starts at a position in a file, read
// where it is needed and never as a whole. Only a regular file is read (a pipe or a device has no
// length to check sizes against). Small reads, as of the chunk headers, come from a window of the
// file that is read ahead; large ones go straight into the caller's memory, in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Platform/Files.h"

namespace TXD {

class ArchiveInput {
public:
    // Opens the file and reads the dictionary's header at `position`: a dictionary chunk whose stated
    // size the file holds. False with reason() otherwise.
    bool open(const std::string& path, std::int64_t position);

    std::uint64_t start() const { return first; }  // the header's offset in the file
    std::uint64_t end() const { return last; }     // just past the dictionary as its header states it
    std::uint32_t stamp() const { return version; }

    // Exactly `count` bytes from file offset `offset` into `into`; false with reason() when the file
    // ends or fails first.
    bool read(std::uint64_t offset, void* into, std::size_t count);
    // Where data may start at or after `offset`: bytes before it lie in a hole of a sparse file and
    // read as zeros (Platform::InputFile::dataFrom).
    std::uint64_t dataFrom(std::uint64_t offset) { return file.dataFrom(offset); }
    const std::string& reason() const { return why; }

private:
    bool fail(const std::string& reason);
    bool readDirect(std::uint64_t offset, std::uint8_t* into, std::size_t count);

    Platform::InputFile file;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint32_t version = 0;
    std::vector<std::uint8_t> window;  // the bytes from windowStart, read ahead
    std::uint64_t windowStart = 0;
    std::string why;
};

}  // namespace TXD
