// The process on Windows: the wide command line, and console control events in place of signals.
#include <windows.h>
// Must follow windows.h.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "Platform/Process.h"
#include "Platform/Windows/Text.h"

namespace Platform {
namespace {

// The handler runs on a thread of its own that the system starts; it only reads this fixed buffer.
wchar_t temporaryName[32768];
volatile LONG armed = 0;

BOOL WINAPI removeTemporaryAndDie(DWORD) {
    if (armed)
        ::DeleteFileW(temporaryName);
    return FALSE;  // the next handler, the system's, ends the process as it would have without us
}

}  // namespace

std::vector<std::string> commandLine(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void installInterruptHandlers() {
    ::SetConsoleCtrlHandler(removeTemporaryAndDie, TRUE);
}

void registerTemporary(const std::string& path) {
    ::InterlockedExchange(&armed, 0);
    std::wstring wide = widen(path);
    if (wide.empty() || wide.size() >= sizeof temporaryName / sizeof temporaryName[0])
        return;
    std::memcpy(temporaryName, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    ::InterlockedExchange(&armed, 1);
}

void unregisterTemporary() {
    ::InterlockedExchange(&armed, 0);
}

bool isTerminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

// Files here are system handles, never C runtime descriptors, so none can take a missing standard
// stream's number.
void holdClosedStandardStreams() {}

void useBinaryStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

bool isSystemHelpSwitch(const std::string& argument) {
    return argument == "/?";
}

unsigned workerThreads() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace Platform
