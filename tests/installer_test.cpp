// The installer example in examples/installer, built with makensis and run the way a user runs
// it: it stages selfclean, a setup and a payload in the temporary folder, starts selfclean while
// its own current folder lies in the payload, and exits. With /reboot it also registers the
// start after the reboot, which the tests then run as Windows would at the next logon.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/counter_key.h"
#include "support/launch.h"
#include "support/sandbox.h"
#include "selfclean_config.h"

static const char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char kRunOnceName[] = "selfclean-example";

// The RunOnce key of the system's own view, where the documented key lies on 64-bit Windows too
// (it is not shared between the views); on 32-bit Windows the flag is ignored.
static bool OpenRunOnce(REGSAM access, HKEY* key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, access | KEY_WOW64_64KEY, key) ==
           ERROR_SUCCESS;
}

// The example's RunOnce command line; empty when it has none.
static std::string RegisteredRunOnce() {
    HKEY key;
    if (!OpenRunOnce(KEY_QUERY_VALUE, &key)) {
        return "";
    }
    static wchar_t line[32768];
    DWORD size = sizeof(line) - sizeof(wchar_t);
    DWORD type = 0;
    LONG status = RegQueryValueExW(key, Wide(kRunOnceName).c_str(), NULL, &type,
                                   reinterpret_cast<BYTE*>(line), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return "";
    }
    line[size / sizeof(wchar_t)] = L'\0';
    return Utf8(line);
}

// Windows deletes a RunOnce value before it runs the command line.
static void RemoveRunOnce() {
    HKEY key;
    if (OpenRunOnce(KEY_SET_VALUE, &key)) {
        RegDeleteValueA(key, kRunOnceName);
        RegCloseKey(key);
    }
}

static std::string HostIni() {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    return std::string(windows) + "\\HOST.INI";
}

// makensis' stub has no relocations and must load at 0x400000. Where 32-bit Linux programs run
// through a user-mode emulator, Wine 10's 32-bit loader (a position-independent program) may
// lie there itself, and the installer cannot load at all: no implementation of Windows leaves
// that address taken, so this says nothing of the example or of selfclean.
static const DWORD kConflictingAddresses = 0xC0000018;
static const char kConflictingAddressesSkip[] =
    "the installer's fixed base 0x400000 is taken by this machine's Wine loader";

// S:\installer\tmp\ is the installer's temporary folder, with a file beside the tree it
// stages, selfclean-example\; HOST.INI waits in the Windows directory.
class ExampleInstaller : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveCounterKey();
        RemoveRunOnce();
        // Short: the start after the reboot names the staged tree three times, within 260
        // characters.
        temp = FreshFolder("installer", "tmp");
        temp.pop_back();
        WriteFile(temp + "\\beside.txt");
        WriteFile(HostIni());
        stage = temp + "\\selfclean-example";
        record = temp + "\\example-setup.txt";
    }
    void TearDown() override {
        DeleteFileA(HostIni().c_str());
        RemoveRunOnce();
    }
    InstallerResult RunInstaller(const std::string& switches) {
        std::string installer = "\"" + ProgramFolder() + "example_installer.exe\"" + switches;
        return LaunchInstaller(installer.c_str(), temp.c_str());
    }
    std::string temp, stage, record;
};

TEST_F(ExampleInstaller, SetupRunsOnceAndTheStagedTreeGoes) {
    InstallerResult result = RunInstaller("");

    ASSERT_TRUE(result.started);
    if (result.exitCode == kConflictingAddresses && !result.selfcleanSeen) {
        GTEST_SKIP() << kConflictingAddressesSkip;
    }
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.selfcleanSeen);
    EXPECT_EQ(result.selfclean.exitCode, 0u);
    ASSERT_TRUE(result.selfclean.cloneSeen);
    EXPECT_EQ(result.selfclean.cloneExitCode, 0u);
    // The record holds one line pair per run: the command line and the starting folder.
    EXPECT_EQ(ReadFile(record),
              "\"" + stage + "\\setup\\setup.exe\" 0 " + record + "\n" + stage + "\\setup\n");
    EXPECT_FALSE(Exists(stage));
    EXPECT_EQ(Exists(HostIni()), !SELFCLEAN_REMOVE_HOST_INI);
    EXPECT_EQ(CountTemporaryCopies(temp + "\\"), 0);
    EXPECT_TRUE(Exists(temp + "\\beside.txt"));
    EXPECT_EQ(RegisteredRunOnce(), "");
}

// The whole reboot flow: the installer started with /reboot passes the switch on to the setup,
// whose first run asks for a reboot, and registers the start after it. Nothing reboots here: the
// test runs the registered command line itself, with the same temporary folder, as Explorer runs
// the machine's RunOnce values at an administrator's next logon, deleting each value first.
TEST_F(ExampleInstaller, RebootSwitchRegistersTheStartThatFinishesTheJob) {
    InstallerResult result = RunInstaller(" /REBOOT");

    ASSERT_TRUE(result.started);
    if (result.exitCode == kConflictingAddresses && !result.selfcleanSeen) {
        GTEST_SKIP() << kConflictingAddressesSkip;
    }
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.selfcleanSeen);
    EXPECT_EQ(result.selfclean.exitCode, 0u);
    EXPECT_FALSE(result.selfclean.cloneSeen);
    std::string run =
        "\"" + stage + "\\setup\\setup.exe\" 0 " + record + " /reboot\n" + stage + "\\setup\n";
    EXPECT_EQ(ReadFile(record), run);
    EXPECT_EQ(StoredCount(), 1u);
    EXPECT_TRUE(Exists(stage + "\\setup\\selfclean.exe"));
    EXPECT_TRUE(Exists(stage + "\\payload\\docs\\guide.txt"));
    EXPECT_TRUE(Exists(HostIni()));

    std::string afterReboot = RegisteredRunOnce();
    ASSERT_NE(afterReboot, "");
    // Windows documents RunOnce command lines of at most 260 characters.
    EXPECT_LE(Wide(afterReboot).size(), 260u);
    RemoveRunOnce();
    LaunchResult logon = Launch(afterReboot.c_str(), temp.c_str());

    ASSERT_TRUE(logon.started);
    EXPECT_EQ(logon.exitCode, 0u);
    ASSERT_TRUE(logon.cloneSeen);
    EXPECT_EQ(logon.cloneExitCode, 0u);
    // The same command line and folder a second time: the setup ran again, and finished.
    EXPECT_EQ(ReadFile(record), run + run);
    EXPECT_FALSE(KeyExists(kCounterKey));
    EXPECT_FALSE(Exists(stage));
    EXPECT_EQ(Exists(HostIni()), !SELFCLEAN_REMOVE_HOST_INI);
    EXPECT_EQ(CountTemporaryCopies(temp + "\\"), 0);
    EXPECT_TRUE(Exists(temp + "\\beside.txt"));
    EXPECT_EQ(RegisteredRunOnce(), "");
}
