// What the POSIX implementations of the platform layer share about descriptors and the kinds of
// file they lead to.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "Platform/Files.h"

namespace Platform {

inline int descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

inline PathKind kindOf(mode_t mode) {
    if (S_ISREG(mode))
        return PathKind::RegularFile;
    if (S_ISDIR(mode))
        return PathKind::Folder;
    if (S_ISCHR(mode))
        return PathKind::CharacterDevice;
    if (S_ISFIFO(mode))
        return PathKind::Pipe;
    if (S_ISSOCK(mode))
        return PathKind::Socket;
    return PathKind::Other;  // links among them, where they are not followed
}

}  // namespace Platform
