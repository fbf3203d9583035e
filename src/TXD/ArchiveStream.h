// The file output of one save. A regular file (or a missing one) is never written in place: the
// archive goes into a temporary file beside it, which commit() syncs and puts in the path's place in
// one step, so a failed save leaves the old file byte for byte. The bytes of the file being replaced
// that the save keeps (around a dictionary inside a larger file) are copied from the file as it was
// opened, so no change made to it meanwhile can tear the copy. A character device, a pipe or a socket
// at the path is written directly, in one sequential pass, and never replaced; anything else is
// refused. The stream keeps the first error and ignores every later operation, so the writers can run
// straight through and ask once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Platform/Files.h"

namespace TXD {

class ArchiveStream {
public:
    ArchiveStream() = default;
    ~ArchiveStream();  // abandons whatever was not committed
    ArchiveStream(const ArchiveStream&) = delete;
    ArchiveStream& operator=(const ArchiveStream&) = delete;

    // Prepares output for `path`; the new file holds what is written and nothing else, unless parts of
    // the current file are copied in (copyExisting). False when no output could be set up; nothing at
    // the path was touched then.
    bool open(const std::string& path);

    // Where the dictionary that stands at `position` in the current file ends: a dictionary chunk
    // header there whose stated size the file holds. `position` itself when none stands there.
    std::uint64_t existingDictionaryEnd(std::uint64_t position);
    // Writes the current file's bytes [from, from + count), as far as it has them, at the position.
    void copyExisting(std::uint64_t from, std::uint64_t count);

    void write(const void* bytes, std::size_t count);
    void seek(std::int64_t position);
    std::int64_t tell() const { return position; }

    bool good() const { return !failed; }
    // The plain cause of the first failure (the system's reason), for the user.
    const std::string& reason() const { return why; }

    // Makes the written bytes the file at the path. False, with the path as it was, when anything
    // failed on the way; the temporary file is gone either way.
    bool commit();
    void abandon();

private:
    void fail(const std::string& reason);
    bool faultDue();
    // False, failing the stream, when the file being replaced exists but could not be read.
    bool existingReadable();
    void closeExisting();

    Platform::InputFile existing;  // the file being replaced, when it is a readable regular file
    bool readable = false;
    std::string unreadable;  // why the file being replaced could not be read, when it could not
    Platform::ReplacingFile replacement;
    Platform::DirectFile device;
    bool direct = false;
    bool opened = false;
    std::int64_t position = 0;
    bool failed = false;
    std::string why;
    std::vector<char> memory;  // the whole archive, for direct targets only
};

}  // namespace TXD
