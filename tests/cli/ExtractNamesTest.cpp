// The extract naming rule as a unit: the names a run gives are those of the plain search from
// "<stem>.png" upward (kept here as the reference), and finding them costs a number of lookups in
// proportion to the textures, whatever their names share.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Cli/ExtractNames.h"

namespace {

std::string folded(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The rule as documented, one candidate after another: quadratic, and the reference for the names.
std::vector<std::string> referenceNames(const std::vector<std::string>& stems,
                                        const std::set<std::string>& blockedNames) {
    std::set<std::string> taken;
    std::vector<std::string> names;
    for (const std::string& stem : stems) {
        std::string name = stem + ".png";
        for (unsigned suffix = 1; taken.count(folded(name)) != 0 || blockedNames.count(name) != 0; ++suffix)
            name = stem + "-" + std::to_string(suffix) + ".png";
        taken.insert(folded(name));
        names.push_back(name);
    }
    return names;
}

struct Chosen {
    std::vector<std::string> names;
    std::size_t lookups = 0;  // calls of the blocked test
    std::size_t tried = 0;    // candidate names considered
};

Chosen chosenNames(const std::vector<std::string>& stems, const std::set<std::string>& blockedNames) {
    Chosen run;
    Cli::FileNames names([&](const std::string& name) {
        ++run.lookups;
        return blockedNames.count(name) != 0;
    });
    for (const std::string& stem : stems)
        run.names.push_back(names.choose(stem));
    run.tried = names.candidatesTried();
    return run;
}

TEST(ExtractNames, StemsFromHostileNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"../escape", "_._escape"}, {"a/b\\c", "a_b_c"}, {"C:drive", "C_drive"},
        {"ctl\x01\x1f", "ctl__"},   {"", "unnamed"},     {"CON", "_CON"},
        {"lpt9.x", "_lpt9.x"},      {"com0", "com0"},    {".hidden", "_hidden"},
        {"caf\xC3\xA9", "caf__"}};
    for (const auto& [name, stem] : cases)
        EXPECT_EQ(Cli::safeFileStem(name), stem) << name;
}

TEST(ExtractNames, SameNamesAsThePlainSearchInLinearTime) {
    const std::size_t count = 7000;
    std::mt19937 random(7);
    struct Case {
        const char* what;
        std::vector<std::string> stems;
        std::set<std::string> blocked;
    };
    std::vector<Case> cases(6);
    cases[0].what = "one name";
    cases[1].what = "every spelling of one name";
    cases[2].what = "names that are another's numbered variants";
    cases[3].what = "blocked variants along the way";
    cases[4].what = "two names taking turns";
    cases[5].what = "random mix";
    for (std::size_t i = 0; i < count; ++i) {
        cases[0].stems.push_back("same");
        std::string spelling = "abcdefghijklm";
        for (std::size_t bit = 0; bit < spelling.size(); ++bit) {
            if ((i >> bit) & 1)
                spelling[bit] = static_cast<char>(std::toupper(spelling[bit]));
        }
        cases[1].stems.push_back(spelling);
        cases[2].stems.push_back(i % 2 ? "x-" + std::to_string(i) : "X");
        cases[3].stems.push_back(i % 3 ? "wall" : "Wall");
        cases[4].stems.push_back(i % 2 ? "a" : "b-1");
        const char* pool[] = {"a", "A", "a-1", "a-2", "b", "B-1", "a.png", "a-1-1"};
        cases[5].stems.push_back(pool[random() % 8]);
    }
    for (unsigned suffix = 1; suffix < count; suffix += 3) {
        cases[3].blocked.insert("wall-" + std::to_string(suffix) + ".png");
        cases[3].blocked.insert("Wall-" + std::to_string(suffix + 1) + ".png");
    }
    cases[5].blocked = {"a.png", "A-1.png", "a-2.png", "b-1.png"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Chosen run = chosenNames(c.stems, c.blocked);
        // The reference is too slow for the whole run; choices are made in order, so a prefix of the
        // run is the run of the prefix.
        const std::vector<std::string> first(c.stems.begin(), c.stems.begin() + 700);
        EXPECT_EQ(std::vector<std::string>(run.names.begin(), run.names.begin() + 700),
                  referenceNames(first, c.blocked));
        // Each texture asks about its own name once, plus each blocking entry it meets once; the
        // candidates considered are a few per texture, where the plain search takes millions.
        EXPECT_LE(run.lookups, count + c.blocked.size()) << run.lookups;
        EXPECT_LE(run.tried, 2 * count + c.blocked.size()) << run.tried;
    }
}

}  // namespace
