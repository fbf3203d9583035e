#include "TXD/ArchiveStream.h"

#include <algorithm>
#include <limits>

#include "ImageService/Direct3D/TestSeams.h"
#include "TXD/ArchiveLayout.h"

namespace TXD {
namespace {

using ImageService::Operation;

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int64_t>::max() / 2;

}  // namespace

ArchiveStream::~ArchiveStream() {
    abandon();
}

void ArchiveStream::fail(const std::string& reason) {
    if (!failed) {
        failed = true;
        why = reason;
    }
}

bool ArchiveStream::faultDue() {
    if (ImageService::FAILED(ImageService::TestSeams::takeFault(Operation::FileWrite))) {
        fail("Input/output error");
        return true;
    }
    return false;
}

bool ArchiveStream::open(const std::string& path) {
    abandon();
    failed = false;
    why.clear();
    position = 0;

    Platform::OutputTarget target = Platform::examineOutput(path);
    if (!target.reason.empty()) {
        fail(target.reason);
        return false;
    }
    direct = target.kind != Platform::PathKind::Missing && target.kind != Platform::PathKind::RegularFile;
    if (direct) {
        // A direct target may not seek (a pipe, a terminal), so the archive is assembled in memory,
        // where the sizes can be patched, and written out in one sequential pass by commit().
        if (!device.open(target.file)) {
            fail(device.reason());
            return false;
        }
    } else {
        // Opened before the temporary exists, and held: the bytes kept are the old file's, whatever
        // happens to the path meanwhile. A file that cannot be read fails the save only where its
        // bytes are to be kept.
        readable = target.kind == Platform::PathKind::RegularFile && existing.open(target.file);
        unreadable = target.kind == Platform::PathKind::RegularFile && !readable ? existing.reason() : "";
        if (!replacement.create(target.file)) {
            fail(replacement.reason());
            return false;
        }
    }
    opened = true;
    return true;
}

bool ArchiveStream::existingReadable() {
    if (!unreadable.empty())
        fail(unreadable);
    return unreadable.empty();
}

std::uint64_t ArchiveStream::existingDictionaryEnd(std::uint64_t at) {
    if (!existingReadable() || !readable)
        return at;
    std::uint8_t header[Layout::kChunkHeaderBytes];
    const std::uint64_t size = existing.size();
    if (size < at || size - at < sizeof header ||
        existing.readAt(at, header, sizeof header) != sizeof header ||
        Layout::getU32(header + Layout::kChunkType.offset) != Layout::kChunkTextureDictionary)
        return at;
    const std::uint64_t stated = Layout::getU32(header + Layout::kChunkSize.offset);
    return stated <= size - at - sizeof header ? at + sizeof header + stated : at;
}

void ArchiveStream::copyExisting(std::uint64_t from, std::uint64_t count) {
    const std::uint64_t size = existing.size();
    if (count == 0 || !existingReadable() || !readable || from >= size)
        return;
    count = std::min(count, size - from);
    std::vector<char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1 << 16)));
    while (count > 0 && good()) {
        const std::int64_t got = existing.readAt(
            from, chunk.data(), static_cast<std::size_t>(std::min<std::uint64_t>(count, chunk.size())));
        if (got <= 0) {
            fail(got < 0 ? existing.reason() : "the file being replaced ended early");
            return;
        }
        write(chunk.data(), static_cast<std::size_t>(got));
        from += static_cast<std::uint64_t>(got);
        count -= static_cast<std::uint64_t>(got);
    }
}

void ArchiveStream::write(const void* bytes, std::size_t count) {
    if (!good() || !opened || faultDue())
        return;
    const char* next = static_cast<const char*>(bytes);
    if (direct) {
        std::size_t end = static_cast<std::size_t>(position) + count;
        if (end > memory.size())
            memory.resize(end);
        std::copy(next, next + count, memory.begin() + position);
    } else if (!replacement.writeAt(static_cast<std::uint64_t>(position), bytes, count)) {
        fail(replacement.reason());
        return;
    }
    position += static_cast<std::int64_t>(count);
}

void ArchiveStream::seek(std::int64_t to) {
    if (!good() || !opened || faultDue())
        return;
    if (to < 0 || to > kMaxPosition) {
        fail("Invalid argument");
        return;
    }
    position = to;
}

bool ArchiveStream::commit() {
    if (!opened)
        return false;
    // Every kept byte is copied by now; Windows renames nothing over a file that is still open.
    closeExisting();
    if (direct) {
        if (good() && !faultDue() && !device.write(memory.data(), memory.size()))
            fail(device.reason());
        if (good() && !faultDue() && !device.close())
            fail(device.reason());
    } else {
        // The seam stands for the sync, the close and the rename, each of which can fail.
        if (good() && !faultDue() && !faultDue() && !faultDue() && !replacement.commit())
            fail(replacement.reason());
    }
    if (!good()) {
        abandon();
        return false;
    }
    opened = false;
    memory.clear();
    return true;
}

void ArchiveStream::closeExisting() {
    existing.close();
    readable = false;
    unreadable.clear();
}

void ArchiveStream::abandon() {
    closeExisting();
    memory.clear();
    memory.shrink_to_fit();
    replacement.abandon();
    if (opened && direct)
        device.close();
    opened = false;
}

}  // namespace TXD
