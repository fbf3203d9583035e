#include "TXD/ArchiveStream.h"

#include <algorithm>
#include <limits>

#include "ImageService/Direct3D/TestSeams.h"

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

bool ArchiveStream::open(const std::string& path, bool keepExisting) {
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
    } else if (!replacement.create(target.file)) {
        fail(replacement.reason());
        return false;
    }
    opened = true;
    if (!direct && keepExisting && target.kind == Platform::PathKind::RegularFile && !copyFrom(target.file)) {
        abandon();
        return false;
    }
    return true;
}

bool ArchiveStream::copyFrom(const std::string& source) {
    Platform::InputFile in;
    if (!in.open(source)) {
        fail(in.reason());
        return false;
    }
    std::vector<char> chunk(1 << 16);
    for (;;) {
        std::int64_t got = in.read(chunk.data(), chunk.size());
        if (got < 0)
            fail(in.reason());
        if (got <= 0)
            break;
        write(chunk.data(), static_cast<std::size_t>(got));
    }
    return good();
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

void ArchiveStream::abandon() {
    memory.clear();
    memory.shrink_to_fit();
    replacement.abandon();
    if (opened && direct)
        device.close();
    opened = false;
}

}  // namespace TXD
