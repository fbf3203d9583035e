#include <gtest/gtest.h>

#include <string>

#include "Platform/FailureReason.h"
#include "Common/MessageLog.h"
#include "support/LogCapture.h"

namespace {

const std::string kFunction19 = "TXD::Archive::abcde";  // 19 characters

TEST(MessageLog, GuardCountsTheUnexpandedFormatAgainstTheBuffer) {
    ASSERT_EQ(kFunction19.size(), 19u);
    LogCapture capture;
    std::string format1000(1000, 'x');
    MessageLog::getInstance()->logMessage(MessageLog::Error, format1000.c_str(), "file", kFunction19.c_str(),
                                          42);
    ASSERT_EQ(capture.errors().size(), 1u);
    EXPECT_EQ(capture.errors()[0], kFunction19 +
                                       "(42) - MESSAGE PASSED WAS TO LONG, Increase the buffer size in "
                                       "MessageLog.h, current size: 1024");

    std::string format999(999, 'y');
    MessageLog::getInstance()->logMessage(MessageLog::Error, format999.c_str(), "file", kFunction19.c_str(),
                                          42);
    ASSERT_EQ(capture.errors().size(), 2u);
    // Expanded, then cut at 1023 characters: the prefix plus as much of the message as fits.
    const std::string line = capture.errors()[1];
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.substr(0, kFunction19.size() + 8), kFunction19 + "(42) - y");

    // A short format that expands far past the buffer is cut the same way, without overrun.
    std::string value(5000, 'v');
    MessageLog::getInstance()->logMessage(MessageLog::Error, "value: %s", "file", "f", 1, value.c_str());
    EXPECT_EQ(capture.errors().at(2).size(), 1023u);
    EXPECT_EQ(capture.errors()[2].substr(0, 14), "f(1) - value: ");
}

TEST(MessageLog, RoutesByLevelInCallOrderAndStoresNothingForUnknownLevels) {
    LogCapture capture;
    MessageLog* log = MessageLog::getInstance();
    log->logMessage(MessageLog::Info, "first %i", "a", "F", 1, 1);
    log->logMessage(MessageLog::Warning, "warned", "a", "F", 2);
    log->logMessage(MessageLog::Error, "String size: %i is greater than max length: %i", "Common\\x",
                    "STDFunctions::stringToLPCWSTR", 840, 600, 512);
    log->logMessage(7, "never stored", "a", "F", 3);
    log->logMessage(-1, "never stored", "a", "F", 3);
    log->logMessage(MessageLog::Info, "no directives", "b", "F", 4);
    EXPECT_EQ(log, MessageLog::getInstance());

    EXPECT_EQ(capture.info(), (std::vector<std::string>{"F(1) - first 1", "F(4) - no directives"}));
    EXPECT_EQ(capture.warnings(), std::vector<std::string>{"F(2) - warned"});
    EXPECT_EQ(
        capture.errors(),
        std::vector<std::string>{"STDFunctions::stringToLPCWSTR(840) - String size: 600 is greater than max "
                                 "length: 512"});
}

// The first cause noted goes with the next error only; warnings and a cleared cause take nothing.
TEST(MessageLog, AnErrorTakesTheFirstCauseNotedBeforeIt) {
    LogCapture capture;
    MessageLog* log = MessageLog::getInstance();
    const std::size_t start = log->errorCauses().size();
    FailureReason::note("stale %s", "cause");
    FailureReason::clear();
    FailureReason::note("truncated %s: %i of %i bytes", "PNG", 10, 20);
    FailureReason::note("a later, vaguer cause");
    log->logMessage(MessageLog::Warning, "warned", "a", "F", 1);
    log->logMessage(MessageLog::Error, "first", "a", "F", 2);
    log->logMessage(MessageLog::Error, "second", "a", "F", 3);
    ASSERT_EQ(log->errorCauses().size(), start + 2);
    EXPECT_EQ(log->errorCauses()[start], "truncated PNG: 10 of 20 bytes");
    EXPECT_EQ(log->errorCauses()[start + 1], "");
}

// A program that runs millions of operations clears what it has read; the log starts again from there
// with every level and cause in step.
TEST(MessageLog, ClearDropsEveryLineAndCause) {
    MessageLog* log = MessageLog::getInstance();
    log->logMessage(MessageLog::Error, "before", "a", "F", 1);
    log->logMessage(MessageLog::Info, "before", "a", "F", 2);
    log->clear();
    EXPECT_TRUE(log->infoLines().empty() && log->warningLines().empty() && log->errorLines().empty() &&
                log->errorCauses().empty());
    FailureReason::note("cause");
    log->logMessage(MessageLog::Error, "after", "a", "F", 3);
    EXPECT_EQ(log->errorLines(), std::vector<std::string>{"F(3) - after"});
    EXPECT_EQ(log->errorCauses(), std::vector<std::string>{"cause"});
}

}  // namespace
