// The manual page (doc/quillpack.1) and --help are written by hand in two places; these tests keep
// them from drifting apart: every option --help prints has an entry of its own in the page's lists
// and every option the page's lists describe is in --help, and every mode it prints has a line in the
// page's synopsis.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "Cli/Modes.h"
#include "support/Process.h"
#include "support/TempFolder.h"

namespace {

// The page's source as it reads: roff's escaped hyphens become hyphens, and font changes, zero-width
// marks and thin spaces disappear.
std::string manualText() {
    std::ifstream file(QUILLPACK_SOURCE_DIR "/doc/quillpack.1");
    std::stringstream source;
    source << file.rdbuf();
    std::string text = std::regex_replace(source.str(), std::regex(R"(\\f[BIRP])"), "");
    text = std::regex_replace(text, std::regex(R"(\\[&c|])"), "");
    return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// The lines that follow a .TP or .TQ: the tags of the page's lists, where options are described.
std::vector<std::string> listTags(const std::string& text) {
    std::vector<std::string> tags;
    std::istringstream lines(text);
    bool tagNext = false;
    for (std::string line; std::getline(lines, line);) {
        if (tagNext)
            tags.push_back(line);
        tagNext = line == ".TP" || line == ".TQ";
    }
    return tags;
}

// The lines between .SH SYNOPSIS and the next section.
std::string synopsis(const std::string& text) {
    const std::size_t start = text.find("\n.SH SYNOPSIS\n");
    const std::size_t end = text.find("\n.SH ", start + 1);
    return start == std::string::npos ? "" : text.substr(start, end - start);
}

// Options as --help shows them: one or two hyphens and a word, not inside a word ("32-bit").
std::set<std::string> optionsIn(const std::string& text) {
    std::set<std::string> options;
    const std::regex option(R"((^|[\s\[(|])(--?[a-z][a-z0-9-]*))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        options.insert((*it)[2].str());
    return options;
}

bool holdsWord(const std::string& text, const std::string& word) {
    return std::regex_search(text, std::regex("(^|[^A-Za-z0-9-])" + word + "($|[^A-Za-z0-9-])"));
}

std::set<std::string> helpOptions() {
    TempFolder folder;
    const RunResult help = runQuillpack({"--help"}, folder.path());
    EXPECT_EQ(help.exitCode, 0) << help.err;
    std::set<std::string> options = optionsIn(help.out);
    // A pattern that matched nothing would let every check below pass.
    EXPECT_TRUE(options.count("--help") && options.count("--version")) << help.out;
    return options;
}

}  // namespace

TEST(ManualPage, DescribesEveryOptionThatHelpPrints) {
    const std::vector<std::string> tags = listTags(manualText());
    ASSERT_FALSE(tags.empty()) << "doc/quillpack.1 is missing or has no option lists";
    for (const std::string& option : helpOptions()) {
        bool described = false;
        for (const std::string& tag : tags)
            described = described || holdsWord(tag, option);
        EXPECT_TRUE(described) << option << " has no entry (.TP) in doc/quillpack.1";
    }
}

TEST(ManualPage, HelpPrintsEveryOptionThePageDescribes) {
    const std::set<std::string> help = helpOptions();
    std::size_t described = 0;
    for (const std::string& tag : listTags(manualText())) {
        for (const std::string& option : optionsIn(tag)) {
            ++described;
            EXPECT_TRUE(help.count(option)) << option << " is described in doc/quillpack.1 but not in --help";
        }
    }
    EXPECT_GE(described, 15u);
}

TEST(ManualPage, SynopsisHasEveryModeThatHelpPrints) {
    const std::string lines = synopsis(manualText());
    ASSERT_FALSE(lines.empty()) << "doc/quillpack.1 has no SYNOPSIS";
    std::size_t modes = 0;
    for (const std::string& option : helpOptions()) {
        if (!Cli::isModeOption(option))
            continue;
        ++modes;
        EXPECT_TRUE(holdsWord(lines, option)) << option << " is missing from the SYNOPSIS of doc/quillpack.1";
    }
    EXPECT_GE(modes, 5u);
}
