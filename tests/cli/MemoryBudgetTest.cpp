// Peak memory of whole runs at the largest size, each in its own process: an image of 16384 x 16384
// costs 1 GiB decoded, and a run may hold no more than that image (twice with an alpha image), its
// blocks and small working buffers, whatever the input's encoding: an uncompressed file as large as
// its pixels is streamed, never held. Inputs that would need more (decompression bombs) are refused
// before their memory is touched.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/ImageFiles.h"
#include "support/Process.h"
#include "support/Sanitizers.h"
#include "support/SparseArchives.h"
#include "support/TempFolder.h"

namespace {

TEST(MemoryBudget, LargestImagesStayWithinTheirPeakAndBombsAreRefusedEarly) {
    // Under AddressSanitizer every allocation carries shadow memory and quarantine: peak resident
    // memory there says nothing about the tool's own.
    if (kUnderSanitizers)
        GTEST_SKIP() << "resident memory is not the tool's own under AddressSanitizer";
    TempFolder folder;
    writeFlatPng(folder / "texture.png", 16384, 16384, 128, 255);
    writeFlatPng(folder / "mask.png", 16384, 16384, 0, 100);
    writeFlatPng(folder / "stored.png", 16384, 16384, 200, 255, 0);
    writeBlackBmp(folder / "black.bmp", 16384, 16384);
    writeProgressiveJpegBomb(folder / "bomb.jpg", 16384, 16384);
    writeProgressiveJpegBomb(folder / "mask.jpg", 16384, 16384);

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        const char* reason;  // on standard error, for a refusal
        long maxMegabytes;
    };
    const Case cases[] = {
        {{"texture.png", "out.txd"}, 0, "", 1400},
        {{"texture.png", "out.txd", "mask.png"}, 0, "", 2600},
        {{"stored.png", "out.txd"}, 0, "", 1400},  // files of 1 GiB each
        {{"black.bmp", "out.txd"}, 0, "", 1400},
        {{"texture.png", "out.txd", "stored.png"}, 0, "", 2600},
        {{"bomb.jpg", "out.txd"}, 1, "progressive JPEG too large to decode", 100},
        {{"texture.png", "out.txd", "mask.jpg"}, 1, "progressive JPEG too large to decode", 1400},
    };
    for (const Case& c : cases) {
        RunResult result = runQuillpack(c.arguments, folder.path(), RunLimits{-1, 290, -1});
        const std::string what = c.arguments[0] + (c.arguments.size() > 2 ? " + " + c.arguments[2] : "");
        EXPECT_EQ(result.exitCode, c.exitCode) << what << "\n" << result.err;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << what << "\n" << result.err;
        const long megabytes = result.peakKilobytes * 1024 / 1000000;  // ru_maxrss counts KiB
        EXPECT_LE(megabytes, c.maxMegabytes) << what;
        std::printf("peak resident memory for %s: %ld MB\n", what.c_str(), megabytes);
    }
}

// Dictionaries of gigabytes cost their headers: a listing holds no pixels (at most 64 MB whatever the
// file), a refusal comes at the first chunk out of place, and --add holds the records it keeps and
// little more, never the file as well.
TEST(MemoryBudget, DictionariesCostTheirRecordsNotTheirLength) {
    if (kUnderSanitizers)
        GTEST_SKIP() << "resident memory is not the tool's own under AddressSanitizer";
    TempFolder folder;
    SparseArchives::writeClaimOnly(folder / "claim.txd", 3ull << 30);
    SparseArchives::writeDxt1Holes(folder / "giants.txd", 16, 16384);
    const std::uint64_t kept = SparseArchives::writeDxt1Holes(folder / "one.txd", 1, 16384);
    writePng(folder / "small.png", Rgba::filled(8, 8, 10, 20, 30));
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        long maxMegabytes;
    };
    const Case cases[] = {
        {{"--list", "claim.txd"}, 1, 64},
        {{"--add", "claim.txd", "small.png"}, 1, 64},
        {{"--list", "giants.txd"}, 0, 64},
        {{"--add", "one.txd", "small.png"}, 0, long(kept / 1000000) + 64},
    };
    for (const Case& c : cases) {
        RunResult result = runQuillpack(c.arguments, folder.path(), RunLimits{-1, 120, -1});
        const std::string what = c.arguments[0] + " " + c.arguments[1];
        EXPECT_EQ(result.exitCode, c.exitCode) << what << "\n" << result.err;
        const long megabytes = result.peakKilobytes * 1024 / 1000000;
        EXPECT_LE(megabytes, c.maxMegabytes) << what;
        std::printf("peak resident memory for %s: %ld MB\n", what.c_str(), megabytes);
    }
}

}  // namespace
