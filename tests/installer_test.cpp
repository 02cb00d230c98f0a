// The installer example in examples/installer, built with makensis and run the way a user runs
// it: it stages selfclean, a setup and a payload in the temporary folder, starts selfclean while
// its own current folder lies in the payload, and exits.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/counter_key.h"
#include "support/launch.h"
#include "support/sandbox.h"
#include "selfclean_config.h"

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
    // makensis' stub has no relocations and must load at 0x400000. Where 32-bit Linux programs run
    // through a user-mode emulator, Wine 10's 32-bit loader (a position-independent program) may
    // lie there itself, and the installer cannot load at all: no implementation of Windows leaves
    // that address taken, so this says nothing of the example or of selfclean.
    const DWORD kConflictingAddresses = 0xC0000018;
    if (result.exitCode == kConflictingAddresses && !result.selfcleanSeen) {
        GTEST_SKIP()
            << "the installer's fixed base 0x400000 is taken by this machine's Wine loader";
    }
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
    EXPECT_EQ(Exists(HostIni()), !SELFCLEAN_REMOVE_HOST_INI);
    EXPECT_EQ(CountTemporaryCopies(temp + "\\"), 0);
    EXPECT_TRUE(Exists(temp + "\\beside.txt"));
    DeleteFileA(HostIni().c_str());
}
