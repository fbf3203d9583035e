// Files as the tool uses them, the same on every operating system: inputs that are read without ever
// blocking, the kind of a path, and outputs that replace a file in one step or stream to a device.
// Paths are UTF-8 with `/` or `\` between folders; each implementation turns them into its own form
// (on Windows, UTF-16). Failures carry the system's plain reason for the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Platform {

enum class PathKind { Missing, RegularFile, Folder, CharacterDevice, Pipe, Socket, Other };

// What the path names, following symbolic links. Missing also covers a path that cannot be examined.
PathKind pathKind(const std::string& path);

// Both paths name one existing file (same device and file number).
bool sameFile(const std::string& first, const std::string& second);

// The path leads to the file, device or pipe that the process's standard output is.
bool isStandardOutput(const std::string& path);

// A regular file opened for reading. Opening never waits on what the path is (a FIFO without a
// writer, a terminal) and refuses anything but a regular file.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool open(const std::string& path);
    void close();
    std::uint64_t size() const { return length; }
    // Up to `count` bytes; 0 at the end; -1 on failure.
    std::int64_t read(void* into, std::size_t count);
    // Up to `count` bytes from `offset`; 0 at the end; -1 on failure. Where read() would go on from
    // afterwards differs between systems: a file is read one way or the other.
    std::int64_t readAt(std::uint64_t offset, void* into, std::size_t count);
    // The first offset at or after `offset` that may hold data rather than a hole of a sparse file
    // (a hole reads as zeros, and need not be read); size() when only a hole follows. Where the
    // system cannot tell, `offset` itself.
    std::uint64_t dataFrom(std::uint64_t offset);
    const std::string& reason() const { return why; }

private:
    std::intptr_t handle = -1;
    std::uint64_t length = 0;
    std::string why;
};

// Where an archive for `path` goes. A regular file or a missing one is replaced through a temporary
// beside it (`file` is what a symbolic link names, so the link survives); a character device, a pipe
// or a socket is written directly. Anything else is refused with `reason`.
struct OutputTarget {
    PathKind kind = PathKind::Missing;
    std::string file;
    std::string reason;  // empty when the path can be written
};
OutputTarget examineOutput(const std::string& path);

// A temporary file beside the target that commit() makes the target in one step, so that readers see
// the old file or the whole new one. While it exists it is registered with the interrupt handler
// (Process.h), which removes it when the process is killed by a signal it can catch.
class ReplacingFile {
public:
    ReplacingFile() = default;
    ~ReplacingFile();  // abandons
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // The temporary gets an existing target's permissions (and owner, where allowed), or what a new
    // file would get.
    bool create(const std::string& target);
    bool writeAt(std::uint64_t offset, const void* bytes, std::size_t count);
    // Syncs, closes and puts the temporary in the target's place; the temporary is gone either way.
    bool commit();
    void abandon();
    const std::string& reason() const { return why; }

private:
    bool fail(const std::string& reason);
    std::intptr_t handle = -1;
    std::string target;
    std::string temporary;
    std::string why;
};

// A device, pipe or socket, written in one sequential pass. Opening a pipe without a reader fails at
// once rather than waiting for one.
class DirectFile {
public:
    DirectFile() = default;
    ~DirectFile();
    DirectFile(const DirectFile&) = delete;
    DirectFile& operator=(const DirectFile&) = delete;

    bool open(const std::string& path);
    bool write(const void* bytes, std::size_t count);
    // Syncs where the target can and closes; false when a deferred write error shows up.
    bool close();
    const std::string& reason() const { return why; }

private:
    bool fail(const std::string& reason);
    std::intptr_t handle = -1;
    std::string why;
};

}  // namespace Platform
