// Files on Windows: every path is opened through its UTF-16 form, so UTF-8 names outside the
// console's code page work, and a file is replaced with MoveFileExW, which renames over the target in
// one step.
#include "Platform/Files.h"

#include <windows.h>

#include <cstdint>

#include "Platform/Process.h"
#include "Platform/Windows/Text.h"

namespace Platform {
namespace {

HANDLE asHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t fromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

std::wstring nameOf(const std::wstring& path) {
    std::wstring::size_type slash = path.find_last_of(L"\\/:");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Opens for examination only: no access asked, so neither a locked file nor a folder refuses, and a
// pipe is not taken from its next client.
HANDLE openToExamine(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

PathKind kindOf(HANDLE handle) {
    switch (::GetFileType(handle)) {
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION info;
            if (!::GetFileInformationByHandle(handle, &info))
                return PathKind::Other;
            return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder
                                                                      : PathKind::RegularFile;
        }
        case FILE_TYPE_CHAR:
            return PathKind::CharacterDevice;
        case FILE_TYPE_PIPE:
            return PathKind::Pipe;
        default:
            return PathKind::Other;
    }
}

bool identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
    return handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_DISK &&
           ::GetFileInformationByHandle(handle, info);
}

bool identityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    if (path.empty())
        return false;
    HANDLE handle = openToExamine(widen(path));
    bool known = identity(handle, info);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return known;
}

bool sameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

std::string describe(PathKind kind) {
    switch (kind) {
        case PathKind::Folder:
            return "a folder";
        case PathKind::CharacterDevice:
            return "a character device";
        case PathKind::Pipe:
            return "a pipe";
        default:
            return "not a file";
    }
}

bool notFound(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// The name a temporary beside the target gets: hidden by its leading dot on other systems, unique
// by the process and a counter here.
std::wstring temporaryFor(const std::wstring& target, unsigned attempt) {
    std::wstring name = nameOf(target);
    // The folder part is kept as written, separator and drive included.
    std::wstring folder = target.substr(0, target.size() - name.size());
    if (name.size() > 200)
        name = L"quillpack";
    return folder + L"." + name + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(attempt);
}

}  // namespace

PathKind pathKind(const std::string& path) {
    if (path.empty())
        return PathKind::Missing;
    HANDLE handle = openToExamine(widen(path));
    if (handle == INVALID_HANDLE_VALUE)
        return PathKind::Missing;
    PathKind kind = kindOf(handle);
    ::CloseHandle(handle);
    return kind;
}

bool sameFile(const std::string& first, const std::string& second) {
    BY_HANDLE_FILE_INFORMATION a, b;
    return identityOf(first, &a) && identityOf(second, &b) && sameIdentity(a, b);
}

bool isStandardOutput(const std::string& path) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return false;
    if (::GetFileType(out) == FILE_TYPE_CHAR) {
        std::wstring wide = widen(path);
        return ::CompareStringOrdinal(wide.c_str(), -1, L"CON", -1, TRUE) == CSTR_EQUAL ||
               ::CompareStringOrdinal(wide.c_str(), -1, L"CONOUT$", -1, TRUE) == CSTR_EQUAL;
    }
    BY_HANDLE_FILE_INFORMATION file, stream;
    return identityOf(path, &file) && identity(out, &stream) && sameIdentity(file, stream);
}

InputFile::~InputFile() {
    if (handle != -1)
        ::CloseHandle(asHandle(handle));
}

bool InputFile::open(const std::string& path) {
    if (handle != -1)
        ::CloseHandle(asHandle(handle));
    handle = -1;
    length = 0;
    why.clear();
    if (path.empty()) {
        why = "empty path";
        return false;
    }
    HANDLE file =
        ::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = errorText(::GetLastError());
        return false;
    }
    PathKind kind = kindOf(file);
    LARGE_INTEGER size;
    if (kind != PathKind::RegularFile || !::GetFileSizeEx(file, &size)) {
        why = kind != PathKind::RegularFile ? "not a regular file: " + describe(kind)
                                            : errorText(::GetLastError());
        ::CloseHandle(file);
        return false;
    }
    handle = fromHandle(file);
    length = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

void InputFile::close() {
    if (handle != -1)
        ::CloseHandle(asHandle(handle));
    handle = -1;
    length = 0;
}

std::int64_t InputFile::read(void* into, std::size_t count) {
    if (handle == -1)
        return -1;
    DWORD asked = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!::ReadFile(asHandle(handle), into, asked, &got, nullptr)) {
        why = errorText(::GetLastError());
        return -1;
    }
    return got;
}

std::int64_t InputFile::readAt(std::uint64_t offset, void* into, std::size_t count) {
    if (handle == -1)
        return -1;
    DWORD asked = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    // On a handle opened for synchronous reading the offset in OVERLAPPED positions this one read.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(asHandle(handle), into, asked, &got, &at)) {
        DWORD code = ::GetLastError();
        if (code == ERROR_HANDLE_EOF)
            return 0;
        why = errorText(code);
        return -1;
    }
    return got;
}

std::uint64_t InputFile::dataFrom(std::uint64_t offset) {
    if (handle == -1 || offset >= length)
        return offset < length ? offset : length;
    // The first allocated range from the offset on; a file that is not sparse is one range.
    FILE_ALLOCATED_RANGE_BUFFER asked{};
    asked.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
    asked.Length.QuadPart = static_cast<LONGLONG>(length - offset);
    FILE_ALLOCATED_RANGE_BUFFER found{};
    DWORD returned = 0;
    if (!::DeviceIoControl(asHandle(handle), FSCTL_QUERY_ALLOCATED_RANGES, &asked, sizeof asked, &found,
                           sizeof found, &returned, nullptr) &&
        ::GetLastError() != ERROR_MORE_DATA)
        return offset;
    if (returned < sizeof found)
        return length;
    const auto start = static_cast<std::uint64_t>(found.FileOffset.QuadPart);
    return start > offset ? start : offset;
}

OutputTarget examineOutput(const std::string& path) {
    OutputTarget target;
    if (path.empty()) {
        target.reason = "empty path";
        return target;
    }
    target.file = path;
    std::wstring wide = widen(path);
    HANDLE handle = openToExamine(wide);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = ::GetLastError();
        if (!notFound(code) || ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES)
            target.reason = notFound(code) ? "dangling symbolic link" : errorText(code);
        return target;  // missing: a new file
    }
    target.kind = kindOf(handle);
    if (target.kind == PathKind::RegularFile) {
        // Replace what a symbolic link names, so the link itself survives the save.
        wchar_t resolved[32768];
        DWORD length = ::GetFinalPathNameByHandleW(handle, resolved, 32768, FILE_NAME_NORMALIZED);
        if (length > 0 && length < 32768)
            target.file = narrow(resolved);
    }
    ::CloseHandle(handle);
    if (target.kind == PathKind::Folder || target.kind == PathKind::Other)
        target.reason = "not a file to write: " + describe(target.kind);
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
    std::wstring wide = widen(file);
    std::wstring name = nameOf(wide);
    if (name.empty() || name == L"." || name == L"..")
        return fail("not a file name");
    // A read-only target keeps its protection: MoveFileExW would refuse at the end anyway.
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return fail(errorText(ERROR_ACCESS_DENIED));

    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = temporaryFor(wide, attempt);
        // FILE_SHARE_DELETE lets the interrupt handler, on its own thread, delete it while it is open.
        HANDLE made = ::CreateFileW(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (made != INVALID_HANDLE_VALUE) {
            handle = fromHandle(made);
            temporary = narrow(candidate.c_str());
            target = file;
            registerTemporary(temporary);
            return true;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS)
            return fail(errorText(::GetLastError()));
    }
    return fail(errorText(ERROR_FILE_EXISTS));
}

bool ReplacingFile::writeAt(std::uint64_t offset, const void* bytes, std::size_t count) {
    if (handle == -1)
        return false;
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD asked = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD done = 0;
        if (!::WriteFile(asHandle(handle), next, asked, &done, &at))
            return fail(errorText(::GetLastError()));
        if (done == 0)
            return fail(errorText(ERROR_DISK_FULL));
        next += done;
        count -= done;
        offset += done;
    }
    return true;
}

bool ReplacingFile::commit() {
    if (handle == -1)
        return false;
    if (!::FlushFileBuffers(asHandle(handle)))
        return fail(errorText(::GetLastError()));
    HANDLE closing = asHandle(handle);
    handle = -1;
    if (!::CloseHandle(closing))
        return fail(errorText(::GetLastError()));
    if (!::MoveFileExW(widen(temporary).c_str(), widen(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(errorText(::GetLastError()));
    temporary.clear();
    unregisterTemporary();
    return true;
}

void ReplacingFile::abandon() {
    if (handle != -1) {
        ::CloseHandle(asHandle(handle));
        handle = -1;
    }
    if (!temporary.empty()) {
        ::DeleteFileW(widen(temporary).c_str());
        temporary.clear();
        unregisterTemporary();
    }
}

DirectFile::~DirectFile() {
    if (handle != -1)
        ::CloseHandle(asHandle(handle));
}

bool DirectFile::fail(const std::string& reason) {
    if (why.empty())
        why = reason;
    if (handle != -1) {
        ::CloseHandle(asHandle(handle));
        handle = -1;
    }
    return false;
}

bool DirectFile::open(const std::string& path) {
    why.clear();
    HANDLE file = ::CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fail(errorText(::GetLastError()));
    handle = fromHandle(file);
    return true;
}

bool DirectFile::write(const void* bytes, std::size_t count) {
    if (handle == -1)
        return false;
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        DWORD asked = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD done = 0;
        if (!::WriteFile(asHandle(handle), next, asked, &done, nullptr))
            return fail(errorText(::GetLastError()));
        if (done == 0)
            return fail(errorText(ERROR_DISK_FULL));
        next += done;
        count -= done;
    }
    return true;
}

bool DirectFile::close() {
    if (handle == -1)
        return false;
    HANDLE closing = asHandle(handle);
    handle = -1;
    // Devices and pipes cannot be flushed to a disk; only the close can still report a loss.
    if (!::CloseHandle(closing))
        return fail(errorText(::GetLastError()));
    return true;
}

}  // namespace Platform
