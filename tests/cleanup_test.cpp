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
