// The process in a browser's or node's WebAssembly engine. There are no signals to catch: a call runs
// to its end, and a page that stops a worker takes the worker's in-memory files with it, temporaries
// included. Without shared memory no thread can be started, so the image work stays on this one.
// Files themselves are the POSIX ones (Posix/Files.cpp) over Emscripten's in-memory file system.
#include "Platform/Process.h"

#include <sys/stat.h>

namespace Platform {
namespace {

// Emscripten starts a process with a umask of 0777, which would give every new file (a saved
// dictionary) no permissions at all, so that it could not be read back; a process here starts with
// the usual 022 instead.
const bool usualUmask = (::umask(022), true);

}  // namespace

std::vector<std::string> commandLine(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void installInterruptHandlers() {}

void registerTemporary(const std::string&) {}

void unregisterTemporary() {}

bool isTerminal(std::FILE*) {
    return false;
}

void useBinaryStandardStreams() {}

bool isSystemHelpSwitch(const std::string&) {
    return false;
}

unsigned workerThreads() {
    return 1;
}

}  // namespace Platform
