// Files on POSIX systems. A backslash in a path is a folder separator here as on Windows, so a path
// means the same folder on both; a name that holds a real backslash cannot be named.
#include "Platform/Files.h"
#include "Platform/Posix/Descriptors.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "Platform/Process.h"

namespace Platform {
namespace {

std::string nativePath(const std::string& path) {
    std::string native = path;
    for (char& c : native) {
        if (c == '\\')
            c = '/';
    }
    return native;
}

std::string folderOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string describe(mode_t mode) {
    switch (kindOf(mode)) {
        case PathKind::Folder:
            return "a folder";
        case PathKind::CharacterDevice:
            return "a character device";
        case PathKind::Pipe:
            return "a FIFO";
        case PathKind::Socket:
            return "a socket";
        default:
            return S_ISBLK(mode) ? "a block device" : "not a file";
    }
}

// A link whose target is gone reads as "No such file or directory", which misleads when the link
// itself is plainly there.
std::string missingReason(const std::string& native, int code) {
    struct stat link {};
    if (code == ENOENT && ::lstat(native.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        return "dangling symbolic link";
    return std::strerror(code);
}

// New files get what an ordinary open would give them. umask() can only be read by setting it, and
// the tool does this on one thread, so the round trip is not observable.
mode_t newFileMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A sync that the target cannot do (a character device, a pipe) is not a lost write.
bool syncUnsupported(int code) {
    return code == EINVAL || code == EROFS || code == ENOTSUP;
}


}  // namespace

PathKind pathKind(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(nativePath(path).c_str(), &status) != 0)
        return PathKind::Missing;
    return kindOf(status.st_mode);
}

bool sameFile(const std::string& first, const std::string& second) {
    struct stat a {
    }, b{};
    return !first.empty() && !second.empty() && ::stat(nativePath(first).c_str(), &a) == 0 &&
           ::stat(nativePath(second).c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool isStandardOutput(const std::string& path) {
    struct stat file {
    }, out{};
    return !path.empty() && ::stat(nativePath(path).c_str(), &file) == 0 &&
           ::fstat(STDOUT_FILENO, &out) == 0 && file.st_dev == out.st_dev && file.st_ino == out.st_ino;
}

InputFile::~InputFile() {
    if (handle >= 0)
        ::close(descriptor(handle));
}

bool InputFile::open(const std::string& path) {
    if (handle >= 0)
        ::close(descriptor(handle));
    handle = -1;
    length = 0;
    why.clear();
    if (path.empty()) {
        why = "empty path";
        return false;
    }
    const std::string native = nativePath(path);
    // Without O_NONBLOCK a FIFO with no writer would hold the open forever; the type is known only
    // once something is open, and stat-then-open would race with a swap of the file.
    int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = missingReason(native, errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        why = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        why = "not a regular file: " + describe(status.st_mode);
        ::close(fd);
        return false;
    }
    handle = fd;
    length = status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
    return true;
}

void InputFile::close() {
    if (handle >= 0)
        ::close(descriptor(handle));
    handle = -1;
    length = 0;
}

std::int64_t InputFile::read(void* into, std::size_t count) {
    if (handle < 0)
        return -1;
    for (;;) {
        ssize_t got = ::read(descriptor(handle), into, count);
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            why = std::strerror(errno);
            return -1;
        }
    }
}

std::int64_t InputFile::readAt(std::uint64_t offset, void* into, std::size_t count) {
    if (handle < 0)
        return -1;
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return 0;
    for (;;) {
        ssize_t got = ::pread(descriptor(handle), into, count, static_cast<off_t>(offset));
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            why = std::strerror(errno);
            return -1;
        }
    }
}

std::uint64_t InputFile::dataFrom(std::uint64_t offset) {
    if (handle < 0 || offset >= length)
        return offset < length ? offset : length;
#ifdef SEEK_DATA
    const off_t found = ::lseek(descriptor(handle), static_cast<off_t>(offset), SEEK_DATA);
    if (found >= 0)
        return static_cast<std::uint64_t>(found);
    return errno == ENXIO ? length : offset;  // ENXIO: nothing but a hole up to the end
#else
    return offset;  // no way to ask for holes (WebAssembly's in-memory files have none)
#endif
}

OutputTarget examineOutput(const std::string& path) {
    OutputTarget target;
    if (path.empty()) {
        target.reason = "empty path";
        return target;
    }
    target.file = nativePath(path);
    struct stat status {};
    if (::lstat(target.file.c_str(), &status) != 0) {
        if (errno != ENOENT)
            target.reason = std::strerror(errno);
        return target;  // missing: a new file
    }
    if (S_ISLNK(status.st_mode)) {
        if (::stat(target.file.c_str(), &status) != 0) {
            target.reason = missingReason(target.file, errno);
            return target;
        }
        // Replace what the link names, so the link itself survives the save.
        if (S_ISREG(status.st_mode)) {
            char* real = ::realpath(target.file.c_str(), nullptr);
            if (!real) {
                target.reason = std::strerror(errno);
                return target;
            }
            target.file = real;
            std::free(real);
        }
    }
    target.kind = kindOf(status.st_mode);
    if (target.kind == PathKind::Folder || target.kind == PathKind::Other)
        target.reason = "not a file to write: " + describe(status.st_mode);
    return target;
}

ReplacingFile::~ReplacingFile() {
    abandon();
}

bool ReplacingFile::fail(const std::string& reason) {
    if (why.empty())
        why = reason;
    abandon();
    return false;
}

bool ReplacingFile::create(const std::string& file) {
    abandon();
    why.clear();
    const std::string native = nativePath(file);
    const std::string name = nameOf(native);
    if (name.empty() || name == "." || name == "..")
        return fail("not a file name");

    struct stat existing {};
    const bool exists = ::stat(native.c_str(), &existing) == 0;
    // Renaming over a file we may not write would sidestep its protection.
    if (exists && ::access(native.c_str(), W_OK) != 0)
        return fail(std::strerror(errno));

    // The temporary's name adds 9 characters; a name already near the limit gets a fixed stem instead.
    const std::string stem = name.size() + 9 > NAME_MAX ? std::string("quillpack") : name;
    std::string pattern = folderOf(native) + "/." + stem + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(std::strerror(errno));
    handle = fd;
    temporary = buffer.data();
    target = native;
    registerTemporary(temporary);

    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
        // Only possible with the privilege to do so; without it the file becomes the saver's, as any
        // rewrite through a new file would.
        (void)!::fchown(fd, existing.st_uid, existing.st_gid);
    }
    if (::fchmod(fd, exists ? existing.st_mode & 07777 : newFileMode()) != 0)
        return fail(std::strerror(errno));
    return true;
}

bool ReplacingFile::writeAt(std::uint64_t offset, const void* bytes, std::size_t count) {
    if (handle < 0)
        return false;
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        ssize_t done = ::pwrite(descriptor(handle), next, count, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return fail(std::strerror(done < 0 ? errno : ENOSPC));
        next += done;
        count -= static_cast<std::size_t>(done);
        offset += static_cast<std::uint64_t>(done);
    }
    return true;
}

bool ReplacingFile::commit() {
    if (handle < 0)
        return false;
    if (::fsync(descriptor(handle)) != 0)
        return fail(std::strerror(errno));
    int closing = descriptor(handle);
    handle = -1;
    // close() may report a deferred write error; on Linux the descriptor is gone even then.
    if (::close(closing) != 0 && errno != EINTR)
        return fail(std::strerror(errno));
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return fail(std::strerror(errno));
    temporary.clear();
    unregisterTemporary();
    // Make the rename itself durable; the new file is already in place, so this cannot undo the save.
    int folder = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

void ReplacingFile::abandon() {
    if (handle >= 0) {
        ::close(descriptor(handle));
        handle = -1;
    }
    if (!temporary.empty()) {
        ::unlink(temporary.c_str());
        temporary.clear();
        unregisterTemporary();
    }
}

DirectFile::~DirectFile() {
    if (handle >= 0)
        ::close(descriptor(handle));
}

bool DirectFile::fail(const std::string& reason) {
    if (why.empty())
        why = reason;
    if (handle >= 0) {
        ::close(descriptor(handle));
        handle = -1;
    }
    return false;
}

bool DirectFile::open(const std::string& path) {
    why.clear();
    // Non-blocking only for the open itself, so a pipe without a reader refuses instead of hanging.
    const std::string native = nativePath(path);
    int fd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        int code = errno;
        struct stat status {};
        // ENXIO's own text ("No such device or address") says nothing useful about either case.
        if (code == ENXIO && ::stat(native.c_str(), &status) == 0 && S_ISFIFO(status.st_mode))
            return fail("no process is reading the FIFO");
        if (code == ENXIO && S_ISSOCK(status.st_mode))
            return fail("a socket cannot be opened as a file");
        return fail(std::strerror(code));
    }
    handle = fd;
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(std::strerror(errno));
    return true;
}

bool DirectFile::write(const void* bytes, std::size_t count) {
    if (handle < 0)
        return false;
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        ssize_t done = ::write(descriptor(handle), next, count);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return fail(std::strerror(done < 0 ? errno : ENOSPC));
        next += done;
        count -= static_cast<std::size_t>(done);
    }
    return true;
}

bool DirectFile::close() {
    if (handle < 0)
        return false;
    if (::fsync(descriptor(handle)) != 0 && !syncUnsupported(errno))
        return fail(std::strerror(errno));
    int closing = descriptor(handle);
    handle = -1;
    if (::close(closing) != 0 && errno != EINTR)
        return fail(std::strerror(errno));
    return true;
}

}  // namespace Platform
