#include <gtest/gtest.h>

#include <ctype.h>
#include <windows.h>

#include <string>
#include <vector>

#include "cleanup/cleanup.h"
#include "common/common.h"
#include "protected/protected.h"
#include "walk/walk.h"
#include "support/other_user.h"
#include "support/recording_trace.h"
#include "support/sandbox.h"
#include "selfclean_config.h"

static std::string StagingRoot(const std::string& executable) {
    static wchar_t root[32768];
    return StagingRootOf(Wide(executable).c_str(), root) ? Utf8(root) : "refused";
}

// The literal form of a sandbox path, as the walk takes it.
static std::wstring Literal(const std::string& path) {
    return L"\\\\?\\" + Wide(path);
}

TEST(StagingRoot, IsTheParentOfTheExecutablesFolder) {
    EXPECT_EQ(StagingRoot("C:\\stage\\setup\\x.exe"), "C:\\stage\\setup\\..\\");
    EXPECT_EQ(StagingRoot("C:/stage/setup/x.exe"), "C:/stage/setup/..\\");
    EXPECT_EQ(StagingRoot("C:\\a\\b\\c\\x.exe"), "C:\\a\\b\\c\\..\\");
    EXPECT_EQ(StagingRoot("\\\\server\\share\\a\\b\\x.exe"), "\\\\server\\share\\a\\b\\..\\");
}

TEST(StagingRoot, RefusesRootsAndPathsOutsideAStagedTree) {
    const char* refused[] = {
        "C:\\x.exe",
        "C:\\setup\\x.exe",
        "x.exe",
        "setup\\x.exe",
        "stage\\setup\\x.exe",
        "\\stage\\setup\\x.exe",
        "C:stage\\setup\\x.exe",
        "\\\\server\\share\\a\\x.exe",
        "\\\\server\\share",
        "\\\\?\\C:\\stage\\setup\\x.exe",
        "\\\\.\\C:\\stage\\setup\\x.exe",
        "C:\\stage\\..\\setup\\x.exe",
        "C:\\stage\\.\\x.exe",
        "C:\\stage\\\\setup\\x.exe",
        "C:\\stage\\...\\x.exe",
        "",
    };
    for (const char* path : refused) {
        EXPECT_EQ(StagingRoot(path), "refused") << path;
    }
}

// No limit below the file system's: the root only has to fit 32,767 characters.
TEST(StagingRoot, TakesAnyDepthUpToTheLongestPath) {
    std::string share = "\\\\s\\h\\" + std::string(120, 'a') + "\\";
    std::string deep = share + std::string(1000, 'b') + "\\x.exe";
    EXPECT_EQ(StagingRoot(deep), deep.substr(0, deep.size() - 5) + "..\\");
    std::string longest = "C:\\a\\" + std::string(32765 - 7, 'b') + "\\x";
    ASSERT_EQ(longest.size(), 32767u - 2);
    EXPECT_EQ(StagingRoot(longest).size(), 32767u);
    EXPECT_EQ(StagingRoot(longest.insert(5, "b")), "refused");
}

TEST(StagingRoot, NamesInAnyScript) {
    std::string path = u8"C:\\\u0421\u0442\u0430\u0434\u0438\u044f\\\u65e5\u672c\\\u03b1.exe";
    EXPECT_EQ(StagingRoot(path), u8"C:\\\u0421\u0442\u0430\u0434\u0438\u044f\\\u65e5\u672c\\..\\");
}

TEST(LiteralPath, OfDriveAndSharePaths) {
    static wchar_t literal[32768];
    ASSERT_TRUE(LiteralPathOf(L"C:\\stage\\", literal));
    EXPECT_STREQ(literal, L"\\\\?\\C:\\stage\\");
    ASSERT_TRUE(LiteralPathOf(L"\\\\server\\share\\stage\\", literal));
    EXPECT_STREQ(literal, L"\\\\?\\UNC\\server\\share\\stage\\");
    for (const wchar_t* path : {L"stage\\", L"C:stage\\", L"\\stage\\", L"\\\\?\\C:\\stage\\",
                                L"\\\\.\\C:\\stage\\", L"\\\\server", L""}) {
        EXPECT_FALSE(LiteralPathOf(path, literal)) << Utf8(path);
    }
    std::wstring longest = L"C:\\" + std::wstring(32767 - 4 - 4, L'a') + L"\\";
    EXPECT_TRUE(LiteralPathOf(longest.c_str(), literal));
    EXPECT_EQ(wcslen(literal), 32767u);
    longest.insert(3, L"a");
    EXPECT_FALSE(LiteralPathOf(longest.c_str(), literal));
}

static std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

static std::string Slashed(std::string text) {
    for (char& c : text) {
        c = c == '\\' ? '/' : c;
    }
    return text;
}

static bool Protected(const std::string& folder) {
    FileIdentity checked;
    return IsProtectedFolder(Wide(folder).c_str(), &checked);
}

// The variables the tests point at folders of the sandbox.
static const char* const kRedirected[] = {"USERPROFILE", "TMP",          "TEMP",
                                          "PUBLIC",      "LOCALAPPDATA", "OneDrive"};

// The user's profile and the temporary folder are S:\guard\<test>\User Profile and tmp here,
// so that the rules can be tried on folders of the sandbox.
class Guard : public ::testing::Test {
  protected:
    void SetUp() override {
        base =
            FreshFolder("guard", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        profile = base + "User Profile";
        temp = base + "tmp";
        MakeFolders(profile + "\\Downloads");
        MakeFolders(temp);
        for (const char* variable : kRedirected) {
            saved.push_back(Environment(variable));
        }
        SetEnvironment("USERPROFILE", profile);
        SetEnvironment("TMP", temp);
        SetEnvironment("TEMP", temp);
        ClearTraceLines();
    }
    void TearDown() override {
        gVolumePathStandIn = NULL;
        UnregisterOtherUser();
        for (size_t i = 0; i < saved.size(); ++i) {
            std::wstring value = Wide(saved[i]);
            SetEnvironmentVariableW(Wide(kRedirected[i]).c_str(),
                                    value.empty() ? NULL : value.c_str());
        }
    }
    // Whether folder is kept, and for the rule traced.
    bool Kept(const std::string& folder, const std::string& rule) {
        ClearTraceLines();
        bool kept = Protected(folder);
        return kept && Traced("Staging folder kept: it " + rule + "\r\n");
    }
    std::string base, profile, temp;
    std::vector<std::string> saved;
};

TEST_F(Guard, ProfileIsKeptHoweverItIsWritten) {
    wchar_t shortPath[MAX_PATH] = L"";
    ASSERT_NE(GetShortPathNameW(Wide(profile).c_str(), shortPath, MAX_PATH), 0u);
    std::string shortName = Utf8(shortPath);
    ASSERT_NE(shortName, profile);
    std::string spellings[] = {
        profile,
        Lower(profile),
        Slashed(profile) + "/",
        base + "User Profile\\\\",
        base + "tmp\\..\\.\\User Profile\\.",
        base + "User Profile\\setup\\..\\",
        "S:\\guard\\\\" + base.substr(9) + "/User Profile//",
        shortName,
    };
    for (const std::string& folder : spellings) {
        EXPECT_TRUE(Kept(folder, "is or holds USERPROFILE")) << folder;
    }
}

TEST_F(Guard, FoldersHoldingTheProfileOrTheTemporaryFolderAreKept) {
    EXPECT_TRUE(Kept(temp, "is or holds the temporary folder"));
    EXPECT_TRUE(Kept(Lower(temp) + "\\", "is or holds the temporary folder"));
    EXPECT_TRUE(Protected(base));
    EXPECT_TRUE(Protected("S:\\guard\\"));
    EXPECT_TRUE(Protected("S:\\"));
}

TEST_F(Guard, FoldersDirectlyInTheProfileAreKept) {
    MakeFolders(profile + "\\Desktop");
    EXPECT_TRUE(Kept(profile + "\\Downloads", "lies directly in USERPROFILE"));
    EXPECT_TRUE(Kept(Slashed(profile) + "/downloads/", "lies directly in USERPROFILE"));
    EXPECT_TRUE(Kept(profile + "\\Desktop", "lies directly in USERPROFILE"));
}

TEST_F(Guard, StagedTreesBesideAndBelowAreRemovable) {
    std::string removable[] = {
        base + "stage",   base + "User Profiles", base + "tmp2",
        temp + "\\stage", temp + "\\stage\\",     profile + "\\Downloads\\pkg\\unpacked",
    };
    for (const std::string& folder : removable) {
        MakeFolders(folder);
        EXPECT_FALSE(Protected(folder)) << folder;
    }
    EXPECT_TRUE(TraceLines().empty());
}

// Whatever the guard cannot read it cannot check, so a root that is not there is kept. A name
// that the usual path forms would change (they drop a trailing blank) is read as given.
TEST_F(Guard, RootThatCannotBeReadIsKeptAndNamesAreReadAsGiven) {
    EXPECT_TRUE(Protected(base + "missing"));
    EXPECT_TRUE(Traced("Staging folder kept: its attributes cannot be read\r\n"));
    std::string blank = base + "pkg ";
    ASSERT_TRUE(CreateDirectoryW(Literal(blank).c_str(), NULL));
    EXPECT_FALSE(Protected(blank + "\\"));
    RemoveDirectoryW(Literal(blank).c_str());
}

// Installers run for every user, so another user's folders are kept as the running user's are.
TEST_F(Guard, EveryUsersFoldersAreKept) {
    std::string other = base + "Other User";
    std::string documents = base + "Redirected Documents";
    for (const char* folder : {"\\Downloads\\pkg\\stage", "\\Documents", "\\AppData\\Roaming"}) {
        MakeFolders(other + folder);
    }
    MakeFolders(documents + "\\Letters");
    RegisterOtherUser(other, documents);
    EXPECT_TRUE(Kept(other, "is or holds a user's profile"));
    EXPECT_TRUE(Kept(other + "\\Downloads", "lies directly in a user's profile"));
    EXPECT_TRUE(Kept(other + "\\Documents", "lies directly in a user's profile"));
    EXPECT_TRUE(Kept(other + "\\AppData\\Roaming", "is or holds a user's application data"));
    EXPECT_TRUE(Kept(documents, "is or holds a user's Documents"));
    EXPECT_TRUE(Kept(documents + "\\Letters", "lies directly in a user's Documents"));
    EXPECT_FALSE(Protected(other + "\\Downloads\\pkg\\stage"));
}

// Most users' registry is not loaded: the folders each profile holds stand in for their shell
// folders. The running user's programs, the shared and the cloud-sync folders are kept alike. The
// folders that a cloud-sync folder's backup moves in are named in the user's language: every
// folder directly in a cloud-sync folder is taken for one.
TEST_F(Guard, DefaultUserFoldersSharedAndSyncFoldersAreKept) {
    std::string other = base + "Other User";
    const std::string synced = "lies directly in a folder directly in a user's OneDrive";
    const std::string kept[][2] = {
        {"Other User\\Downloads\\pkg", "lies directly in a user's Downloads"},
        {"Other User\\Desktop\\pkg", "lies directly in a user's Desktop"},
        {"Other User\\OneDrive\\pkg", "lies directly in a user's OneDrive"},
        {"Other User\\onedrive - Tarnwick\\pkg", "lies directly in a user's OneDrive"},
        {"Other User\\OneDrive\\Desktop\\pkg", synced},
        {"Other User\\OneDrive\\Documents\\pkg", synced},
        {"Other User\\OneDrive\\Dokumente\\pkg", synced},
        {"Other User\\onedrive - Tarnwick\\Pictures\\pkg", synced},
        {u8"Other User\\onedrive - Tarnwick\\\u753b\u50cf\\pkg", synced},
        {"Public\\Documents\\pkg", "lies directly in the shared Documents"},
        {"Local\\Programs\\pkg", "lies directly in LOCALAPPDATA\\Programs"},
        {"Sync\\pkg", "lies directly in OneDrive"},
        {"Sync\\Bilder\\pkg", "lies directly in a folder directly in OneDrive"},
    };
    for (const auto& folder : kept) {
        MakeFolders(base + folder[0]);
    }
    MakeFolders(other + "\\Downloads\\pkg\\stage");
    MakeFolders(other + "\\OneDrive\\Bilder\\pkg\\stage");
    RegisterOtherUser(other, "");
    SetEnvironment("PUBLIC", base + "Public");
    SetEnvironment("LOCALAPPDATA", base + "Local");
    SetEnvironment("OneDrive", base + "Sync");
    for (const auto& folder : kept) {
        EXPECT_TRUE(Kept(base + folder[0], folder[1])) << folder[0];
    }
    EXPECT_FALSE(Protected(other + "\\Downloads\\pkg\\stage"));
    EXPECT_FALSE(Protected(other + "\\OneDrive\\Bilder\\pkg\\stage"));
}

TEST_F(Guard, FoldersOfTheSystemAreKept) {
    wchar_t windowsPath[MAX_PATH];
    GetWindowsDirectoryW(windowsPath, MAX_PATH);
    wchar_t systemPath[MAX_PATH];
    GetSystemDirectoryW(systemPath, MAX_PATH);
    std::string windows = Utf8(windowsPath);
    std::string system = Utf8(systemPath);
    EXPECT_TRUE(Kept(windows, "is or holds the Windows directory"));
    EXPECT_TRUE(Kept(Slashed(Lower(windows)) + "/", "is or holds the Windows directory"));
    EXPECT_TRUE(Kept(std::string(windows) + "\\Fonts", "lies directly in the Windows directory"));
    EXPECT_TRUE(Kept(system, "lies directly in the Windows directory"));
    EXPECT_TRUE(Kept(std::string(system) + "\\wbem", "lies directly in the system directory"));
    // The real system directory of a 64-bit system, as this 32-bit program reaches it.
    EXPECT_TRUE(
        Kept(windows + "\\Sysnative\\wbem", "lies directly in the native system directory"));
    EXPECT_TRUE(Protected("C:\\"));
    // The environment names both program files folders of a 64-bit system, the registry each
    // in its own view only.
    for (const char* variable : {"ProgramFiles", "ProgramW6432"}) {
        std::string programFiles = Environment(variable);
        if (programFiles.empty()) {
            continue;
        }
        EXPECT_TRUE(Kept(programFiles, "is or holds ProgramFilesDir")) << programFiles;
        EXPECT_TRUE(Protected(programFiles + "\\Common Files")) << programFiles;
        EXPECT_TRUE(Kept(programFiles + "\\Windows NT", "lies directly in ProgramFilesDir"))
            << programFiles;
    }
}

// Only ARM64 systems name these; the test writes them in the prefix's registry.
TEST_F(Guard, ArmProgramFilesFoldersAreKept) {
    const wchar_t* key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    for (const char* value : {"ProgramFilesDir (Arm)", "CommonFilesDir (Arm)"}) {
        std::wstring folder = Wide(base + value);
        MakeFolders(base + value + "\\Maker");
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, Wide(value).c_str(), REG_SZ,
                                  folder.c_str(),
                                  static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        EXPECT_TRUE(Kept(base + value + "\\Maker", "lies directly in " + std::string(value)));
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, Wide(value).c_str());
    }
}

// Folders directly in a drive's root are where people keep their things; a tree one level below
// is staged. A deeper path that reaches such a folder through a link is seen by its final path:
// make-links.sh has prepared S:\links\guard\drive, a link to S:\.
TEST_F(Guard, FolderDirectlyInADrivesRootIsKeptAndOneBelowGoes) {
    const std::string top = "S:\\guard-top";
    MakeFolders(top + "\\setup");
    WriteFile(top + "\\keep.txt");
    EXPECT_TRUE(Kept(top, "lies directly in a drive's or share's root"));
    EXPECT_TRUE(Kept(top + "\\", "lies directly in a drive's or share's root"));
    EXPECT_FALSE(Protected(top + "\\setup"));
    WriteFile(top + "\\setup\\x.exe");
    ClearTraceLines();
    UseCommandLine("c.tmp 0 S:\\links\\guard\\drive\\guard-top\\setup\\x.exe");
    RemoveStagingFolders();
    EXPECT_TRUE(Traced("Staging folder kept: it lies directly in a drive's or share's root\r\n"));
    EXPECT_FALSE(Exists(top + "\\setup\\x.exe"));
    EXPECT_TRUE(Exists(top + "\\keep.txt"));
    RemoveAll(top);
}

// A share, like a substituted drive, may stand for a folder deep in another volume: the root's
// final path lies deeper than the executable's path shows, and only that path tells that the root
// lies directly in the share's root. make-links.sh has made \\selfclean\share\ the sandbox's
// S:\links\share\. One level deeper, the tree is staged and goes.
TEST_F(Guard, FolderDirectlyInTheRootOfAShareForADeeperFolderIsKept) {
    const std::string share = "\\\\selfclean\\share\\top\\";
    const std::string top = "S:\\links\\share\\top\\";
    RemoveAll(top);
    MakeFolders(top + "setup");
    MakeFolders(top + "stage\\setup");
    for (const char* file : {"keep.txt", "setup\\x.exe", "stage\\f.txt", "stage\\setup\\x.exe"}) {
        WriteFile(top + file);
    }
    UseCommandLine("c.tmp 0 " + share + "setup\\x.exe");
    RemoveStagingFolders();
    EXPECT_TRUE(Traced("Staging folder kept: it lies directly in a drive's or share's root\r\n"));
    EXPECT_TRUE(Exists(top + "keep.txt"));
    ClearTraceLines();
    UseCommandLine("c.tmp 0 " + share + "stage\\setup\\x.exe");
    RemoveStagingFolders();
    EXPECT_FALSE(Exists(top + "stage"));
    EXPECT_TRUE(Exists(top + "keep.txt"));
    EXPECT_TRUE(Traced(share + "stage\\setup\\..\\\r\n"));
    RemoveAll(top);
}

// A volume mounted in a folder has its root there: the volume's root and its top folders are kept
// as a drive's are. The system's answer is played for base\Mnt\Data\.
static std::wstring gMountedVolume;

static BOOL WINAPI MountedVolumePath(LPCWSTR path, LPWSTR root, DWORD capacity) {
    if (_wcsnicmp(path, gMountedVolume.c_str(), gMountedVolume.size() - 1) != 0) {
        return GetVolumePathNameW(path, root, capacity);
    }
    wcscpy(root, gMountedVolume.c_str());
    return TRUE;
}

TEST_F(Guard, MountedVolumesRootAndFoldersDirectlyInItAreKept) {
    gMountedVolume = Wide(base + "Mnt\\Data\\");
    MakeFolders(base + "Mnt\\Data\\Photos\\stage");
    MakeFolders(base + "Mnt\\Photos");
    gVolumePathStandIn = MountedVolumePath;
    const std::string rule = "lies directly in a drive's or share's root";
    EXPECT_TRUE(Kept(base + "Mnt\\Data", rule));
    EXPECT_TRUE(Kept(base + "Mnt\\Data\\Photos", rule));
    EXPECT_TRUE(Kept(base + "Mnt\\Data\\Photos\\", rule));
    EXPECT_FALSE(Protected(base + "Mnt\\Data\\Photos\\stage"));
    EXPECT_FALSE(Protected(base + "Mnt\\Photos"));
}

// make-links.sh has prepared S:\links\guard\ with "staged", a link to target\, and "alias", a
// link to home\.
TEST_F(Guard, FolderLinksAreSeenThrough) {
    EXPECT_TRUE(Kept("S:\\links\\guard\\staged", "is a folder link"));
    EXPECT_TRUE(Kept("S:\\links\\guard\\alias\\", "is a folder link"));
    SetEnvironment("USERPROFILE", "S:\\links\\guard\\home");
    EXPECT_TRUE(Kept("S:\\links\\guard\\alias\\Downloads", "lies directly in USERPROFILE"));
    EXPECT_FALSE(Protected("S:\\links\\guard\\target"));
}

TEST_F(Guard, LinkAsStagingRootKeepsItsTarget) {
    WriteFile("S:\\links\\guard\\staged\\setup\\x.exe");
    UseCommandLine("c.tmp 0 S:\\links\\guard\\staged\\setup\\x.exe");
    RemoveStagingFolders();
    EXPECT_TRUE(Traced("Staging folder kept: it is a folder link\r\n"));
    EXPECT_FALSE(Exists("S:\\links\\guard\\target\\setup\\x.exe"));
    EXPECT_TRUE(Exists("S:\\links\\guard\\target\\setup\\sample.txt"));
    EXPECT_TRUE(Exists("S:\\links\\guard\\target\\keep.txt"));
    EXPECT_TRUE(Exists("S:\\links\\guard\\staged"));
}

// A profile named in another script is recognised however the case of its name is written.
TEST_F(Guard, ProfileNamedInAnotherScript) {
    std::string named =
        base +
        u8"\u041f\u043e\u043b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u044c \u5c71\u7530";
    MakeFolders(named + "\\Downloads");
    SetEnvironment("USERPROFILE", named);
    std::string lower =
        base +
        u8"\u043f\u041e\u041b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u044c \u5c71\u7530";
    EXPECT_TRUE(Kept(named, "is or holds USERPROFILE"));
    EXPECT_TRUE(Kept(lower + "\\", "is or holds USERPROFILE"));
    EXPECT_TRUE(Kept(named + "\\Downloads", "lies directly in USERPROFILE"));
    EXPECT_TRUE(Kept(lower + "\\downloads", "lies directly in USERPROFILE"));
    std::string below = named + "\\Downloads\\pkg\\" + u8"\u30bb\u30c3\u30c8";
    std::string beside =
        base + u8"\u041f\u043e\u043b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u0438";
    MakeFolders(below);
    MakeFolders(beside);
    EXPECT_FALSE(Protected(below));
    EXPECT_FALSE(Protected(beside));
}

// S:\staging\<test>\ holds canary.txt beside the staged tree.
class StagingRemoval : public ::testing::Test {
  protected:
    void SetUp() override {
        base =
            FreshFolder("staging", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        WriteFile(base + "canary.txt");
        ClearTraceLines();
    }
    // Stages an executable in stage\setup\ and removes the staged tree as the Clone does.
    void Remove(const std::string& stage, const std::string& setup, char separator = '\\') {
        MakeFolders(stage + setup);
        WriteFile(stage + setup + "\\x.exe");
        std::string executable = stage + setup + "\\x.exe";
        for (char& c : executable) {
            c = c == '\\' ? separator : c;
        }
        UseCommandLine("c.tmp 0 \"" + executable + "\"");
        RemoveStagingFolders();
        EXPECT_TRUE(Exists(base + "canary.txt"));
    }
    std::string base;
};

// Between the rules and the walk, the folder above the staging root is swapped for another that
// holds a folder of the same name, as a user may swap a folder of theirs above an elevated
// installer's staging root for a junction: nothing of the other folder goes. (The walk takes the
// folder it held and checked; Windows removes it, Wine keeps it too, since it deletes an entry by
// the path it had when it was opened, and only while that path still leads to it.)
static std::string gSwapBase;
static bool gSwapped;

static void SwapFolderAboveTheRoot() {
    gSwapped =
        MoveFileW(Literal(gSwapBase + "above").c_str(), Literal(gSwapBase + "away").c_str()) &&
        MoveFileW(Literal(gSwapBase + "other").c_str(), Literal(gSwapBase + "above").c_str());
}

TEST_F(StagingRemoval, FolderSwappedAboveTheRootAfterTheRulesLosesNothing) {
    gSwapBase = base;
    gSwapped = false;
    const char* files[] = {"stage\\setup\\x.exe", "stage\\data\\f.txt", "stage\\keep.txt"};
    MakeFolders(base + "other\\stage\\setup");
    MakeFolders(base + "other\\stage\\data");
    MakeFolders(base + "above\\stage\\data");
    for (const char* file : files) {
        WriteFile(base + "other\\" + file);
        WriteFile(base + "above\\" + file);
    }
    CallAtTrace(base + "above\\stage\\setup\\..\\", SwapFolderAboveTheRoot);
    Remove(base + "above\\stage\\", "setup");
    ASSERT_TRUE(gSwapped);
    for (const char* file : files) {
        EXPECT_TRUE(Exists(base + "above\\" + file)) << file;
    }
}

// Names in other scripts, at any depth: deeper than the short path limit many times over.
TEST_F(StagingRemoval, NamesInAnyScriptAtAnyDepth) {
    std::string stage = base + u8"\u0421\u0442\u0430\u0434\u0438\u044f \u65e5\u672c\u8a9e\\";
    std::string deep = stage + "data";
    std::string greek = u8"\u0394\u03b5\u03b4\u03bf\u03bc\u03ad\u03bd\u03b1";
    for (int level = 0; level < 24; ++level) {
        deep += "\\" + greek + std::to_string(level) + std::string(40, 'd');
    }
    ASSERT_GT(Wide(deep).size(), 1200u);
    MakeFolders(deep);
    WriteFile(deep + u8"\\\u0420\u0443\u043a\u043e\u0432\u043e\u0434\u0441\u0442\u0432\u043e.txt");
    WriteFile(deep + "\\readonly.txt");
    SetReadOnly(deep + "\\readonly.txt");
    SetReadOnly(deep);
    WriteFile(stage + u8"na\u00efve caf\u00e9.txt");
    ASSERT_TRUE(Exists(deep + "\\readonly.txt"));
    std::string setup = u8"\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7";
    Remove(stage, setup);
    EXPECT_FALSE(Exists(stage));
    EXPECT_TRUE(Traced(stage + setup + "\\..\\\r\n"));
    EXPECT_FALSE(Traced("Cannot delete the original EXE\r\n"));
}

// The root is traced as drive, directory and "..\", and resolved once to a full path that the
// literal form of the walk can take: with forward slashes in the path too.
TEST_F(StagingRemoval, RootIsTracedAsGivenAndRemovedResolved) {
    std::string stage = base + "stage\\";
    MakeFolders(stage + "data\\more");
    WriteFile(stage + "data\\more\\f.txt");
    Remove(stage, "setup", '/');
    EXPECT_FALSE(Exists(stage));
    std::string traced = stage + "setup\\..\\\r\n";
    for (char& c : traced) {
        c = c == '\\' ? '/' : c;
    }
    traced.replace(traced.size() - 3, 1, "\\");
    EXPECT_TRUE(Traced(traced)) << traced;
}

class Walk : public ::testing::Test {
  protected:
    void SetUp() override {
        base = FreshFolder("walk", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ClearTraceLines();
    }
    std::string base;
};

TEST_F(Walk, RemoveStagingFoldersTakesTheWholeStagedTree) {
    std::string stage = base + "stage\\";
    MakeFolders(stage + "setup");
    MakeFolders(stage + "data\\more");
    WriteFile(stage + "setup\\x.exe");
    SetReadOnly(stage + "setup\\x.exe");
    WriteFile(stage + "data\\more\\f.txt");
    WriteFile(base + "canary.txt");
    MakeFolders(base + "beside");
    UseCommandLine("c.tmp 0 \"" + stage + "setup\\x.exe\"");
    RemoveStagingFolders();
    EXPECT_FALSE(Exists(stage));
    EXPECT_TRUE(Exists(base + "canary.txt"));
    EXPECT_TRUE(Exists(base + "beside"));
    EXPECT_TRUE(Traced("Cannot delete the original EXE\r\n"));
    EXPECT_TRUE(Traced(stage + "setup\\..\\\r\n"));
}

static std::vector<std::string> gEntered;

static void RecordEntered(const wchar_t* folder) {
    gEntered.push_back(Utf8(folder));
}

// make-links.sh has prepared S:\links\moved-temp\moved, a link to elsewhere\ beside it, as a
// temporary folder moved to another drive. The walk takes the tree by its path without the link,
// and nothing outside the tree changes.
TEST_F(Walk, StagingRootReachedThroughALinkAboveItGoesWhole) {
    const std::string elsewhere = "S:\\links\\moved-temp\\elsewhere\\";
    RemoveAll(elsewhere + "pkg");
    MakeFolders(elsewhere + "pkg\\setup");
    MakeFolders(elsewhere + "pkg\\data\\more");
    WriteFile(elsewhere + "pkg\\setup\\x.exe");
    WriteFile(elsewhere + "pkg\\data\\more\\f.txt");
    gEntered.clear();
    gBeforeEnteringFolder = RecordEntered;
    UseCommandLine("c.tmp 0 S:\\links\\moved-temp\\moved\\pkg\\setup\\x.exe");
    RemoveStagingFolders();
    gBeforeEnteringFolder = NULL;
    EXPECT_FALSE(Exists(elsewhere + "pkg"));
    EXPECT_EQ(ReadFile(elsewhere + "sibling.txt"), "keep\n");
    EXPECT_NE(GetFileAttributesW(L"S:\\links\\moved-temp\\moved") & FILE_ATTRIBUTE_REPARSE_POINT,
              0u);
    EXPECT_TRUE(Traced("S:\\links\\moved-temp\\moved\\pkg\\setup\\..\\\r\n"));
    ASSERT_FALSE(gEntered.empty());
    for (const std::string& folder : gEntered) {
        EXPECT_EQ(folder.rfind("\\\\?\\S:\\links\\moved-temp\\elsewhere\\pkg\\", 0), 0u) << folder;
    }
}

// For this 32-bit program on a 64-bit system the system directory's path opens the 32-bit one:
// a root reached as Sysnative is not taken by its final path there, which names its namesake.
TEST_F(Walk, RootInTheNativeSystemDirectoryIsNotTakenForItsNamesake) {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (!wow64) {
        GTEST_SKIP() << "no 32-bit system directory of its own";
    }
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::string native = Utf8(windows) + "\\Sysnative\\selfclean-walk\\";
    std::string namesake = Utf8(windows) + "\\SysWOW64\\selfclean-walk\\";
    MakeFolders(native + "pkg\\setup");
    WriteFile(native + "pkg\\setup\\x.exe");
    MakeFolders(namesake + "pkg\\setup");
    WriteFile(namesake + "pkg\\keep.txt");
    UseCommandLine("c.tmp 0 \"" + native + "pkg\\setup\\x.exe\"");
    RemoveStagingFolders();
    EXPECT_FALSE(Exists(native + "pkg"));
    EXPECT_TRUE(Exists(namesake + "pkg\\keep.txt"));
    RemoveAll(native);
    RemoveAll(namesake);
}

TEST_F(Walk, RefusedStagingRootKeepsTheTree) {
    MakeFolders("S:\\walkroot");
    WriteFile("S:\\walkroot\\x.exe");
    WriteFile("S:\\walkroot\\keep.txt");
    UseCommandLine("c.tmp 0 S:\\walkroot\\x.exe");
    RemoveStagingFolders();
    EXPECT_FALSE(Exists("S:\\walkroot\\x.exe"));
    EXPECT_TRUE(Exists("S:\\walkroot\\keep.txt"));
    EXPECT_TRUE(Exists("S:\\bin"));
    RemoveAll("S:\\walkroot");
}

TEST(HostIni, IsDeletedFromTheWindowsDirectory) {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::string hostIni = Utf8(windows) + "\\HOST.INI";
    WriteFile(hostIni);
    DeleteHostIni();
    EXPECT_EQ(Exists(hostIni), !SELFCLEAN_REMOVE_HOST_INI) << "as the build is configured";
    DeleteHostIni();
    DeleteFileA(hostIni.c_str());
}

static std::string CurrentFolder() {
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(folder), folder);
    return folder;
}

static std::string SystemDirectory() {
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, sizeof(folder));
    return folder;
}

// An installer's current folder, which the Clone inherits, usually lies in what it unpacked.
class InheritedFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = CurrentFolder();
        base = FreshFolder("inherited",
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stage = base + "stage\\";
        MakeFolders(stage + "setup");
        MakeFolders(stage + "payload\\docs");
        WriteFile(stage + "setup\\x.exe");
        WriteFile(stage + "payload\\docs\\readme.txt");
        ClearTraceLines();
    }
    void TearDown() override {
        SetCurrentDirectoryA(saved.c_str());
    }
    std::string saved, base, stage;
};

TEST_F(InheritedFolder, InsideTheStagedTreeIsLeftBeforeTheRemoval) {
    ASSERT_TRUE(SetCurrentDirectoryA((stage + "payload\\docs").c_str()));
    UseCommandLine("c.tmp 0 \"" + stage + "setup\\x.exe\"");
    RemoveStagingFolders();
    EXPECT_FALSE(Exists(stage));
    EXPECT_EQ(CurrentFolder(), SystemDirectory());
}

// kvoptemp lies in the drive's current folder as inherited, not in the system directory.
TEST_F(InheritedFolder, KvoptempIsTakenFromTheInheritedFolder) {
    MakeFolders(base + "work\\kvoptemp");
    ASSERT_TRUE(SetCurrentDirectoryA((base + "work").c_str()));
    UseCommandLine("c.tmp 0 \"" + stage + "setup\\x.exe\"");
    RemoveStagingFolders();
    EXPECT_FALSE(Exists(stage));
    EXPECT_EQ(Exists(base + "work\\kvoptemp"), !SELFCLEAN_REMOVE_KVOPTEMP);
    EXPECT_TRUE(Exists(base + "work"));
}
