#include "TXD/ArchiveStream.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <vector>

#include "ImageService/TestSeams.h"

namespace TXD {
namespace {

using ImageService::Operation;

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

// New files get what an ordinary open would give them. umask() can only be read by setting it, and
// the program runs on one thread, so the round trip is not observable.
unsigned newFileMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

// A sync that the target cannot do (a character device, a pipe) is not a lost write.
bool syncUnsupported(int code) {
    return code == EINVAL || code == EROFS || code == ENOTSUP;
}

}  // namespace

ArchiveStream::~ArchiveStream() {
    abandon();
}

void ArchiveStream::fail(int code) {
    if (firstError == 0)
        firstError = code != 0 ? code : EIO;
}

bool ArchiveStream::faultDue() {
    if (ImageService::FAILED(ImageService::TestSeams::takeFault(Operation::FileWrite))) {
        fail(EIO);
        return true;
    }
    return false;
}

bool ArchiveStream::open(const std::string& path, bool keepExisting) {
    abandon();
    firstError = 0;
    position = 0;
    if (path.empty())
        return false;

    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno != ENOENT)
            return false;
        return openReplacement(path, false, newFileMode(), 0, 0, false);
    }

    // The process's own streams (/dev/stdout may lead to a redirected file or a pipe) are written to,
    // never replaced.
    if (path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0) {
        struct stat followed {};
        if (::stat(path.c_str(), &followed) != 0 || S_ISDIR(followed.st_mode))
            return false;
        return openDirect(path);
    }

    std::string resolved = path;
    if (S_ISLNK(status.st_mode)) {
        // Replace what the link names, so the link itself survives the save.
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real)
            return false;
        resolved = real;
        std::free(real);
        if (::stat(resolved.c_str(), &status) != 0)
            return false;
    }
    if (S_ISDIR(status.st_mode))
        return false;
    if (!S_ISREG(status.st_mode))
        return openDirect(resolved);
    // Renaming over a file we may not write would sidestep its protection.
    if (::access(resolved.c_str(), W_OK) != 0)
        return false;
    return openReplacement(resolved, true, status.st_mode & 07777, status.st_uid, status.st_gid,
                           keepExisting);
}

bool ArchiveStream::openReplacement(const std::string& file, bool exists, unsigned mode, unsigned owner,
                                    unsigned group, bool keepExisting) {
    std::string name = nameOf(file);
    if (name.empty() || name == "." || name == "..")
        return false;
    // The temporary's name adds 8 characters; a name already near the limit gets a fixed stem instead.
    std::string stem = name.size() + 8 > NAME_MAX ? std::string("quillpack") : name;
    std::string pattern = folderOf(file) + "/." + stem + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int made = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (made < 0)
        return false;
    fd = made;
    temporary = buffer.data();
    target = file;
    direct = false;

    if (exists && (owner != ::geteuid() || group != ::getegid())) {
        // Only possible with the privilege to do so; without it the file becomes the saver's, as any
        // rewrite through a new file would.
        (void)!::fchown(fd, owner, group);
    }
    if (::fchmod(fd, mode) != 0 || (exists && keepExisting && !copyFrom(file))) {
        abandon();
        return false;
    }
    return true;
}

// A direct target may not seek (a pipe, a terminal), so the archive is assembled in memory, where the
// sizes can be patched, and written out in one sequential pass by commit().
bool ArchiveStream::openDirect(const std::string& file) {
    // Non-blocking only for the open itself, so a pipe without a reader refuses instead of hanging.
    int opened = ::open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (opened < 0)
        return false;
    int flags = ::fcntl(opened, F_GETFL);
    if (flags < 0 || ::fcntl(opened, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(opened);
        return false;
    }
    fd = opened;
    target = file;
    direct = true;
    return true;
}

bool ArchiveStream::copyFrom(const std::string& source) {
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    std::vector<char> chunk(1 << 16);
    bool copied = true;
    for (;;) {
        ssize_t got = ::read(in, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            copied = false;
            break;
        }
        if (got == 0)
            break;
        write(chunk.data(), static_cast<std::size_t>(got));
        if (!good()) {
            copied = false;
            break;
        }
    }
    ::close(in);
    return copied;
}

void ArchiveStream::write(const void* bytes, std::size_t count) {
    if (!good() || fd < 0 || faultDue())
        return;
    const char* next = static_cast<const char*>(bytes);
    if (direct) {
        std::size_t end = static_cast<std::size_t>(position) + count;
        if (end > memory.size())
            memory.resize(end);
        std::copy(next, next + count, memory.begin() + position);
        position += static_cast<std::int64_t>(count);
        return;
    }
    while (count > 0) {
        // pwrite keeps the position ours: no hidden file offset to drift from tell().
        ssize_t done = ::pwrite(fd, next, count, static_cast<off_t>(position));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            fail(done < 0 ? errno : ENOSPC);
            return;
        }
        next += done;
        count -= static_cast<std::size_t>(done);
        position += done;
    }
}

void ArchiveStream::seek(std::int64_t to) {
    if (!good() || fd < 0 || faultDue())
        return;
    if (to < 0 || to > std::numeric_limits<off_t>::max()) {
        fail(EINVAL);
        return;
    }
    position = to;
}

bool ArchiveStream::writeOut() {
    const char* next = memory.data();
    std::size_t count = memory.size();
    while (count > 0 && good() && !faultDue()) {
        ssize_t done = ::write(fd, next, count);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            fail(done < 0 ? errno : ENOSPC);
            break;
        }
        next += done;
        count -= static_cast<std::size_t>(done);
    }
    return good();
}

bool ArchiveStream::commit() {
    if (fd < 0)
        return false;
    if (direct)
        writeOut();
    if (good() && !faultDue() && ::fsync(fd) != 0 && !(direct && syncUnsupported(errno)))
        fail(errno);
    if (good()) {
        faultDue();
        int closing = fd;
        fd = -1;
        // close() may report a deferred write error; on Linux the descriptor is gone even then.
        if (::close(closing) != 0 && errno != EINTR)
            fail(errno);
    }
    if (good() && !direct && (faultDue() || ::rename(temporary.c_str(), target.c_str()) != 0))
        fail(errno);
    if (!good()) {
        abandon();
        return false;
    }
    if (direct)
        return true;

    temporary.clear();
    // Make the rename itself durable; the new file is already in place, so this cannot undo the save.
    int folder = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

void ArchiveStream::abandon() {
    memory.clear();
    memory.shrink_to_fit();
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!temporary.empty()) {
        ::unlink(temporary.c_str());
        temporary.clear();
    }
}

}  // namespace TXD
