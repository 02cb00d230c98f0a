#include <gtest/gtest.h>

#include "common/common.h"
#include "entry/entry.h"
#include "support/recording_trace.h"
#include "support/sandbox.h"

TEST(CloneCommandLine, QuotesBothPaths) {
    char line[512];
    ASSERT_TRUE(FormatCloneCommandLine(line, sizeof(line), "C:\\TEMP\\Del1A.TMP",
                                       reinterpret_cast<HANDLE>(44), "C:\\stage\\setup\\x.exe"));
    EXPECT_STREQ(line, "\"C:\\TEMP\\Del1A.TMP\" 44 \"C:\\stage\\setup\\x.exe\"");
    ASSERT_TRUE(FormatCloneCommandLine(line, sizeof(line), "C:\\Documents and Settings\\Del1.tmp",
                                       reinterpret_cast<HANDLE>(8), "C:\\a\\b\\x.exe"));
    UseCommandLine(line);
    EXPECT_STREQ(Arg(0), "C:\\Documents and Settings\\Del1.tmp");
    EXPECT_STREQ(Arg(1), "8");
    EXPECT_STREQ(Arg(2), "C:\\a\\b\\x.exe");
}

TEST(CloneCommandLine, RefusesWhatDoesNotFit) {
    char line[512];
    std::string copy = "C:\\" + std::string(250, 't') + "\\Del1.tmp";
    std::string original = "C:\\" + std::string(240, 'o') + "\\x.exe";
    EXPECT_FALSE(FormatCloneCommandLine(line, sizeof(line), copy.c_str(),
                                        reinterpret_cast<HANDLE>(1234567), original.c_str()));
}

// The platform copies a read-only original's attribute to a new copy, and a read-only file
// cannot be opened for deletion: the copy would stay in the temporary folder for good.
TEST(DisposableCopy, OfAReadOnlyOriginalGoesWithItsHandle) {
    std::string base = FreshFolder("entry", "DisposableCopy");
    WriteFile(base + "x.exe");
    SetReadOnly(base + "x.exe");
    HANDLE copy = OpenDisposableCopy((base + "x.exe").c_str(), (base + "Del1.tmp").c_str());
    ASSERT_NE(copy, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Exists(base + "Del1.tmp"));
    CloseHandle(copy);
    EXPECT_FALSE(Exists(base + "Del1.tmp"));
    EXPECT_TRUE(Exists(base + "x.exe"));
}

TEST(Entry, FewerThanThreeArgumentsOnlyTraces) {
    UseCommandLine("C:\\stage\\setup\\x.exe -1");
    ClearTraceLines();
    EXPECT_EQ(RunEntry(), 0);
    std::vector<std::string> expected = {
        "Program arguments: \r\n", "__argv[0] = C:\\stage\\setup\\x.exe\r\n", "__argv[1] = -1\r\n"};
    EXPECT_EQ(TraceLines(), expected);
}

TEST(Entry, LongArgumentIsTracedCutButKeptWhole) {
    std::string longArgument(2000, 'a');
    UseCommandLine("x.exe " + longArgument);
    ClearTraceLines();
    EXPECT_EQ(RunEntry(), 0);
    ASSERT_EQ(TraceLines().size(), 3u);
    EXPECT_EQ(TraceLines()[2].size(), 767u);
    EXPECT_EQ(TraceLines()[2].substr(0, 14), "__argv[1] = aa");
    EXPECT_EQ(std::string(Arg(1)), longArgument);
}

// Arguments are values of the trace line, never part of its format.
TEST(Entry, PercentSignsInArgumentsAreTracedAsWritten) {
    UseCommandLine("x.exe 100%s%d%n%");
    ClearTraceLines();
    EXPECT_EQ(RunEntry(), 0);
    std::vector<std::string> expected = {"Program arguments: \r\n", "__argv[0] = x.exe\r\n",
                                         "__argv[1] = 100%s%d%n%\r\n"};
    EXPECT_EQ(TraceLines(), expected);
}
