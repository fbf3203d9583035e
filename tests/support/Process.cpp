#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/TempFolder.h"

RunResult runQuillpack(const std::vector<std::string>& arguments, const std::string& workingFolder,
                       const RunLimits& limits) {
    char outTemplate[] = "/tmp/quillpack-out-XXXXXX";
    char errTemplate[] = "/tmp/quillpack-err-XXXXXX";
    int outFd = mkstemp(outTemplate);
    int errFd = mkstemp(errTemplate);
    RunResult result;
    pid_t child = fork();
    if (child == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        if (limits.fileSizeBytes >= 0) {
            rlimit limit{static_cast<rlim_t>(limits.fileSizeBytes),
                         static_cast<rlim_t>(limits.fileSizeBytes)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (chdir(workingFolder.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv;
        std::string program = QUILLPACK_EXE;
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    auto started = std::chrono::steady_clock::now();
    for (;;) {
        if (waitpid(child, &status, WNOHANG) == child)
            break;
        auto elapsed = std::chrono::steady_clock::now() - started;
        if ((limits.killAfterMillis >= 0 && elapsed >= std::chrono::milliseconds(limits.killAfterMillis)) ||
            elapsed >= std::chrono::seconds(limits.hangSeconds)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(outFd);
    close(errFd);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(outTemplate);
    result.err = readFile(errTemplate);
    unlink(outTemplate);
    unlink(errTemplate);
    return result;
}
