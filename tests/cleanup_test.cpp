#include <gtest/gtest.h>

#include <ctype.h>
#include <windows.h>

#include "cleanup/cleanup.h"
#include "support/recording_trace.h"
#include "support/sandbox.h"

static std::string StagingRoot(const std::string& executable) {
    char root[MAX_PATH] = "unchanged";
    return StagingRootOf(executable.c_str(), root) ? root : "refused";
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

TEST(StagingRoot, RefusesAFolderPathThePathSplittingWouldCut) {
    // On a share the root still fits its buffer when the folder path is one byte too long.
    std::string share = "\\\\s\\h\\" + std::string(120, 'a') + "\\";
    std::string fits = share + std::string(127, 'b') + "\\x.exe";
    EXPECT_EQ(StagingRoot(fits), fits.substr(0, fits.size() - 5) + "..\\");
    std::string cut = share + std::string(128, 'b') + "\\x.exe";
    EXPECT_EQ(StagingRoot(cut), "refused");
}

static std::string Environment(const char* name) {
    char value[MAX_PATH] = "";
    GetEnvironmentVariableA(name, value, sizeof(value));
    return value;
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
        savedProfile = Environment("USERPROFILE");
        savedTmp = Environment("TMP");
        savedTemp = Environment("TEMP");
        SetEnvironmentVariableA("USERPROFILE", profile.c_str());
        SetEnvironmentVariableA("TMP", temp.c_str());
        SetEnvironmentVariableA("TEMP", temp.c_str());
        ClearTraceLines();
    }
    void TearDown() override {
        SetEnvironmentVariableA("USERPROFILE", savedProfile.c_str());
        SetEnvironmentVariableA("TMP", savedTmp.c_str());
        SetEnvironmentVariableA("TEMP", savedTemp.c_str());
    }
    // Whether folder is kept, and for the rule traced.
    bool Kept(const std::string& folder, const std::string& rule) {
        ClearTraceLines();
        bool kept = IsProtectedFolder(folder.c_str());
        return kept && Traced("Staging folder kept: it " + rule + "\r\n");
    }
    std::string base, profile, temp;
    std::string savedProfile, savedTmp, savedTemp;
};

TEST_F(Guard, ProfileIsKeptHoweverItIsWritten) {
    char shortName[MAX_PATH] = "";
    ASSERT_NE(GetShortPathNameA(profile.c_str(), shortName, sizeof(shortName)), 0u);
    ASSERT_NE(std::string(shortName), profile);
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
    EXPECT_TRUE(IsProtectedFolder(base.c_str()));
    EXPECT_TRUE(IsProtectedFolder("S:\\guard\\"));
    EXPECT_TRUE(IsProtectedFolder("S:\\"));
}

TEST_F(Guard, FoldersDirectlyInTheProfileAreKept) {
    EXPECT_TRUE(Kept(profile + "\\Downloads", "lies directly in USERPROFILE"));
    EXPECT_TRUE(Kept(Slashed(profile) + "/downloads/", "lies directly in USERPROFILE"));
    EXPECT_TRUE(Kept(profile + "\\Desktop", "lies directly in USERPROFILE"));
}

TEST_F(Guard, StagedTreesBesideAndBelowAreRemovable) {
    MakeFolders(base + "User Profiles");
    std::string removable[] = {
        base + "stage",
        base + "User Profiles",
        base + "tmp2",
        temp + "\\stage",
        temp + "\\stage\\",
        profile + "\\Downloads\\unpacked",
        "C:\\windows\\temp\\stage",
    };
    for (const std::string& folder : removable) {
        EXPECT_FALSE(IsProtectedFolder(folder.c_str())) << folder;
    }
    EXPECT_TRUE(TraceLines().empty());
}

TEST_F(Guard, FoldersOfTheSystemAreKept) {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    EXPECT_TRUE(Kept(windows, "is or holds the Windows directory"));
    EXPECT_TRUE(Kept(Slashed(Lower(windows)) + "/", "is or holds the Windows directory"));
    EXPECT_TRUE(Kept(std::string(windows) + "\\Fonts", "lies directly in the Windows directory"));
    EXPECT_TRUE(Kept(system, "lies directly in the Windows directory"));
    EXPECT_TRUE(Kept(std::string(system) + "\\drivers", "lies directly in the system directory"));
    EXPECT_TRUE(IsProtectedFolder("C:\\"));
    // The environment names both program files folders of a 64-bit system, the registry each
    // in its own view only.
    for (const char* variable : {"ProgramFiles", "ProgramW6432"}) {
        std::string programFiles = Environment(variable);
        if (programFiles.empty()) {
            continue;
        }
        EXPECT_TRUE(Kept(programFiles, "is or holds ProgramFilesDir")) << programFiles;
        EXPECT_TRUE(IsProtectedFolder((programFiles + "\\Common Files").c_str())) << programFiles;
        EXPECT_TRUE(Kept(programFiles + "\\Some Maker", "lies directly in ProgramFilesDir"))
            << programFiles;
    }
}

// make-links.sh has prepared S:\links\guard\ with "staged", a link to target\, and "alias", a
// link to home\.
TEST_F(Guard, FolderLinksAreSeenThrough) {
    EXPECT_TRUE(Kept("S:\\links\\guard\\staged", "is a folder link"));
    EXPECT_TRUE(Kept("S:\\links\\guard\\alias\\", "is a folder link"));
    SetEnvironmentVariableA("USERPROFILE", "S:\\links\\guard\\home");
    EXPECT_TRUE(Kept("S:\\links\\guard\\alias\\Downloads", "lies directly in USERPROFILE"));
    EXPECT_FALSE(IsProtectedFolder("S:\\links\\guard\\target"));
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

class Walk : public ::testing::Test {
  protected:
    void SetUp() override {
        base = FreshFolder("walk", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ClearTraceLines();
    }
    std::string base;
};

TEST_F(Walk, RemovesDeepTreesWithReadOnlyFilesAndFolders) {
    std::string tree = base + "tree\\";
    MakeFolders(tree + "a\\b\\c\\d\\e");
    MakeFolders(tree + "empty");
    WriteFile(tree + "top.txt");
    WriteFile(tree + "a\\b\\c\\d\\e\\deep.txt");
    WriteFile(tree + "a\\ro.txt");
    SetReadOnly(tree + "a\\ro.txt");
    SetReadOnly(tree + "a\\b");
    SetReadOnly(tree + "a\\b\\c\\d\\e\\deep.txt");
    WriteFile(base + "beside.txt");
    DeleteTree(tree.c_str());
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(Exists(base + "beside.txt"));
    EXPECT_TRUE(TraceLines().empty());
}

TEST_F(Walk, ReadOnlyStagingFolderIsClearedThroughItsDotEntry) {
    std::string tree = base + "tree\\";
    MakeFolders(tree + "sub");
    SetReadOnly(tree);
    DeleteTree(tree.c_str());
    EXPECT_FALSE(Exists(tree));
}

TEST_F(Walk, FileHeldOpenStaysAndEachEnclosingFolderFailureIsTraced) {
    std::string tree = base + "tree\\";
    MakeFolders(tree + "held\\inner");
    MakeFolders(tree + "free");
    WriteFile(tree + "free\\f.txt");
    WriteFile(tree + "held\\inner\\open.txt");
    WriteFile(tree + "held\\other.txt");
    HANDLE open = CreateFileA((tree + "held\\inner\\open.txt").c_str(), GENERIC_READ, 0, NULL,
                              OPEN_EXISTING, 0, NULL);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    DeleteTree(tree.c_str());
    CloseHandle(open);
    EXPECT_TRUE(Exists(tree + "held\\inner\\open.txt"));
    EXPECT_FALSE(Exists(tree + "held\\other.txt"));
    EXPECT_FALSE(Exists(tree + "free"));
    // inner, held and the tree itself could not be removed.
    EXPECT_EQ(TraceLines().size(), 3u);
    for (const std::string& line : TraceLines()) {
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    }
}

TEST_F(Walk, MissingFolderIsTraced) {
    DeleteTree((base + "missing\\").c_str());
    EXPECT_EQ(TraceLines().size(), 1u);
}

TEST_F(Walk, EntryPathTooLongIsSkippedNotCut) {
    std::string tree = base + "tree\\";
    std::string folder = tree + std::string(240 - tree.size(), 'f') + "\\";
    MakeFolders(folder);
    // Only a literal path in the wide-character calls reaches beyond the path length limit.
    std::wstring longFile =
        L"\\\\?\\" + std::wstring(folder.begin(), folder.end()) + std::wstring(30, L'n');
    CloseHandle(CreateFileW(longFile.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL));
    ASSERT_NE(GetFileAttributesW(longFile.c_str()), INVALID_FILE_ATTRIBUTES);
    WriteFile(folder + "short.txt");
    DeleteTree(tree.c_str());
    EXPECT_TRUE(Traced("Entry skipped: its path is too long\r\n"));
    EXPECT_NE(GetFileAttributesW(longFile.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(Exists(folder + "short.txt"));
    DeleteFileW(longFile.c_str());
}

// make-links.sh has prepared S:\links\stage\setup\ with a link "outside" to S:\links\target\,
// which holds keep.txt, and a read-only file.
TEST_F(Walk, FolderLinkIsRemovedButNeverEntered) {
    std::string target = "S:\\links\\target\\";
    ASSERT_TRUE(Exists(target + "keep.txt"));
    DWORD link = GetFileAttributesA("S:\\links\\stage\\setup\\outside");
    ASSERT_NE(link & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    DeleteTree("S:\\links\\stage\\");
    EXPECT_TRUE(Exists(target + "keep.txt"));
    EXPECT_TRUE(Exists(target + "readonly.txt"));
    EXPECT_NE(GetFileAttributesA((target + "readonly.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(Exists("S:\\links\\stage\\setup\\file.txt"));
}

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
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    std::string hostIni = std::string(windows) + "\\HOST.INI";
    WriteFile(hostIni);
    DeleteHostIni();
    EXPECT_FALSE(Exists(hostIni));
    DeleteHostIni();
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
    EXPECT_FALSE(Exists(base + "work\\kvoptemp"));
    EXPECT_TRUE(Exists(base + "work"));
}
