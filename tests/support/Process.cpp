#include "support/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "support/TempFolder.h"

namespace {

const char* windowsExecutable() {
    const char* path = std::getenv("QUILLPACK_WINDOWS_EXE");
    return path && *path ? path : nullptr;
}

// The child's command: the Linux executable itself, or wine with the Windows one. Wine reads the
// arguments in the locale's encoding, which must be UTF-8 for names like café.png to arrive intact.
std::vector<std::string> commandFor(Build build) {
    if (build == Build::Linux)
        return {QUILLPACK_EXE};
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("WINEDEBUG", "-all", 0);
    return {"wine", windowsExecutable()};
}

// The file a run may write, as the harness sees it: both separators lead to folders.
std::filesystem::path outputOf(const std::vector<std::string>& arguments, const std::string& workingFolder) {
    std::string path = arguments.size() >= 2 ? arguments[1] : std::string();
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path.empty() ? std::filesystem::path() : std::filesystem::path(workingFolder) / path;
}

std::optional<std::string> contentOf(const std::filesystem::path& path) {
    if (path.empty() || !std::filesystem::is_regular_file(path))
        return std::nullopt;
    return readFile(path);
}

void restore(const std::filesystem::path& path, const std::optional<std::string>& content) {
    if (content)
        writeFile(path, *content);
    else if (!path.empty() && std::filesystem::is_regular_file(path))
        std::filesystem::remove(path);
}

}  // namespace

RunResult runQuillpack(const std::vector<std::string>& arguments, const std::string& workingFolder,
                       const RunLimits& limits, Build build) {
    char outTemplate[] = "/tmp/quillpack-out-XXXXXX";
    char errTemplate[] = "/tmp/quillpack-err-XXXXXX";
    int outFd = mkstemp(outTemplate);
    int errFd = mkstemp(errTemplate);
    int pipeFds[2] = {-1, -1};
    if (limits.standardOutput == StandardOutput::Pipe ||
        limits.standardOutput == StandardOutput::ClosedPipe) {
        if (pipe(pipeFds) != 0)
            return RunResult{};
        if (limits.standardOutput == StandardOutput::ClosedPipe) {
            close(pipeFds[0]);
            pipeFds[0] = -1;
        }
    }
    RunResult result;
    pid_t child = fork();
    if (child == 0) {
        if (pipeFds[0] >= 0)
            close(pipeFds[0]);
        if (pipeFds[1] >= 0)
            dup2(pipeFds[1], STDOUT_FILENO);
        else if (limits.standardOutput == StandardOutput::Full)
            dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
        else if (limits.standardOutput != StandardOutput::Closed)
            dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        if (limits.standardOutput == StandardOutput::Closed)
            close(STDOUT_FILENO);
        if (limits.fileSizeBytes >= 0) {
            rlimit limit{static_cast<rlim_t>(limits.fileSizeBytes),
                         static_cast<rlim_t>(limits.fileSizeBytes)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (chdir(workingFolder.c_str()) != 0)
            _exit(126);
        std::vector<std::string> copies = commandFor(build);
        copies.insert(copies.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : copies)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (pipeFds[1] >= 0)
        close(pipeFds[1]);
    if (pipeFds[0] >= 0)
        fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    int status = 0;
    bool signalled = false;
    rusage usage{};
    auto started = std::chrono::steady_clock::now();
    for (;;) {
        char chunk[65536];
        for (ssize_t got; pipeFds[0] >= 0 && (got = read(pipeFds[0], chunk, sizeof chunk)) > 0;)
            result.out.append(chunk, static_cast<std::size_t>(got));
        if (wait4(child, &status, WNOHANG, &usage) == child)
            break;
        auto elapsed = std::chrono::steady_clock::now() - started;
        if (!signalled && limits.killAfterMillis >= 0 &&
            elapsed >= std::chrono::milliseconds(limits.killAfterMillis)) {
            kill(child, limits.killSignal);
            signalled = true;
        }
        if (elapsed >= std::chrono::seconds(limits.hangSeconds)) {
            kill(child, SIGKILL);
            wait4(child, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (pipeFds[0] >= 0) {
        char chunk[65536];
        for (ssize_t got; (got = read(pipeFds[0], chunk, sizeof chunk)) > 0;)
            result.out.append(chunk, static_cast<std::size_t>(got));
        close(pipeFds[0]);
    }
    close(outFd);
    close(errFd);
    result.peakKilobytes = usage.ru_maxrss;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (limits.standardOutput == StandardOutput::File)
        result.out = readFile(outTemplate);
    result.err = readFile(errTemplate);
    unlink(outTemplate);
    unlink(errTemplate);
    return result;
}

RunResult runOnEveryBuild(const std::vector<std::string>& arguments, const std::string& workingFolder) {
    const std::filesystem::path output = outputOf(arguments, workingFolder);
    const std::optional<std::string> before = contentOf(output);
    RunResult onLinux = runQuillpack(arguments, workingFolder);
    if (!windowsExecutable())
        return onLinux;
    const std::optional<std::string> written = contentOf(output);
    restore(output, before);
    RunResult onWindows = runQuillpack(arguments, workingFolder, {}, Build::WindowsUnderWine);
    // Under a loaded machine wine itself now and then fails to start the program (exit 1, nothing
    // printed at all); a second run tells that apart from what the program does, which repeats.
    if (onWindows.out.empty() && onWindows.err.empty() && !(onLinux.out.empty() && onLinux.err.empty())) {
        restore(output, before);
        onWindows = runQuillpack(arguments, workingFolder, {}, Build::WindowsUnderWine);
    }
    std::string shown;
    for (const std::string& argument : arguments)
        shown += " '" + argument + "'";
    EXPECT_EQ(onWindows.exitCode, onLinux.exitCode) << "wine:" << shown << "\n" << onWindows.err;
    EXPECT_EQ(onWindows.out, onLinux.out) << "wine:" << shown;
    EXPECT_EQ(onWindows.err, onLinux.err) << "wine:" << shown;
    EXPECT_TRUE(contentOf(output) == written) << "wine:" << shown << ": the output file differs";
    return onLinux;
}

void expectOutcome(const RunResult& result, int exitCode, const std::string& expected) {
    EXPECT_EQ(result.exitCode, exitCode) << result.err;
    if (exitCode == 0)
        EXPECT_EQ(result.out, expected);
    else
        EXPECT_NE(result.err.find(expected), std::string::npos) << result.err;
}
