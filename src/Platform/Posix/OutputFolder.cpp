// The output folder on POSIX systems: one descriptor of the folder, and every name opened, examined
// and renamed relative to it (openat, fstatat, renameat) with links never followed.
#include "Platform/OutputFolder.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "Platform/FaultSeam.h"
#include "Platform/Posix/Descriptors.h"
#include "Platform/Process.h"

namespace Platform {
namespace {


// A name of an entry in the folder itself: one that no lookup can take elsewhere.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

std::string slashed(std::string path) {
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

// Every folder along the path, the last one included, made where it is missing. An existing one,
// whoever made it and when, is as good as a new one; what stands in the way is reported by the open
// that follows.
void makeFolders(const std::string& path) {
    for (std::string::size_type slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && prefix.back() != '/')
            (void)::mkdir(prefix.c_str(), 0777);
        if (slash == std::string::npos)
            return;
    }
}

bool writeAll(int fd, const void* bytes, std::size_t count) {
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        ssize_t done = ::write(fd, next, count);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = ENOSPC;
            return false;
        }
        next += done;
        count -= static_cast<std::size_t>(done);
    }
    return true;
}

// Gives the temporary the name only if nothing holds it: in one step where the system offers it,
// else as a second link that fails on an existing name. Either way a planted link is never followed.
int placeWithoutReplacing(int folder, const std::string& temporary, const std::string& name) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(folder, temporary.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#endif
    if (::linkat(folder, temporary.c_str(), folder, name.c_str(), 0) != 0)
        return errno;
    ::unlinkat(folder, temporary.c_str(), 0);
    return 0;
}

}  // namespace

OutputFolder::~OutputFolder() {
    if (handle >= 0)
        ::close(descriptor(handle));
}

bool OutputFolder::fail(const std::string& reason) {
    why = reason;
    return false;
}

bool OutputFolder::open(const std::string& folder) {
    if (handle >= 0)
        ::close(descriptor(handle));
    handle = -1;
    why.clear();
    path = slashed(folder);
    if (path.empty())
        return fail("empty path");
    makeFolders(path);
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail(std::strerror(errno));
    handle = fd;
    return true;
}

PathKind OutputFolder::entryKind(const std::string& name) const {
    struct stat status {};
    if (!plainName(name))
        return PathKind::Other;
    if (handle < 0 || ::fstatat(descriptor(handle), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return PathKind::Missing;
    return kindOf(status.st_mode);
}

bool OutputFolder::entryIsFile(const std::string& name, const std::string& other) const {
    struct stat entry {
    }, file{};
    return handle >= 0 && plainName(name) &&
           ::fstatat(descriptor(handle), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(entry.st_mode) && ::stat(slashed(other).c_str(), &file) == 0 &&
           entry.st_dev == file.st_dev && entry.st_ino == file.st_ino;
}

OutputFolder::Placed OutputFolder::write(const std::string& name, bool replace, const void* bytes,
                                         std::size_t count) {
    why.clear();
    if (handle < 0 || !plainName(name)) {
        fail("not a file name in the folder: " + name);
        return Placed::Failed;
    }
    const int folder = descriptor(handle);
    // The temporary's name is the target's with a random tail; it is created here and nowhere else
    // (O_EXCL never opens what already exists, a link included).
    std::random_device random;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary =
            "." + (name.size() > 200 ? std::string("quillpack") : name) + "." + std::to_string(random());
        fd = ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            fail(std::strerror(errno));
            return Placed::Failed;
        }
    }
    if (fd < 0) {
        fail(std::strerror(EEXIST));
        return Placed::Failed;
    }
    registerTemporary(path + "/" + temporary);
    auto dropTemporary = [&] {
        ::unlinkat(folder, temporary.c_str(), 0);
        unregisterTemporary();
    };
    // A replaced file keeps its permissions, as a save of an archive keeps them.
    struct stat existing {};
    if (replace && ::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(existing.st_mode))
        (void)::fchmod(fd, existing.st_mode & 07777);
    if (!writeAll(fd, bytes, count) || ::fsync(fd) != 0) {
        const int code = errno;
        ::close(fd);
        dropTemporary();
        fail(std::strerror(code));
        return Placed::Failed;
    }
    // close() may report a deferred write error; on Linux the descriptor is gone even then.
    if (::close(fd) != 0 && errno != EINTR) {
        const int code = errno;
        dropTemporary();
        fail(std::strerror(code));
        return Placed::Failed;
    }
    FaultSeam::reach(FaultSeam::Moment::BeforePlacing, name);
    // renameat replaces the entry itself: a link standing at the name is replaced, never followed.
    const int code = replace ? (::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0 ? 0 : errno)
                             : placeWithoutReplacing(folder, temporary, name);
    if (code != 0) {
        dropTemporary();
        if (code == EEXIST || code == EISDIR || code == ENOTEMPTY || code == ENOTDIR)
            return Placed::Occupied;
        fail(std::strerror(code));
        return Placed::Failed;
    }
    unregisterTemporary();
    return Placed::Written;
}

void OutputFolder::sync() {
    if (handle >= 0)
        (void)::fsync(descriptor(handle));
}

}  // namespace Platform
