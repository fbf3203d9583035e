#include "Platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

namespace Platform {
namespace {

// Read by the signal handler, so only plain storage: the name is written while `armed` is 0.
char temporaryName[PATH_MAX];
volatile sig_atomic_t armed = 0;

void removeTemporaryAndDie(int signal) {
    int saved = errno;
    if (armed)
        ::unlink(temporaryName);
    errno = saved;
    // SA_RESETHAND restored the default action; the signal stays blocked until the handler returns,
    // and then ends the process as it would have without us.
    ::raise(signal);
}

}  // namespace

std::vector<std::string> commandLine(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void installInterruptHandlers() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    ::sigaction(SIGXFSZ, &ignore, nullptr);

    struct sigaction interrupt {};
    interrupt.sa_handler = removeTemporaryAndDie;
    sigemptyset(&interrupt.sa_mask);
    interrupt.sa_flags = SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        // A signal ignored by whoever started us (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &interrupt, nullptr);
    }
}

void registerTemporary(const std::string& path) {
    armed = 0;
    if (path.size() >= sizeof temporaryName)
        return;
    std::memcpy(temporaryName, path.c_str(), path.size() + 1);
    armed = 1;
}

void unregisterTemporary() {
    armed = 0;
}

bool isTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

void holdClosedStandardStreams() {
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (::fcntl(stream, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // Opened the other way round: reading standard output or writing standard input fails.
        int held = ::open("/dev/null", stream == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (held >= 0 && held != stream) {
            ::dup2(held, stream);
            ::close(held);
        }
    }
}

void useBinaryStandardStreams() {}

bool isSystemHelpSwitch(const std::string&) {
    return false;
}

unsigned workerThreads() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace Platform
