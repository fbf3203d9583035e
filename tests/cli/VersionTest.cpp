// --version end to end: one line per library, each naming the version the tool really runs with (the
// same shared libraries this test program loads), so that a bug report names the right builds. The
// Windows build, which has the libraries built in from the same Debian sources, must name them too.
#include <gtest/gtest.h>
#include <jconfig.h>
#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "support/Process.h"
#include "support/TempFolder.h"

namespace {

#define VERSION_TEST_STRING(x) #x
#define VERSION_TEST_EXPANDED_STRING(x) VERSION_TEST_STRING(x)

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// A literal as a regular expression: version strings hold dots.
std::string quoted(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.+()\\])"), R"(\$&)");
}

// Each line as a pattern: the versions this program runs with, and the tool's and libsquish's, which
// only the build knows.
std::vector<std::string> expectedLines() {
    return {
        R"(quillpack [0-9]+\.[0-9]+\.[0-9]+)",
        "libspng " + quoted(spng_version_string()),
        "libjpeg-turbo " + quoted(VERSION_TEST_EXPANDED_STRING(LIBJPEG_TURBO_VERSION)),
        R"(libsquish [0-9]+\.[0-9]+(\.[0-9]+)?)",
        "zlib " + quoted(zlibVersion()),
    };
}

}  // namespace

TEST(Version, NamesTheToolAndEveryLibraryWithItsVersion) {
    TempFolder folder;
    RunResult result = runQuillpack({"--version"}, folder.path());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = linesOf(result.out);
    const std::vector<std::string> expected = expectedLines();
    ASSERT_EQ(lines.size(), expected.size()) << result.out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i]))) << lines[i] << " vs " << expected[i];
}

TEST(Version, WindowsBuildNamesTheSameLibraries) {
    const char* windows = std::getenv("QUILLPACK_WINDOWS_EXE");
    if (!windows || !*windows)
        GTEST_SKIP() << "QUILLPACK_WINDOWS_EXE is not set";
    TempFolder folder;
    const RunResult onLinux = runQuillpack({"--version"}, folder.path());
    RunResult onWindows = runQuillpack({"--version"}, folder.path(), {}, Build::WindowsUnderWine);
    if (onWindows.out.empty())  // wine now and then fails to start a program on a loaded machine
        onWindows = runQuillpack({"--version"}, folder.path(), {}, Build::WindowsUnderWine);
    ASSERT_EQ(onWindows.exitCode, 0) << onWindows.err;
    const std::vector<std::string> linuxLines = linesOf(onLinux.out);
    const std::vector<std::string> windowsLines = linesOf(onWindows.out);
    ASSERT_EQ(windowsLines.size(), linuxLines.size()) << onWindows.out;
    EXPECT_EQ(windowsLines[0], linuxLines[0]);
    // The statically linked copies may be other releases than the system's shared ones, but each must
    // state a version: the Windows build has no .pc file to take libsquish's from.
    for (std::size_t i = 1; i < windowsLines.size(); ++i) {
        const std::string name = linuxLines[i].substr(0, linuxLines[i].find(' ') + 1);
        EXPECT_TRUE(std::regex_match(windowsLines[i], std::regex(quoted(name) + R"([0-9]+\.[0-9.]+)")))
            << windowsLines[i];
    }
}
