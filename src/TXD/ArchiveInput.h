// The file input of one load: the bytes of the dictionary that starts at a position in a file, and
// nothing more. Only a regular file is read (a pipe or a device has no length to check sizes against),
// and no more is read than the dictionary's header says it holds and the file really has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TXD {

// The dictionary's header and body, from `position` to the end its header states. False with the
// reason when the file cannot be read or does not hold that much.
bool readDictionaryBytes(const std::string& path, std::int32_t position, std::vector<std::uint8_t>& bytes,
                         std::string& reason);

}  // namespace TXD
