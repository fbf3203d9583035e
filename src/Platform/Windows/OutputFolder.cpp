// The output folder on Windows: one handle of the folder, and every name opened and renamed relative
// to it through the native calls (NtCreateFile and NtSetInformationFile take a root folder handle),
// with reparse points (links, junctions) opened as themselves, never followed. The folder is held
// without delete sharing, so it cannot be renamed or removed while files are written into it.
#include "Platform/OutputFolder.h"

// Before windows.h, whose macros would otherwise rename the stand-ins it declares.
#include "Platform/FaultSeam.h"
// windows.h must come before winternl.h.
#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <random>
#include <vector>

#include "Platform/Process.h"
#include "Platform/Windows/Text.h"

namespace Platform {
namespace {

constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);

HANDLE asHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// A name of an entry in the folder itself: one that no lookup can take elsewhere (nor to a stream).
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos;
}

std::string statusText(NTSTATUS status) {
    return errorText(::RtlNtStatusToDosError(status));
}

// `name` in `folder`, opened as whatever it is (a reparse point as itself).
NTSTATUS openIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                ULONG options, HANDLE* opened) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    return ::NtCreateFile(opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                          share, disposition,
                          options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

bool informationOf(HANDLE folder, const std::wstring& name, BY_HANDLE_FILE_INFORMATION* info,
                   NTSTATUS* status) {
    HANDLE entry = INVALID_HANDLE_VALUE;
    *status = openIn(folder, name, FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, &entry);
    if (!NT_SUCCESS(*status))
        return false;
    const bool known = ::GetFileInformationByHandle(entry, info) != 0;
    ::CloseHandle(entry);
    return known;
}

// Every folder along the path, made where it is missing; one that exists (whoever made it, and
// when) is as good as a new one. What stands in the way is reported by the open that follows.
void makeFolders(const std::wstring& path) {
    for (std::wstring::size_type slash = path.find_first_of(L"\\/", 1);;
         slash = path.find_first_of(L"\\/", slash + 1)) {
        const std::wstring prefix = path.substr(0, slash);
        if (!prefix.empty() && prefix.back() != L'\\' && prefix.back() != L'/' && prefix.back() != L':')
            (void)::CreateDirectoryW(prefix.c_str(), nullptr);
        if (slash == std::wstring::npos)
            return;
    }
}

void dropTemporary(HANDLE file) {
    FILE_DISPOSITION_INFO remove{};
    remove.DeleteFile = TRUE;
    ::SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
    ::CloseHandle(file);
    unregisterTemporary();
}

}  // namespace

OutputFolder::~OutputFolder() {
    if (handle != -1)
        ::CloseHandle(asHandle(handle));
}

bool OutputFolder::fail(const std::string& reason) {
    why = reason;
    return false;
}

bool OutputFolder::open(const std::string& folder) {
    if (handle != -1)
        ::CloseHandle(asHandle(handle));
    handle = -1;
    why.clear();
    path = folder;
    if (path.empty())
        return fail("empty path");
    const std::wstring wide = widen(path);
    makeFolders(wide);
    HANDLE opened = ::CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return fail(errorText(::GetLastError()));
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(opened, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(opened);
        return fail(errorText(ERROR_DIRECTORY));
    }
    handle = reinterpret_cast<std::intptr_t>(opened);
    return true;
}

PathKind OutputFolder::entryKind(const std::string& name) const {
    BY_HANDLE_FILE_INFORMATION info;
    NTSTATUS status = 0;
    if (!plainName(name))
        return PathKind::Other;
    if (handle == -1)
        return PathKind::Missing;
    if (!informationOf(asHandle(handle), widen(name), &info, &status))
        return status == kNameNotFound || status == kPathNotFound ? PathKind::Missing : PathKind::Other;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return PathKind::Other;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::RegularFile;
}

bool OutputFolder::entryIsFile(const std::string& name, const std::string& other) const {
    BY_HANDLE_FILE_INFORMATION entry, file;
    NTSTATUS status = 0;
    if (handle == -1 || !plainName(name) || !informationOf(asHandle(handle), widen(name), &entry, &status) ||
        (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    HANDLE opened =
        ::CreateFileW(widen(other).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    const bool known = ::GetFileInformationByHandle(opened, &file) != 0;
    ::CloseHandle(opened);
    return known && entry.dwVolumeSerialNumber == file.dwVolumeSerialNumber &&
           entry.nFileIndexHigh == file.nFileIndexHigh && entry.nFileIndexLow == file.nFileIndexLow;
}

OutputFolder::Placed OutputFolder::write(const std::string& name, bool replace, const void* bytes,
                                         std::size_t count) {
    why.clear();
    if (handle == -1 || !plainName(name)) {
        fail("not a file name in the folder: " + name);
        return Placed::Failed;
    }
    const HANDLE folder = asHandle(handle);
    std::random_device random;
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; file == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        temporary = widen("." + (name.size() > 200 ? std::string("quillpack") : name) + "." +
                          std::to_string(random()));
        // FILE_SHARE_DELETE lets the interrupt handler, on its own thread, delete it while it is open.
        NTSTATUS status = openIn(folder, temporary, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, FILE_CREATE,
                                 FILE_NON_DIRECTORY_FILE, &file);
        if (!NT_SUCCESS(status)) {
            file = INVALID_HANDLE_VALUE;
            if (status != kNameCollision) {
                fail(statusText(status));
                return Placed::Failed;
            }
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        fail(errorText(ERROR_FILE_EXISTS));
        return Placed::Failed;
    }
    registerTemporary(path + "\\" + narrow(temporary.c_str()));

    const char* next = static_cast<const char*>(bytes);
    std::size_t left = count;
    while (left > 0) {
        DWORD asked = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD done = 0;
        if (!::WriteFile(file, next, asked, &done, nullptr) || done == 0) {
            const DWORD code = done == 0 && ::GetLastError() == 0 ? ERROR_DISK_FULL : ::GetLastError();
            dropTemporary(file);
            fail(errorText(code));
            return Placed::Failed;
        }
        next += done;
        left -= done;
    }
    if (!::FlushFileBuffers(file)) {
        const DWORD code = ::GetLastError();
        dropTemporary(file);
        fail(errorText(code));
        return Placed::Failed;
    }
    FaultSeam::reach(FaultSeam::Moment::BeforePlacing, name);

    // The new name is relative to the folder's handle, as the temporary's was.
    const std::wstring wideName = widen(name);
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFORMATION) + wideName.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<ULONG>(wideName.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, wideName.data(), rename->FileNameLength);
    IO_STATUS_BLOCK io{};
    const NTSTATUS renamed =
        ::NtSetInformationFile(file, &io, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    if (!NT_SUCCESS(renamed)) {
        dropTemporary(file);
        // A folder (or anything else but a file) that took the name is refused as access denied.
        const PathKind now = entryKind(name);
        if (renamed == kNameCollision || (now != PathKind::Missing && now != PathKind::RegularFile))
            return Placed::Occupied;
        fail(statusText(renamed));
        return Placed::Failed;
    }
    ::CloseHandle(file);
    unregisterTemporary();
    return Placed::Written;
}

// Each file was flushed before it took its name; a folder has nothing of its own to flush here.
void OutputFolder::sync() {}

}  // namespace Platform
