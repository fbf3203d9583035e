// The file output of one save. A regular file (or a missing one) is never written in place: the
// archive goes into a temporary file beside it, which commit() syncs and renames over the path in one
// step, so a failed save leaves the old file byte for byte. Anything else that already exists at the
// path (a device, a pipe, /dev/stdout) is written directly, in one sequential pass, and never replaced. The
// stream keeps the first error and ignores every later operation, so the writers can run straight through and
// ask once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace TXD {

class ArchiveStream {
public:
    ArchiveStream() = default;
    ~ArchiveStream();  // abandons whatever was not committed
    ArchiveStream(const ArchiveStream&) = delete;
    ArchiveStream& operator=(const ArchiveStream&) = delete;

    // Prepares output for `path`. With `keepExisting` the output starts as a copy of the file's
    // current bytes, so that a write at an offset leaves the rest of the file as it was. False when
    // no output could be set up; nothing at the path was touched then.
    bool open(const std::string& path, bool keepExisting);

    void write(const void* bytes, std::size_t count);
    void seek(std::int64_t position);
    std::int64_t tell() const { return position; }

    bool good() const { return firstError == 0; }
    int error() const { return firstError; }  // errno of the first failure, 0 while good

    // Makes the written bytes the file at the path. False, with the path as it was, when anything
    // failed on the way; the temporary file is gone either way.
    bool commit();
    void abandon();

private:
    void fail(int code);
    bool faultDue();
    bool openReplacement(const std::string& target, bool exists, unsigned mode, unsigned owner,
                         unsigned group, bool keepExisting);
    bool openDirect(const std::string& target);
    bool copyFrom(const std::string& source);
    bool writeOut();

    int fd = -1;
    bool direct = false;
    std::string target;     // the file that commit() replaces
    std::string temporary;  // empty once renamed or removed
    std::int64_t position = 0;
    int firstError = 0;
    std::vector<char> memory;  // the whole archive, for direct targets only
};

}  // namespace TXD
