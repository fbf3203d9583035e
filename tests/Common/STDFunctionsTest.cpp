#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Common/STDFunctions/STDFunctions.h"
#include "Common/WideStringBuffer.h"
#include "Platform/Win32.h"
#include "support/LogCapture.h"

namespace {

using Tokens = std::vector<std::string>;

Tokens splitOf(const std::string& text, char delimiter) {
    Tokens tokens{"stale"};
    STDFunctions::split(text, delimiter, tokens);
    return tokens;
}

TEST(STDFunctions, SplitKeepsInnerEmptiesAndDropsTrailingOnes) {
    EXPECT_EQ(splitOf("a,b,,c,", ','), (Tokens{"a", "b", "", "c"}));
    EXPECT_EQ(splitOf(",,", ','), Tokens{});
    EXPECT_EQ(splitOf(",", ','), Tokens{""});
    EXPECT_EQ(splitOf("", ','), Tokens{});
    EXPECT_EQ(splitOf("  x \t", ','), Tokens{"x \t"});
    EXPECT_EQ(splitOf(" a , b ", ','), (Tokens{"a", "b"}));
}

TEST(STDFunctions, FileNamesFromBothSeparators) {
    EXPECT_EQ(STDFunctions::getFileName("C:\\art\\Wall.Brick.png"), "Wall.Brick.png");
    EXPECT_EQ(STDFunctions::getFileName("C:\\art\\"), "art");
    EXPECT_EQ(STDFunctions::getFileName("art/Wall.Brick.png"), "Wall.Brick.png");
    struct Case {
        const char* path;
        const char* name;
    };
    for (const Case& c :
         {Case{"C:\\art\\Wall.Brick.png", "Wall.Brick"}, Case{"C:\\art\\wall", "wall"},
          Case{"C:\\art\\.hidden", ""}, Case{"C:\\art\\a..png", "a."}, Case{"C:\\art\\name.", "name."},
          Case{"C:\\art\\a.b.", "a"}, Case{"C:\\art\\ tex .png", "tex"},
          Case{"art/Wall.Brick.png", "Wall.Brick"}, Case{"./tex.png", "tex"},
          Case{"caf\xC3\xA9/textur\xC3\xA9.png", "textur\xC3\xA9"}}) {
        EXPECT_EQ(STDFunctions::getFileNameNoExtension(c.path), c.name) << c.path;
    }
}

TEST(STDFunctions, FolderIsTheTextBeforeTheLastSeparator) {
    EXPECT_EQ(STDFunctions::getFolder("C:\\art\\out.txd"), "C:\\art");
    EXPECT_EQ(STDFunctions::getFolder("out.txd"), "out.txd");
    EXPECT_EQ(STDFunctions::getFolder("\\out.txd"), "");
    EXPECT_EQ(STDFunctions::getFolder("dir/out.txd"), "dir");
    EXPECT_EQ(STDFunctions::getFolder("/tmp/a\\b/out.txd"), "/tmp/a\\b");
}

TEST(STDFunctions, WideningSignExtendsAndRefusesLongTexts) {
    // A destination of exactly the promised 512 elements, and a guard element behind it.
    std::vector<Win32::WCHAR> buffer(STDFunctions::kMaxWideLength + 1, 0x7777);
    LogCapture capture;

    STDFunctions::stringToLPCWSTR(std::string("a\xE9", 2), buffer.data());
    EXPECT_EQ(buffer[0], u'a');
    EXPECT_EQ(buffer[1], 0xFFE9);
    EXPECT_EQ(buffer[2], 0);

    STDFunctions::stringToLPCWSTR("", buffer.data());
    EXPECT_EQ(buffer[0], 0);

    std::string longest(511, 'p');
    STDFunctions::stringToLPCWSTR(longest, buffer.data());
    EXPECT_EQ(buffer[510], u'p');
    EXPECT_EQ(buffer[511], 0);
    EXPECT_EQ(buffer[512], 0x7777);
    EXPECT_TRUE(capture.errors().empty());

    STDFunctions::stringToLPCWSTR(std::string(512, 'p'), buffer.data());
    EXPECT_EQ(buffer[0], u'-');
    EXPECT_EQ(buffer[1], 0);
    EXPECT_EQ(capture.errors(),
              std::vector<std::string>{"STDFunctions::stringToLPCWSTR(840) - String size: 512 is "
                                       "greater than max length: 512"});
    // The refusal names no file, not even one called "-".
    EXPECT_EQ(Win32::narrowPath(buffer.data()), "");

    STDFunctions::stringToLPCWSTR("-", buffer.data());
    EXPECT_EQ(Win32::narrowPath(buffer.data()), "-");
    // Narrowing is the exact inverse for UTF-8.
    const std::string name = "caf\xC3\xA9/textur\xC3\xA9.png";
    EXPECT_EQ(Win32::narrowPath(STDFunctions::stringToLPCWSTR(name, buffer.data())), name);
}

TEST(STDFunctions, FileExistsForFilesAndFoldersButNotRefusedPaths) {
    EXPECT_TRUE(STDFunctions::fileExists("."));
    EXPECT_TRUE(STDFunctions::fileExists(QUILLPACK_SOURCE_DIR "/CMakeLists.txt"));
    EXPECT_FALSE(STDFunctions::fileExists(QUILLPACK_SOURCE_DIR "/no-such-file"));
    EXPECT_FALSE(STDFunctions::fileExists(""));
    EXPECT_FALSE(STDFunctions::fileExists(std::string(600, 'a')));
    EXPECT_EQ(WideStringBuffer::holderCount(), 0);
}

}  // namespace
