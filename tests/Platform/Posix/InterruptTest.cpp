// The interrupt handlers in a child process: a caught signal removes the save's temporary file and
// still ends the process by that signal; a closed pipe does not end it at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "Platform/Files.h"
#include "Platform/Process.h"
#include "support/TempFolder.h"

namespace {

// A child with the handlers installed raises `signal` while a temporary is being written.
int statusOfChild(const TempFolder& folder, int signal) {
    pid_t child = fork();
    if (child == 0) {
        Platform::installInterruptHandlers();
        Platform::ReplacingFile file;
        if (!file.create(folder / "out.txd") || !file.writeAt(0, "partial", 7))
            _exit(2);
        ::raise(signal);
        _exit(0);  // only reached when the signal is ignored; the destructor is skipped on purpose
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST(Interrupts, CaughtSignalsRemoveTheTemporaryAndStillEndTheProcess) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(signal);
        TempFolder folder;
        int status = statusOfChild(folder, signal);
        if (signal == SIGPIPE) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            continue;
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "temporary left behind";
    }
}

}  // namespace
