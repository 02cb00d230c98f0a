// The installer example in examples/installer, built with makensis and run the way a user runs
// it: it stages selfclean, a setup and a payload in the temporary folder, starts selfclean while
// its own current folder lies in the payload, and exits.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/counter_key.h"
#include "support/launch.h"
#include "support/sandbox.h"

static std::string HostIni() {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    return std::string(windows) + "\\HOST.INI";
}

TEST(ExampleInstaller, SetupRunsOnceAndTheStagedTreeGoes) {
    RemoveCounterKey();
    std::string temp = FreshFolder("installer", "tmp");
    temp.pop_back();
    WriteFile(temp + "\\beside.txt");
    WriteFile(HostIni());
    std::string stage = temp + "\\selfclean-example";

    std::string installer = "\"" + ProgramFolder() + "example_installer.exe\"";
    InstallerResult result = LaunchInstaller(installer.c_str(), temp.c_str());

    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.selfcleanSeen);
    EXPECT_EQ(result.selfclean.exitCode, 0u);
    ASSERT_TRUE(result.selfclean.cloneSeen);
    EXPECT_EQ(result.selfclean.cloneExitCode, 0u);
    // The record holds one line pair per run: the command line and the starting folder.
    std::string record = temp + "\\example-setup.txt";
    EXPECT_EQ(ReadFile(record),
              "\"" + stage + "\\setup\\setup.exe\" 0 " + record + "\n" + stage + "\\setup\n");
    EXPECT_FALSE(Exists(stage));
    EXPECT_FALSE(Exists(HostIni()));
    EXPECT_EQ(CountTemporaryCopies(temp + "\\"), 0);
    EXPECT_TRUE(Exists(temp + "\\beside.txt"));
    DeleteFileA(HostIni().c_str());
}
