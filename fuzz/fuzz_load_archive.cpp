// Arbitrary file bytes as a texture dictionary. Whatever they hold, loading and listing must end
// cleanly and agree (the same files accepted, the same records), and a dictionary that loads must save,
// load again and save to the same bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Common/MessageLog.h"
#include "TXD/ArchiveIndex.h"
#include "TXD/TXDArchive.h"

namespace {

// Memory-backed where there is such a folder: a save syncs its file, which on a disk would cost more
// than the load.
const std::string kBase = std::string(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") +
                          "/quillpack-fuzz-load-" + std::to_string(getpid());

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = kBase + ".in", first = kBase + ".1", second = kBase + ".2";
    std::remove(input.c_str());
    std::FILE* file = std::fopen(input.c_str(), "wb");
    if (!file)
        return 0;
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);

    TXD::TXDArchive archive;
    std::vector<TXD::RecordInfo> listed;
    std::string why;
    const bool loaded = archive.loadFile(input);
    if (TXD::readIndex(input, 0, listed, why) != loaded || listed.size() != archive.getTextureCount())
        std::abort();  // the listing and the load must accept the same files
    for (std::uint32_t i = 0; i < listed.size(); ++i) {
        const TXD::TextureRecord& record = archive.getTexture(i);
        if (listed[i].name != record.name || listed[i].width != record.width ||
            listed[i].height != record.height || listed[i].mipLevels != record.mipLevels ||
            listed[i].hasAlpha != record.hasAlpha)
            std::abort();
    }
    if (loaded) {
        TXD::TXDArchive again;
        if (!archive.saveFile(first, 0) || !again.loadFile(first) || !again.saveFile(second, 0) ||
            contents(first) != contents(second)) {
            std::abort();  // a loaded dictionary must survive its own round trip unchanged
        }
        std::remove(first.c_str());
        std::remove(second.c_str());
    }
    std::remove(input.c_str());          // replays in the test command leave nothing behind
    MessageLog::getInstance()->clear();  // millions of runs would otherwise fill memory with log lines
    return 0;
}
