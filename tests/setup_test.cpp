#include <gtest/gtest.h>

#include <windows.h>

#include "setup/setup.h"
#include "support/counter_key.h"
#include "support/recording_trace.h"
#include "support/sandbox.h"

class LocalSetup : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveCounterKey();
        folder =
            FreshFolder("setup", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        record = folder + "record.txt";
        ClearTraceLines();
    }
    void TearDown() override {
        RemoveCounterKey();
    }
    // The setup command line of a sample setup that exits with code.
    std::string SetupCommand(int code) const {
        return ProgramFolder() + "sample_setup.exe " + std::to_string(code) + " " + record;
    }
    // Runs the setup as the Original would be started: "x.exe -1 <setup> <extra>".
    bool Run(int code, const std::string& extra = "") {
        std::string setup = SetupCommand(code);
        UseCommandLine("x.exe -1 \"" + setup + "\" " + extra);
        return RunLocalSetup();
    }
    std::string folder;
    std::string record;
};

TEST_F(LocalSetup, RunsInTheGivenDirectoryAndProceedsWithoutReboot) {
    EXPECT_TRUE(Run(0, folder));
    std::string expected = SetupCommand(0) + "\n" + folder.substr(0, folder.size() - 1) + "\n";
    EXPECT_EQ(ReadFile(record), expected);
    EXPECT_TRUE(Traced("LocalSetup cmd line = " + SetupCommand(0) + "\r\n"));
    EXPECT_TRUE(Traced("Starting drive and directory = " + folder + "\r\n"));
    EXPECT_TRUE(Traced("Setup Exit Code= 0\r\n"));
    EXPECT_TRUE(Traced("Local Setup terminated\r\n"));
}

TEST_F(LocalSetup, RebootCodeRaisesTheCounterAndKeepsTheStagingFolder) {
    EXPECT_FALSE(Run(4096));
    EXPECT_TRUE(IsWaitingReboot());
    EXPECT_FALSE(Run(4096, "S:\\ RunOnce"));
    EXPECT_FALSE(Run(0, "S:\\"));
    EXPECT_TRUE(Run(0, "S:\\ RunOnce"));
    EXPECT_FALSE(IsWaitingReboot());
}

TEST_F(LocalSetup, OtherExitCodesLeaveTheCounter) {
    StoreCount(2);
    EXPECT_FALSE(Run(1, "S:\\"));
    EXPECT_FALSE(Run(-1, "S:\\"));
    EXPECT_TRUE(Traced("Setup Exit Code= -1\r\n"));
    EXPECT_FALSE(Run(0x1001, "S:\\"));
    EXPECT_FALSE(Run(0, "S:\\ RunOnce"));
    EXPECT_TRUE(Run(0, "S:\\ RunOnce"));
}

TEST_F(LocalSetup, KeywordIsMatchedWholeIgnoringCase) {
    for (const char* keyword : {"runonce", "RUNONCE", "\"RunOnce\""}) {
        StoreCount(1);
        EXPECT_TRUE(Run(0, std::string("S:\\ ") + keyword)) << keyword;
    }
    for (const char* keyword : {"RunOnceX", "\"RunOnce \"", "Run"}) {
        StoreCount(1);
        EXPECT_FALSE(Run(0, std::string("S:\\ ") + keyword)) << keyword;
    }
    StoreCount(1);
    EXPECT_FALSE(Run(0, "S:\\"));
}

TEST_F(LocalSetup, SetupThatCannotStart) {
    std::string windows(MAX_PATH, '\0');
    windows.resize(GetWindowsDirectoryA(&windows[0], MAX_PATH));
    WriteFile(windows + "\\HOST.INI");
    StoreCount(1);
    UseCommandLine("x.exe -1 " + folder + "missing.exe S:\\ RunOnce");
    EXPECT_FALSE(RunLocalSetup());
    EXPECT_TRUE(Traced("Launch setup failed\r\n"));
    EXPECT_TRUE(Traced("Delete HOST.INI file.\r\n"));
    EXPECT_TRUE(Exists(windows + "\\HOST.INI"));
    EXPECT_FALSE(IsWaitingReboot());
    DeleteFileA((windows + "\\HOST.INI").c_str());
}

TEST_F(LocalSetup, CommandLineBeyondTheTraceLimitIsUsedWhole) {
    std::string padding(3000, 'p');
    std::string setup = SetupCommand(0) + " " + padding;
    UseCommandLine("x.exe -1 \"" + setup + "\"");
    EXPECT_TRUE(RunLocalSetup());
    std::string recorded = ReadFile(record);
    EXPECT_EQ(recorded.substr(0, recorded.find('\n')), setup);
}

TEST_F(LocalSetup, FewerThanThreeArguments) {
    UseCommandLine("x.exe -1");
    EXPECT_FALSE(RunLocalSetup());
    EXPECT_TRUE(TraceLines().empty());
}

// The starting directory is passed on as given: an empty one is no folder to start in.
TEST_F(LocalSetup, EmptyStartingDirectoryMakesTheStartFail) {
    EXPECT_FALSE(Run(0, "\"\""));
    EXPECT_TRUE(Traced("Launch setup failed\r\n"));
    EXPECT_FALSE(Exists(record));
}
