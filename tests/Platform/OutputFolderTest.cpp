// The output folder on its own, on every system (the Windows build runs this under wine): folders made
// along the path or found there already, entries told apart without following them, files placed whole
// with or without replacing, names that would leave the folder refused, and no temporary left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "Platform/FaultSeam.h"
#include "Platform/OutputFolder.h"
#include "support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using Placed = Platform::OutputFolder::Placed;

std::set<std::string> entries(const std::string& path) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(OutputFolder, FoldersAreMadeOrFoundAndOnlyFoldersOpen) {
    TempFolder temp;
    writeFile(temp / "file", "x");
    fs::create_directories(temp / "there/already");
    struct Case {
        std::string path;
        bool opens;
    };
    const Case cases[] = {{temp / "new", true},         {temp / "a/b/c", true},
                          {temp / "a\\b\\d", true},     {temp / "there/already", true},
                          {temp / "there/", true},      {temp / "file", false},
                          {temp / "file/below", false}, {"", false}};
    for (const Case& c : cases) {
        Platform::OutputFolder folder;
        EXPECT_EQ(folder.open(c.path), c.opens) << c.path;
        EXPECT_EQ(folder.reason().empty(), c.opens) << c.path << ": " << folder.reason();
    }
    EXPECT_TRUE(fs::is_directory(temp / "a/b/d"));
}

TEST(OutputFolder, FilesArePlacedWholeAndOnlyWhereAsked) {
    TempFolder temp;
    Platform::OutputFolder folder;
    ASSERT_TRUE(folder.open(temp / "out"));
    writeFile(temp / "out/old.png", "old");
    fs::create_directory(temp / "out/dir.png");
    const std::string bytes = "new bytes";
    struct Case {
        const char* name;
        bool replace;
        Placed placed;
        Platform::PathKind before;
    };
    const Case cases[] = {
        {"fresh.png", false, Placed::Written, Platform::PathKind::Missing},
        {"old.png", false, Placed::Occupied, Platform::PathKind::RegularFile},
        {"old.png", true, Placed::Written, Platform::PathKind::RegularFile},
        {"dir.png", false, Placed::Occupied, Platform::PathKind::Folder},
        {"dir.png", true, Placed::Occupied, Platform::PathKind::Folder},
        // Names that would be looked up elsewhere are no entries of the folder.
        {"../escape.png", false, Placed::Failed, Platform::PathKind::Other},
        {"sub/inner.png", true, Placed::Failed, Platform::PathKind::Other},
        {"sub\\inner.png", true, Placed::Failed, Platform::PathKind::Other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(folder.entryKind(c.name), c.before);
        EXPECT_EQ(folder.write(c.name, c.replace, bytes.data(), bytes.size()), c.placed);
        EXPECT_EQ(folder.reason().empty(), c.placed != Placed::Failed) << folder.reason();
    }
    EXPECT_EQ(folder.write("..", true, bytes.data(), bytes.size()), Placed::Failed);
    folder.sync();
    EXPECT_EQ(readFile(temp / "out/fresh.png"), bytes);
    EXPECT_EQ(readFile(temp / "out/old.png"), bytes);
    EXPECT_FALSE(fs::exists(temp / "escape.png"));
    EXPECT_EQ(entries(temp / "out"), (std::set<std::string>{"fresh.png", "old.png", "dir.png"}));
    EXPECT_TRUE(folder.entryIsFile("old.png", temp / "out/old.png"));
    EXPECT_FALSE(folder.entryIsFile("fresh.png", temp / "out/old.png"));
    EXPECT_FALSE(folder.entryIsFile("dir.png", temp / "out/dir.png"));
}

// Something put under the name between the check and the naming, as another process could: the write
// says Occupied, leaves it as it is and leaves no temporary (links are planted in tests/cli, on POSIX).
TEST(OutputFolder, ANameTakenAtTheLastMomentIsLeftToItsTaker) {
    TempFolder temp;
    Platform::OutputFolder folder;
    ASSERT_TRUE(folder.open(temp / "out"));
    writeFile(temp / "out/replaced.png", "old");
    FaultSeam::onMoment(FaultSeam::Moment::BeforePlacing, [&](const std::string& name) {
        if (name == "free.png")
            writeFile(temp / "out/free.png", "a rival's");
        if (name == "replaced.png") {
            fs::remove(temp / "out/replaced.png");
            fs::create_directory(temp / "out/replaced.png");
        }
    });
    const std::string bytes = "ours";
    EXPECT_EQ(folder.write("free.png", false, bytes.data(), bytes.size()), Placed::Occupied);
    EXPECT_EQ(folder.write("replaced.png", true, bytes.data(), bytes.size()), Placed::Occupied);
    FaultSeam::clearFaults();
    EXPECT_EQ(readFile(temp / "out/free.png"), "a rival's");
    EXPECT_TRUE(fs::is_directory(temp / "out/replaced.png"));
    EXPECT_EQ(entries(temp / "out"), (std::set<std::string>{"free.png", "replaced.png"}));
}

}  // namespace
