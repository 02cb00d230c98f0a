// Whole runs of the shipped executable, started from raw command lines the way an installer
// starts it, waiting for the Original and for the Clone it hands off to.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cleanup/cleanup.h"
#include "protected/protected.h"
#include "support/counter_key.h"
#include "support/launch.h"
#include "support/other_user.h"
#include "support/recording_trace.h"
#include "support/sandbox.h"
#include "selfclean_config.h"

static std::string WindowsDirectory() {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    return windows;
}

// The names in folder, sorted; HOST.INI is left out, since a Clone may delete it.
static std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (_wcsicmp(entry.cFileName, L"HOST.INI") != 0) {
            names.push_back(Utf8(entry.cFileName));
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Whether the Clone would keep the staging root of executable, asked of the same code here,
// which traces into the tests' sink.
static bool WouldBeKept(const std::string& executable) {
    ClearTraceLines();
    static wchar_t root[32768];
    static wchar_t resolved[32768];
    FileIdentity checked;
    return !StagingRootOf(Wide(executable).c_str(), root) ||
           GetFullPathNameW(root, 32768, resolved, NULL) == 0 ||
           IsProtectedFolder(resolved, &checked);
}

// S:\run\<test>\ holds canary.txt and beside\keep.txt around the staged tree stage\, whose
// setup\ folder holds the executable and the sample setup; tmp\ is the temporary folder.
class Run : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveCounterKey();
        base = FreshFolder("run", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        temp = base + "tmp\\";
        MakeFolders(temp);
        MakeFolders(base + "beside");
        WriteFile(base + "canary.txt");
        WriteFile(base + "beside\\keep.txt");
        Stage("stage", "setup");
        WriteFile(WindowsDirectory() + "\\HOST.INI");
    }
    // Stages the tree under base: stage holds data and setup, setup the executable and the
    // sample setup.
    void Stage(const std::string& stageName, const std::string& setupName) {
        stage = base + stageName + "\\";
        setup = stage + setupName + "\\";
        MakeFolders(setup);
        MakeFolders(stage + "data\\deep\\er");
        WriteFile(stage + "data\\deep\\er\\file.bin");
        WriteFile(stage + "data\\readonly.txt");
        SetReadOnly(stage + "data\\readonly.txt");
        CopyTo(ProgramFolder() + "selfclean.exe", setup + "selfclean.exe");
        CopyTo(ProgramFolder() + "sample_setup.exe", setup + "sample_setup.exe");
    }
    void TearDown() override {
        UnregisterOtherUser();
        SetEnvironmentVariableA("SELFCLEAN_FAULT_AT", NULL);
        RemoveCounterKey();
        DeleteFileA((WindowsDirectory() + "\\HOST.INI").c_str());
    }
    // Starts the staged executable in the Original role with a sample setup exiting with code.
    LaunchResult Original(int code, const std::string& extra = "", const char* tempFolder = NULL,
                          const LaunchOptions* options = NULL) {
        std::string line = "\"" + setup + "selfclean.exe\" -1 \"" + setup + "sample_setup.exe " +
                           std::to_string(code) + "\" \"" + setup.substr(0, setup.size() - 1) +
                           "\" " + extra;
        return Launch(line.c_str(), tempFolder != NULL ? tempFolder : temp.c_str(), options);
    }
    void ExpectRemoved(const std::string& tempFolder) {
        EXPECT_FALSE(Exists(stage));
        EXPECT_EQ(Exists(WindowsDirectory() + "\\HOST.INI"), !SELFCLEAN_REMOVE_HOST_INI);
        EXPECT_EQ(CountTemporaryCopies(tempFolder), 0);
        ExpectSurroundingsKept();
    }
    void ExpectKept() {
        EXPECT_TRUE(Exists(setup + "selfclean.exe"));
        EXPECT_TRUE(Exists(stage + "data\\deep\\er\\file.bin"));
        EXPECT_TRUE(Exists(WindowsDirectory() + "\\HOST.INI"));
        EXPECT_EQ(CountTemporaryCopies(temp), 0);
        ExpectSurroundingsKept();
    }
    void ExpectSurroundingsKept() {
        EXPECT_TRUE(Exists(base + "canary.txt"));
        EXPECT_TRUE(Exists(base + "beside\\keep.txt"));
        EXPECT_TRUE(Exists(ProgramFolder() + "selfclean.exe"));
    }
    // Whether the Clone's removal, run here, keeps a staged tree that holds the temporary
    // folder: it must ask the rules before it removes anything.
    bool RemovalAsksTheRules() {
        std::string held = base + "held\\";
        MakeFolders(held + "setup");
        MakeFolders(held + "tmp");
        WriteFile(held + "setup\\x.exe");
        WriteFile(held + "keep.txt");
        std::string savedTmp = Environment("TMP");
        SetEnvironment("TMP", held + "tmp");
        UseCommandLine("c.tmp 0 \"" + held + "setup\\x.exe\"");
        RemoveStagingFolders();
        SetEnvironment("TMP", savedTmp);
        return Exists(held + "keep.txt");
    }
    // Stages the executable and the sample setup in root\selfclean-guard\, so that root becomes
    // the staging root, and a canary in root\selfclean-canary\; runs them and checks that only
    // the executable went. The same code must keep root in this process first: a broken guard
    // fails here and never lets a Clone loose on a folder of the prefix.
    void ExpectKeptAsStagingRoot(const std::string& root) {
        std::string own = root + "\\selfclean-guard\\";
        std::string canary = root + "\\selfclean-canary\\keep.txt";
        ASSERT_TRUE(RemovalAsksTheRules());
        ASSERT_TRUE(WouldBeKept(own + "selfclean.exe")) << root;
        MakeFolders(own);
        MakeFolders(root + "\\selfclean-canary");
        WriteFile(canary);
        CopyTo(ProgramFolder() + "selfclean.exe", own + "selfclean.exe");
        CopyTo(ProgramFolder() + "sample_setup.exe", own + "sample_setup.exe");
        std::vector<std::string> before = Entries(root);
        std::string line = "\"" + own + "selfclean.exe\" -1 \"" + own + "sample_setup.exe 0\"";
        LaunchResult result = Launch(line.c_str(), temp.c_str());
        EXPECT_EQ(result.exitCode, 0u) << root;
        EXPECT_TRUE(result.cloneSeen) << root;
        EXPECT_FALSE(Exists(own + "selfclean.exe")) << root;
        EXPECT_TRUE(Exists(own + "sample_setup.exe")) << root;
        EXPECT_TRUE(Exists(canary)) << root;
        EXPECT_EQ(Entries(root), before) << root;
        EXPECT_EQ(CountTemporaryCopies(temp), 0) << root;
        RemoveAll(own);
        RemoveAll(root + "\\selfclean-canary");
    }
    std::string base, stage, setup, temp;
};

TEST_F(Run, FullRunRemovesTheStagedTreeAndItsCopy) {
    // The Clone inherits this process's current folder, where kvoptemp is looked for.
    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(current), current);
    std::string fixedFolder = std::string(current) + "\\kvoptemp";
    MakeFolders(fixedFolder);
    LaunchResult result = Original(0);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.cloneSeen);
    EXPECT_EQ(result.cloneExitCode, 0u);
    EXPECT_TRUE(result.copyHeldAtCloneEnd) << "the keeper holds the copy the Clone was given";
    ExpectRemoved(temp);
    EXPECT_EQ(Exists(fixedFolder), !SELFCLEAN_REMOVE_KVOPTEMP);
    RemoveDirectoryA(fixedFolder.c_str());
}

// The release signed with a throwaway certificate (check-signing.sh, which also verifies the
// signature) does the same job, from a copy that is the signed file byte for byte.
TEST_F(Run, SignedProgramRunsFromACopyWithTheSignature) {
    std::string signedExe = ProgramFolder() + "signed\\selfclean.exe";
    ASSERT_NE(ReadFile(signedExe), ReadFile(ProgramFolder() + "selfclean.exe"));
    ASSERT_TRUE(CopyTo(signedExe, setup + "selfclean.exe"));
    std::wstring expected = Wide(signedExe);
    LaunchOptions options = {NULL, NULL, NULL, false, false, expected.c_str()};
    LaunchResult result = Original(0, "", NULL, &options);
    ASSERT_TRUE(result.cloneSeen);
    EXPECT_EQ(result.cloneExitCode, 0u);
    EXPECT_TRUE(result.copyMatched) << "the Clone's copy is not the signed executable";
    ExpectRemoved(temp);
}

TEST_F(Run, TemporaryFolderWithBlanks) {
    std::string blanks = base + "my temp\\";
    MakeFolders(blanks);
    LaunchResult result = Original(0, "", blanks.c_str());
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.cloneSeen);
    EXPECT_EQ(result.cloneExitCode, 0u);
    ExpectRemoved(blanks);
}

TEST_F(Run, RebootPendingKeepsTheTreeUntilRunOnceCountsItDown) {
    LaunchResult first = Original(4096);
    EXPECT_EQ(first.exitCode, 0u);
    EXPECT_FALSE(first.cloneSeen);
    LaunchResult second = Original(4096);
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_FALSE(second.cloneSeen);
    EXPECT_EQ(StoredCount(), 2u) << "under " << kCounterKey;
    ExpectKept();
    // Two pending: the first RunOnce only counts one down.
    LaunchResult third = Original(0, "RunOnce");
    EXPECT_EQ(third.exitCode, 0u);
    EXPECT_FALSE(third.cloneSeen);
    ExpectKept();
    LaunchResult fourth = Original(0, "RunOnce");
    EXPECT_EQ(fourth.exitCode, 0u);
    EXPECT_TRUE(fourth.cloneSeen);
    ExpectRemoved(temp);
    EXPECT_FALSE(KeyExists(kCounterKey));
    EXPECT_TRUE(KeyExists(kCounterParent)) << "only the counter's own key goes";
}

TEST_F(Run, SetupThatCannotStartKeepsEverything) {
    std::string line = "\"" + setup + "selfclean.exe\" -1 " + setup + "missing.exe " + setup;
    LaunchResult result = Launch(line.c_str(), temp.c_str());
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_FALSE(result.cloneSeen);
    ExpectKept();
}

TEST_F(Run, FewerThanThreeArgumentsDoNothing) {
    for (const char* arguments : {"", " -1", " 0"}) {
        std::string line = "\"" + setup + "selfclean.exe\"" + arguments;
        LaunchResult result = Launch(line.c_str(), temp.c_str());
        EXPECT_EQ(result.exitCode, 0u) << arguments;
        ExpectKept();
    }
}

// A first argument of 0 or without digits selects the Clone role; the wait on handle 0
// returns at once and the named executable's staging folder goes.
TEST_F(Run, CloneRoleStartedDirectly) {
    for (const char* role : {"0", "x"}) {
        MakeFolders(setup);
        CopyTo(ProgramFolder() + "selfclean.exe", setup + "selfclean.exe");
        WriteFile(setup + "other.txt");
        CopyTo(ProgramFolder() + "selfclean.exe", base + "clone.exe");
        std::string line = "\"" + base + "clone.exe\" " + role + " \"" + setup + "selfclean.exe\"";
        LaunchResult result = Launch(line.c_str(), temp.c_str());
        EXPECT_EQ(result.exitCode, 0u) << role;
        EXPECT_FALSE(Exists(stage)) << role;
        ExpectSurroundingsKept();
    }
}

// A user profile named in another script holds the temporary folder; installers stage into
// folders named in any script.
TEST_F(Run, ExecutableStagedInFoldersNamedInOtherScripts) {
    Stage(u8"\u0421\u0442\u0430\u0434\u0438\u044f "
          u8"\u0443\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0438",
          u8"\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7 \u03b1");
    WriteFile(stage +
              u8"data\\\u0420\u0443\u043a\u043e\u0432\u043e\u0434\u0441\u0442\u0432\u043e.txt");
    std::string named = base + u8"\u0410\u043d\u043d\u0430 \u5c71\u7530\\Temp\\";
    MakeFolders(named);
    LaunchResult result = Original(0, "", named.c_str());
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.cloneSeen);
    EXPECT_EQ(result.cloneExitCode, 0u);
    ExpectRemoved(named);
}

// The setup sees its command line and starting folder exactly as given.
TEST_F(Run, SetupAndItsStartingFolderNamedInOtherScripts) {
    std::string program =
        setup + u8"\u0443\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430 \u8a2d\u5b9a.exe";
    CopyTo(ProgramFolder() + "sample_setup.exe", program);
    std::string start =
        base + u8"\u041d\u0430\u0447\u0430\u043b\u043e \u958b\u59cb \u0391\u03c1\u03c7\u03ae";
    MakeFolders(start);
    std::string record = base + u8"\u0437\u0430\u043f\u0438\u0441\u044c.txt";
    std::string command =
        "\"" + program + "\" 0 \"" + record + u8"\" \u03b1\u03b2\u03b3 \U0001F600";
    std::string escaped =
        "\\\"" + program + "\\\" 0 \\\"" + record + u8"\\\" \u03b1\u03b2\u03b3 \U0001F600";
    std::string line = "\"" + setup + "selfclean.exe\" -1 \"" + escaped + "\" \"" + start + "\"";
    LaunchResult result = Launch(line.c_str(), temp.c_str());
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(result.cloneSeen);
    EXPECT_EQ(ReadFile(record), command + "\n" + start + "\n");
    ExpectRemoved(temp);
}

// An executable directly below a drive root's folder would make the drive root the staging
// root, and one a level deeper a folder directly in the drive's root: only the executable goes.
TEST_F(Run, StagingRootAtOrDirectlyInADriveRootIsKept) {
    for (std::string folder : {"S:\\shallow\\", "S:\\shallow\\setup\\"}) {
        MakeFolders(folder);
        WriteFile("S:\\shallow\\keep.txt");
        CopyTo(ProgramFolder() + "selfclean.exe", folder + "selfclean.exe");
        CopyTo(ProgramFolder() + "sample_setup.exe", folder + "sample_setup.exe");
        std::string line = folder + "selfclean.exe -1 \"" + folder + "sample_setup.exe 0\"";
        LaunchResult result = Launch(line.c_str(), temp.c_str());
        EXPECT_EQ(result.exitCode, 0u) << folder;
        EXPECT_TRUE(result.cloneSeen) << folder;
        EXPECT_FALSE(Exists(folder + "selfclean.exe")) << folder;
        EXPECT_TRUE(Exists(folder + "sample_setup.exe")) << folder;
        EXPECT_TRUE(Exists("S:\\shallow\\keep.txt")) << folder;
        EXPECT_TRUE(Exists(ProgramFolder() + "selfclean.exe"));
        EXPECT_TRUE(Exists(base + "canary.txt"));
        RemoveAll("S:\\shallow");
    }
}

// The staged executable is the test build that faults at the first trace line beginning with
// the given text; the Clone, a copy of it, inherits the same setting.
static void StageFaultingBuild(const std::string& setup, const char* faultAt) {
    CopyTo(ProgramFolder() + "selfclean_faulting.exe", setup + "selfclean.exe");
    SetEnvironment("SELFCLEAN_FAULT_AT", faultAt);
}

TEST_F(Run, FaultInTheClonesRemovalIsCaughtAndTheRemovalRunsAgain) {
    StageFaultingBuild(setup, (stage + "setup\\..\\").c_str());
    LaunchResult result = Original(0);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.cloneSeen);
    EXPECT_EQ(result.cloneExitCode, 0u);
    ExpectRemoved(temp);
}

// The second fault comes in the look-up that narrows the DLL search, before the first trace line.
TEST_F(Run, FaultInTheOriginalIsCaughtAndNothingIsRemoved) {
    for (const char* faultAt : {"Original EXE", "SetDefaultDllDirectories"}) {
        StageFaultingBuild(setup, faultAt);
        LaunchResult result = Original(0);
        EXPECT_EQ(result.exitCode, 0u) << faultAt;
        EXPECT_FALSE(result.cloneSeen) << faultAt;
        ExpectKept();
    }
}

static std::string gRemovalSign;
static HANDLE gHeldFile;

// Holds gHeldFile until a second after the Clone has begun its removal, which it begins by
// deleting the staged executable, gRemovalSign.
static DWORD WINAPI ReleaseASecondAfterTheRemovalBegins(void*) {
    for (int i = 0; i < 6000 && Exists(gRemovalSign); ++i) {
        Sleep(10);
    }
    Sleep(1000);
    CloseHandle(gHeldFile);
    return 0;
}

// An installer reads selfclean's output through a pipe and lets it inherit a handle to its own
// log in the staged tree; a process manager runs it in a job that ends its processes when it
// closes, here as soon as the Original has ended, while a scanner still holds a staged file. The
// Original alone holds the caller's handles, the Clone has left the job and waits the hold out. A
// job that refuses breakaway keeps the Clone, and is closed only at the end.
TEST_F(Run, CallersHandlesJobAndAScannersHoldDoNotStopTheRemoval) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    for (bool allowsBreakaway : {true, false}) {
        LaunchOptions options = {NULL, NULL, NULL, true, allowsBreakaway, NULL};
        ASSERT_TRUE(CreatePipe(&options.outputReader, &options.output, &inheritable, 0));
        WriteFile(stage + "data\\install.log");
        options.passedOn =
            CreateFileW(Wide(stage + "data\\install.log").c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, NULL);
        gRemovalSign = setup + "selfclean.exe";
        gHeldFile = CreateFileW(Wide(stage + "data\\deep\\er\\file.bin").c_str(), GENERIC_READ,
                                FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        HANDLE releaser = CreateThread(NULL, 0, ReleaseASecondAfterTheRemovalBegins, NULL, 0, NULL);
        LaunchResult result = Original(0, "", NULL, &options);
        WaitForSingleObject(releaser, INFINITE);
        CloseHandle(releaser);
        CloseHandle(options.outputReader);
        EXPECT_EQ(result.exitCode, 0u) << allowsBreakaway;
        ASSERT_TRUE(result.cloneSeen) << allowsBreakaway;
        EXPECT_EQ(result.cloneExitCode, 0u) << allowsBreakaway;
        EXPECT_TRUE(result.outputClosedAtCloneEnd) << allowsBreakaway;
        ExpectRemoved(temp);
        Stage("stage", "setup");
    }
}

// The staged tree holds the temporary folder, where the Clone's own copy lies.
TEST_F(Run, StagingRootHoldingTheTemporaryFolderIsKept) {
    std::string inside = stage + "tmp\\";
    MakeFolders(inside);
    LaunchResult result = Original(0, "", inside.c_str());
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_TRUE(result.cloneSeen);
    EXPECT_FALSE(Exists(setup + "selfclean.exe"));
    EXPECT_TRUE(Exists(setup + "sample_setup.exe"));
    EXPECT_TRUE(Exists(stage + "data\\deep\\er\\file.bin"));
    EXPECT_EQ(CountTemporaryCopies(inside), 0);
    ExpectSurroundingsKept();
}

// An executable unpacked by hand into the profile or into one of its folders.
TEST_F(Run, ProfileAndTheFoldersInItAreKept) {
    std::string profile = Environment("USERPROFILE");
    ASSERT_FALSE(profile.empty());
    ASSERT_TRUE(Exists(profile + "\\Downloads"));
    ExpectKeptAsStagingRoot(profile);
    ExpectKeptAsStagingRoot(profile + "\\Downloads");
}

// Another user of the machine, registered in the profile list: a tree unpacked into that user's
// Downloads must not make Downloads the staging root, while a tree staged below it goes.
TEST_F(Run, AnotherUsersDownloadsAreKeptAndTreesBelowThemGo) {
    std::string other = base + "Other User";
    MakeFolders(other + "\\Downloads");
    WriteFile(other + "\\Downloads\\photo.jpg");
    RegisterOtherUser(other, other + "\\Documents");
    ExpectKeptAsStagingRoot(other + "\\Downloads");
    Stage("Other User\\Downloads\\pkg\\stage", "setup");
    LaunchResult result = Original(0);
    EXPECT_TRUE(result.cloneSeen);
    ExpectRemoved(temp);
    EXPECT_TRUE(Exists(other + "\\Downloads\\pkg"));
    EXPECT_TRUE(Exists(other + "\\Downloads\\photo.jpg"));
}

// The version block's texts, as the build is configured, and the ones that name the file.
TEST(ShippedExecutable, VersionTextsAreTheConfiguredOnes) {
    std::wstring exe = Wide(ProgramFolder() + "selfclean.exe");
    static char block[8192];
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, sizeof(block), block));
    const std::pair<const wchar_t*, const char*> texts[] = {
        {L"CompanyName", SELFCLEAN_COMPANY_NAME},         {L"ProductName", SELFCLEAN_PRODUCT_NAME},
        {L"FileDescription", SELFCLEAN_FILE_DESCRIPTION}, {L"OriginalFilename", "selfclean.exe"},
        {L"LegalCopyright", "selfclean developers"},
    };
    for (const auto& text : texts) {
        std::wstring name = std::wstring(L"\\StringFileInfo\\040904E4\\") + text.first;
        wchar_t* value = NULL;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block, name.c_str(), reinterpret_cast<void**>(&value), &length))
            << Utf8(text.first);
        EXPECT_EQ(Utf8(value), text.second);
    }
}

// Last, since a fault here would cost the prefix its Windows directory.
TEST_F(Run, WindowsDirectoryIsKept) {
    ExpectKeptAsStagingRoot(WindowsDirectory());
}
