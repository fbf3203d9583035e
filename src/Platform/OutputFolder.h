// A folder that files are written into by name, held open from the start. Every name is looked up
// and written in that folder and nowhere else, never through a link: whatever another process does
// meanwhile (a link planted under a name, the folder's path moved or replaced), the bytes land in the
// folder that was opened, under the name asked for, or nowhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Platform/Files.h"

namespace Platform {

class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Opens the folder at `path`, making it and any missing folders above it first. A folder that
    // another process makes meanwhile is no error.
    bool open(const std::string& path);

    // What `name` holds in the folder, a link counting as itself (PathKind::Other), not as what it
    // names: Missing, RegularFile, Folder, a device or pipe, or Other. A name that a lookup would take
    // out of the folder (a separator in it, "." or "..") is no entry of it: Other.
    PathKind entryKind(const std::string& name) const;
    // `name` is a regular file in the folder and the same file as the one at `path`.
    bool entryIsFile(const std::string& name, const std::string& path) const;

    enum class Placed { Written, Occupied, Failed };
    // Writes `bytes` as the file `name`, whole or not at all: a temporary in the folder is written,
    // synced and then given the name in one step. With `replace` it takes the place of whatever file
    // entry holds the name (a link there is replaced, never followed); without it the name must be
    // free, and Occupied says it was taken meanwhile. Occupied also when a folder stands there.
    // Failed with reason() on any other fault; no temporary is left either way.
    Placed write(const std::string& name, bool replace, const void* bytes, std::size_t count);

    // Makes the names given so far durable (a sync of the folder, where the system has one).
    void sync();
    const std::string& reason() const { return why; }

private:
    bool fail(const std::string& reason);
    std::intptr_t handle = -1;
    std::string path;  // as opened, for the interrupt handler's removal of a temporary
    std::string why;
};

}  // namespace Platform
