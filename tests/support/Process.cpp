#include "support/Process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

RunResult runQuillpack(const std::vector<std::string>& arguments, const std::string& workingFolder) {
    char outTemplate[] = "/tmp/quillpack-out-XXXXXX";
    char errTemplate[] = "/tmp/quillpack-err-XXXXXX";
    int outFd = mkstemp(outTemplate);
    int errFd = mkstemp(errTemplate);
    RunResult result;
    pid_t child = fork();
    if (child == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
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
    waitpid(child, &status, 0);
    close(outFd);
    close(errFd);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(outTemplate);
    result.err = slurp(errTemplate);
    unlink(outTemplate);
    unlink(errTemplate);
    return result;
}
