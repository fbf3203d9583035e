#include "TXD/ArchiveInput.h"

#include <filesystem>
#include <fstream>

#include "TXD/ArchiveLayout.h"

namespace TXD {

bool readDictionaryBytes(const std::string& path, std::int32_t position, std::vector<std::uint8_t>& bytes,
                         std::string& reason) {
    if (position < 0) {
        reason = "negative position " + std::to_string(position);
        return false;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::is_regular_file(status)) {
        reason = std::filesystem::exists(status) ? "not a regular file" : "no such file";
        return false;
    }
    const std::uintmax_t fileSize = std::filesystem::file_size(path, error);
    std::ifstream in(path, std::ios::binary);
    if (error || !in) {
        reason = "the file does not open";
        return false;
    }
    const std::uint64_t start = static_cast<std::uint64_t>(position);
    if (fileSize < start || fileSize - start < Layout::kChunkHeaderBytes) {
        reason = "no dictionary header at offset " + std::to_string(position);
        return false;
    }
    std::uint8_t header[Layout::kChunkHeaderBytes];
    in.seekg(static_cast<std::streamoff>(start));
    in.read(reinterpret_cast<char*>(header), sizeof header);
    const std::uint32_t type = Layout::getU32(header + Layout::kChunkType.offset);
    if (in && type != Layout::kChunkTextureDictionary) {
        reason = "not a texture dictionary";
        return false;
    }
    const std::uint64_t stated = Layout::getU32(header + Layout::kChunkSize.offset);
    const std::uint64_t available = fileSize - start - Layout::kChunkHeaderBytes;
    if (!in || stated > available) {
        reason = "the dictionary states " + std::to_string(stated) + " bytes, the file holds " +
                 std::to_string(available) + " after its header";
        return false;
    }
    bytes.assign(header, header + sizeof header);
    bytes.resize(Layout::kChunkHeaderBytes + stated);
    in.read(reinterpret_cast<char*>(bytes.data() + Layout::kChunkHeaderBytes),
            static_cast<std::streamsize>(stated));
    if (!in) {
        reason = "the file ended early";
        return false;
    }
    return true;
}

}  // namespace TXD
