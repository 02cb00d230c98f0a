#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <windows.h>
#include <winternl.h>

#include "deletion/deletion.h"
#include "walk/walk.h"
#include "support/plays.h"
#include "support/recording_trace.h"
#include "support/sandbox.h"

// Literal paths, for names in any script and paths past the short limit.
static std::wstring Long(const std::wstring& path) {
    return L"\\\\?\\" + path;
}

// A folder's attributes are read and written by its name without the trailing backslash.
static std::wstring Named(const std::wstring& path) {
    return Long(path.back() == L'\\' ? path.substr(0, path.size() - 1) : path);
}

static DWORD Attributes(const std::wstring& path) {
    return GetFileAttributesW(Named(path).c_str());
}

static bool Exists(const std::wstring& path) {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

static void MakeFolder(const std::wstring& path) {
    CreateDirectoryW(Long(path).c_str(), NULL);
}

static void WriteFile(const std::wstring& path) {
    CloseHandle(CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
}

static void SetReadOnly(const std::wstring& path) {
    SetFileAttributesW(Named(path).c_str(), Attributes(path) | FILE_ATTRIBUTE_READONLY);
}

// Holds the folder literal names and removes it as the folder checked, as the Clone does.
static void DeleteTreeAt(const std::wstring& literal) {
    HANDLE held = HoldTree(literal.c_str());
    FileIdentity checked = {0, 0, 0};
    if (held != INVALID_HANDLE_VALUE) {
        ASSERT_TRUE(IdentityOf(held, &checked));
    }
    DeleteTree(literal.c_str(), checked);
}

static void DeleteTree(const std::wstring& folder) {
    DeleteTreeAt(Long(folder));
}

// The names of folder's entries in the order the file system lists them, "." and ".." left out.
static std::vector<std::wstring> Listing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(Long(folder + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                names.push_back(name);
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return names;
}

static void ResetStandIns();

class Walk : public ::testing::Test {
  protected:
    void SetUp() override {
        base = FreshFolder("walk", ::testing::UnitTest::GetInstance()->current_test_info()->name());
        wideBase = Wide(base);
        tree = wideBase + L"tree\\";
        MakeFolder(tree);
        ClearTraceLines();
    }
    void TearDown() override {
        ResetStandIns();
        gBeforeEnteringFolder = NULL;
        gBeforeReopeningFolder = NULL;
        gSetInformationStandIn = NULL;
        gQueryInformationStandIn = NULL;
    }
    std::string base;
    std::wstring wideBase, tree;
};

// Wine ignores a read-only bit set on a folder; FolderAboveTheRootKeepsItsReadOnlyBit has real
// ones.
TEST_F(Walk, RemovesTreesWithReadOnlyFilesAndFolders) {
    MakeFolders(base + "tree\\a\\b\\c\\d\\e");
    MakeFolders(base + "tree\\empty");
    WriteFile(tree + L"top.txt");
    WriteFile(tree + L"a\\b\\c\\d\\e\\deep.txt");
    WriteFile(tree + L"a\\ro.txt");
    SetReadOnly(tree + L"a\\ro.txt");
    SetReadOnly(tree + L"a\\b");
    SetReadOnly(tree + L"a\\b\\c\\d\\e\\deep.txt");
    SetReadOnly(tree);
    WriteFile(wideBase + L"beside.txt");
    DeleteTree(tree);
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(Exists(wideBase + L"beside.txt"));
    EXPECT_TRUE(TraceLines().empty());
}

TEST_F(Walk, RemovesNamesInAnyScript) {
    std::wstring japanese = tree + L"日本語\\";
    std::wstring greek = japanese + L"Ελληνικά\\";
    MakeFolder(japanese);
    MakeFolder(greek);
    WriteFile(tree + L"Руководство.txt");
    SetReadOnly(tree + L"Руководство.txt");
    WriteFile(greek + L"Ελληνικά.txt");
    WriteFile(japanese + L"説明書.pdf");
    SetReadOnly(greek);
    WriteFile(wideBase + L"Руководство.txt");
    DeleteTree(tree);
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(Exists(wideBase + L"Руководство.txt"));
    EXPECT_TRUE(TraceLines().empty());
}

TEST_F(Walk, RemovesPathsOfAnyDepth) {
    // Past the old limit of 260 characters, in names of other scripts.
    std::wstring folder = tree;
    for (int level = 0; level < 30; ++level) {
        folder += L"Ελληνικά-日本語\\";
        MakeFolder(folder);
    }
    WriteFile(folder + L"Руководство.txt");
    SetReadOnly(folder + L"Руководство.txt");
    ASSERT_GT(folder.size(), 300u);
    ASSERT_TRUE(Exists(folder + L"Руководство.txt"));
    // Some 600 levels of one letter. Wine's host paths end at 4,096 bytes, and each of its calls
    // converts the whole path, so a tree near that depth takes minutes to make and remove here.
    std::wstring deep = tree + L"d\\";
    MakeFolder(deep);
    while (deep.size() < 1200) {
        deep += L"d\\";
        MakeFolder(deep);
    }
    WriteFile(deep + L"bottom.txt");
    ASSERT_TRUE(Exists(deep + L"bottom.txt"));
    DeleteTree(tree);
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(TraceLines().empty());
}

TEST_F(Walk, RemovesWideTreesWhosePendingFoldersFillTheListingBuffer) {
    // Each level holds 40 folders of long names, and goes on below the one listed last, which the
    // walk enters first: the other 40 wait while everything below is removed.
    std::wstring folder = tree;
    std::wstring longName(100, L'w');
    for (int level = 0; level < 20; ++level) {
        for (int sibling = 0; sibling < 41; ++sibling) {
            MakeFolder(folder + longName + std::to_wstring(100 + sibling));
        }
        WriteFile(folder + L"file.txt");
        std::vector<std::wstring> names = Listing(folder);
        folder += names.back() == L"file.txt" ? names[names.size() - 2] : names.back();
        folder += L"\\";
    }
    WriteFile(folder + L"bottom.txt");
    DeleteTree(tree);
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(TraceLines().empty());
}

// make-links.sh has prepared S:\links\above\, read-only, holding tree\, read-only too, with a
// folder and a file: Wine takes a folder's read-only bit from its Unix permissions only.
TEST_F(Walk, FolderAboveTheRootKeepsItsReadOnlyBit) {
    std::wstring above = L"S:\\links\\above\\";
    ASSERT_NE(Attributes(above) & FILE_ATTRIBUTE_READONLY, 0u);
    ASSERT_NE(Attributes(above + L"tree") & FILE_ATTRIBUTE_READONLY, 0u);
    ASSERT_TRUE(Exists(above + L"tree\\sub\\f.txt"));
    DeleteTree(above + L"tree\\");
    EXPECT_FALSE(Exists(above + L"tree"));
    EXPECT_NE(Attributes(above) & FILE_ATTRIBUTE_READONLY, 0u);
}

static HANDLE Hold(const std::wstring& path, DWORD sharing) {
    return CreateFileW(Long(path).c_str(), GENERIC_READ, sharing, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

static DWORD WINAPI ReleaseAfterASecond(void* handles) {
    Sleep(1000);
    for (HANDLE* handle = static_cast<HANDLE*>(handles); *handle != NULL; ++handle) {
        CloseHandle(*handle);
    }
    return 0;
}

// As scanners and indexers hold what was just written, released a second after the walk has
// begun: first files shared for deletion, which are deleted but stay listed until released (one
// in the root), then a file and a folder held without delete sharing.
TEST_F(Walk, EntriesHeldForAMomentGoAllTheSame) {
    const DWORD kDeleteSharing = FILE_SHARE_READ | FILE_SHARE_DELETE;
    for (int round = 0; round < 2; ++round) {
        MakeFolders(base + "tree\\a\\b");
        MakeFolders(base + "tree\\d");
        WriteFile(tree + L"a\\b\\f.txt");
        WriteFile(tree + L"d\\f.txt");
        WriteFile(tree + L"top.txt");
        SetReadOnly(tree + L"top.txt");
        HANDLE held[3] = {NULL, NULL, NULL};
        if (round == 0) {
            held[0] = Hold(tree + L"a\\b\\f.txt", kDeleteSharing);
            held[1] = Hold(tree + L"top.txt", kDeleteSharing);
        } else {
            held[0] = Hold(tree + L"top.txt", FILE_SHARE_READ);
            held[1] = Hold(tree + L"d", FILE_SHARE_READ | FILE_SHARE_WRITE);
        }
        ASSERT_NE(held[0], INVALID_HANDLE_VALUE);
        ASSERT_NE(held[1], INVALID_HANDLE_VALUE);
        HANDLE releaser = CreateThread(NULL, 0, ReleaseAfterASecond, held, 0, NULL);
        DeleteTree(tree);
        WaitForSingleObject(releaser, INFINITE);
        CloseHandle(releaser);
        EXPECT_FALSE(Exists(tree)) << round;
        EXPECT_TRUE(TraceLines().empty()) << round;
        MakeFolder(tree);
    }
}

const int kBasic = 4, kDisposition = 13, kAttributeTag = 35, kDispositionEx = 64;
const LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022);
// Answered by the stand-in as a system that deletes at once would.
const LONG kDeletesAtOnce = 0;
// Passed to the system: Wine 8 refuses the deletion at once, Wine 10 performs it.
const LONG kAsTheSystemAnswers = 1;
// Refused as Windows 7 and 8 refuse it.
const LONG kNotImplemented = static_cast<LONG>(0xC0000002);
// Deleted at once, but answered as if another process had deleted the entry first.
const LONG kDeletedByAnother = 2;
// Answered as done, as a system that ignores the read-only bit would, without deleting anything.
const LONG kDoneWithoutDeleting = 3;
// Deleted at once, but a read-only entry refused with "access denied", as a file system without
// the flag that ignores the bit may answer (Wine's classic deletion says "cannot delete").
const LONG kReadOnlyRefusedAsAccessDenied = 4;
const LONG kStatusSharingViolation = static_cast<LONG>(0xC0000043);

static SetInformationCall gSystemSetInformation;
static SetInformationCall gSystemQueryInformation;
static LONG gAtOnceAnswer;
static int gAtOnceCalls;
// Whether the system itself has answered a deletion at once with success.
static bool gSystemDeletedAtOnce;
static int gAttributeWrites;
static bool gRefuseSettingReadOnly;

static void UseStandIns(SetInformationCall set, SetInformationCall query) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    gSystemSetInformation = reinterpret_cast<SetInformationCall>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
    gSystemQueryInformation = reinterpret_cast<SetInformationCall>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")));
    gSetInformationStandIn = set;
    gQueryInformationStandIn = query;
    gAtOnceAnswer = kAsTheSystemAnswers;
    gAtOnceCalls = 0;
    gSystemDeletedAtOnce = false;
    gAttributeWrites = 0;
    gRefuseSettingReadOnly = false;
}

// The system's call, counting the deletions asked at once and the attributes written. The
// deletion at once is answered with gAtOnceAnswer, or taken by the classic means Wine has.
static LONG WINAPI CountingSetInformation(HANDLE file, void* io, void* information, ULONG length,
                                          int informationClass) {
    if (informationClass == kBasic) {
        ++gAttributeWrites;
        DWORD attributes = static_cast<FILE_BASIC_INFO*>(information)->FileAttributes;
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && gRefuseSettingReadOnly) {
            return kStatusAccessDenied;
        }
    }
    if (informationClass != kDispositionEx) {
        return gSystemSetInformation(file, io, information, length, informationClass);
    }
    ++gAtOnceCalls;
    if (gAtOnceAnswer == kAsTheSystemAnswers) {
        LONG status = gSystemSetInformation(file, io, information, length, informationClass);
        gSystemDeletedAtOnce = gSystemDeletedAtOnce || status == 0;
        return status;
    }
    if (gAtOnceAnswer == kDoneWithoutDeleting) {
        return 0;
    }
    if (gAtOnceAnswer != kDeletesAtOnce && gAtOnceAnswer != kDeletedByAnother &&
        gAtOnceAnswer != kReadOnlyRefusedAsAccessDenied) {
        return gAtOnceAnswer;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    LONG status = gSystemSetInformation(file, io, &disposition, sizeof(disposition), kDisposition);
    if (gAtOnceAnswer == kReadOnlyRefusedAsAccessDenied &&
        status == static_cast<LONG>(0xC0000121)) {
        return kStatusAccessDenied;
    }
    return gAtOnceAnswer == kDeletedByAnother && status == 0 ? static_cast<LONG>(0xC0000123)
                                                             : status;
}

// Where the system or the file system does not know the deletion at once, whatever it answers,
// it is asked once and the classic way is taken for the rest; where it has it, every entry goes
// that way. Wine's classic deletion, which plays the one at once here, refuses a read-only file
// as a file system without the flag that ignores the bit does ("cannot delete", or here also
// "access denied"): that file goes the classic way. A sharing violation is a final answer: the
// entries stay, held, and nothing goes the classic way.
TEST_F(Walk, DeletionAtOnceIsAskedForOnceWhereNotKnownAndUsedWhereTheSystemHasIt) {
    Plays(kPlaysEachRound);
    UseStandIns(CountingSetInformation, NULL);
    // Not implemented (Windows 7 and 8), invalid information class, invalid parameter (FAT), not
    // supported, invalid device request (redirectors), and a status nobody knows.
    static const LONG kAnswers[] = {kDeletesAtOnce,
                                    kDeletedByAnother,
                                    kReadOnlyRefusedAsAccessDenied,
                                    kStatusSharingViolation,
                                    kAsTheSystemAnswers,
                                    kNotImplemented,
                                    static_cast<LONG>(0xC0000003),
                                    static_cast<LONG>(0xC000000D),
                                    static_cast<LONG>(0xC00000BB),
                                    static_cast<LONG>(0xC0000010),
                                    static_cast<LONG>(0xC0DE0001)};
    for (LONG answer : kAnswers) {
        MakeFolders(base + "tree\\a\\b");
        for (int i = 0; i < 5; ++i) {
            WriteFile(tree + L"a\\f" + std::to_wstring(i) + L".txt");
        }
        SetReadOnly(tree + L"a\\f0.txt");
        gAtOnceAnswer = answer;
        gAtOnceCalls = 0;
        gSystemDeletedAtOnce = false;
        DeleteTree(tree);
        bool held = answer == kStatusSharingViolation;
        EXPECT_EQ(Exists(tree + L"a\\f1.txt"), held) << std::hex << answer;
        EXPECT_EQ(Exists(tree), held) << std::hex << answer;
        // Wine 8 refuses it as Windows 7 and 8 do; Wine 10 deletes at once as Windows 10 does.
        bool atOnce = answer == kDeletesAtOnce || answer == kDeletedByAnother ||
                      answer == kReadOnlyRefusedAsAccessDenied || held || gSystemDeletedAtOnce;
        if (answer == kAsTheSystemAnswers) {
            EXPECT_EQ(gSystemDeletedAtOnce, SystemDeletesAtOnce());
        }
        EXPECT_EQ(gAtOnceCalls, atOnce ? 8 : 1) << "five files, three folders";
        RemoveAll(base + "tree");
        MakeFolder(tree);
    }
}

// Past the walk's budget for waiting, a file held without delete sharing stays with the folders
// that hold it, and each failure is traced. One held with delete sharing leaves its folder at once
// where the system deletes at once, and its folder goes; elsewhere it stays until its handle
// closes, with its folder. Which of the two ran is the system's own answer to the walk.
TEST_F(Walk, FilesHeldPastTheBudgetStayWithTheirFoldersAndEachFailureIsTraced) {
    UseStandIns(CountingSetInformation, NULL);
    MakeFolders(base + "tree\\held\\inner");
    MakeFolders(base + "tree\\free");
    MakeFolders(base + "tree\\shared");
    WriteFile(tree + L"free\\f.txt");
    WriteFile(tree + L"held\\inner\\open.txt");
    WriteFile(tree + L"held\\other.txt");
    WriteFile(tree + L"shared\\s.txt");
    HANDLE open = Hold(tree + L"held\\inner\\open.txt", 0);
    HANDLE shared = Hold(tree + L"shared\\s.txt", FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    DeleteTree(tree);
    CloseHandle(open);
    CloseHandle(shared);
    bool atOnce = gSystemDeletedAtOnce;
    Plays(atOnce ? kPlaysDeletionAtOnce : kPlaysClassicDeletion);
    EXPECT_EQ(atOnce, SystemDeletesAtOnce());
    EXPECT_TRUE(Exists(tree + L"held\\inner\\open.txt"));
    EXPECT_EQ(Exists(tree + L"shared"), !atOnce);
    EXPECT_FALSE(Exists(tree + L"held\\other.txt"));
    EXPECT_FALSE(Exists(tree + L"free"));
    // inner, held and the tree itself could not be removed. Without the deletion at once, nor
    // could shared; Wine reports shared's removal done and finds out only when the folder's handle
    // closes, untraced.
    EXPECT_GE(TraceLines().size(), 3u);
    EXPECT_LE(TraceLines().size(), atOnce ? 3u : 4u);
    for (const std::string& line : TraceLines()) {
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    }
}

// The system's FindFirstFileNameW (missing under Wine 8, a stub under Wine 10) is lent by this
// test's SystemProcedure: it lists the file's own name, then gOtherName, as Windows does, without
// the volume's root (gVolumeRoot, the literal form of the sandbox drive's unless a test names
// another).
static std::wstring gOtherName;
static std::wstring gVolumeRoot = L"\\\\?\\S:";
static HANDLE gNameSearch;
static WIN32_FIND_DATAW gNameSearchEntry;

static HANDLE WINAPI FirstFileName(LPCWSTR path, DWORD, LPDWORD capacity, PWSTR name) {
    EXPECT_EQ(std::wstring(path).compare(0, gVolumeRoot.size(), gVolumeRoot), 0);
    std::wstring own = std::wstring(path).substr(gVolumeRoot.size());
    EXPECT_LT(own.size(), *capacity);
    wcscpy(name, own.c_str());
    // A search handle, for the caller's FindClose.
    gNameSearch = FindFirstFileW(L"S:\\*", &gNameSearchEntry);
    return gNameSearch;
}

static BOOL WINAPI NextFileName(HANDLE search, LPDWORD capacity, PWSTR name) {
    EXPECT_EQ(search, gNameSearch);
    if (gOtherName.empty()) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    EXPECT_LT(gOtherName.size(), *capacity);
    wcscpy(name, gOtherName.c_str());
    gOtherName.clear();
    return TRUE;
}

// The system's listing, where a test wants it to show reparse points, and its open, where a test
// wants it to refuse the change of attributes; both as the system has them otherwise.
typedef LONG(WINAPI* QueryDirectoryCall)(HANDLE, HANDLE, void*, void*, void*, void*, ULONG, int,
                                         BOOLEAN, void*, BOOLEAN);
typedef LONG(WINAPI* CreateFileCall)(HANDLE*, DWORD, void*, void*, void*, ULONG, ULONG, ULONG,
                                     ULONG, void*, ULONG);
static LONG WINAPI ListWithReparseTags(HANDLE, HANDLE, void*, void*, void*, void*, ULONG, int,
                                       BOOLEAN, void*, BOOLEAN);
static LONG WINAPI OpenRefusingAttributeChange(HANDLE*, DWORD, void*, void*, void*, ULONG, ULONG,
                                               ULONG, ULONG, void*, ULONG);

static void* SystemsProcedure(const wchar_t* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name));
}

void* SystemProcedure(const wchar_t* module, const char* name) {
    if (strcmp(name, "NtQueryDirectoryFile") == 0) {
        return reinterpret_cast<void*>(ListWithReparseTags);
    }
    if (strcmp(name, "NtCreateFile") == 0) {
        return reinterpret_cast<void*>(OpenRefusingAttributeChange);
    }
    if (strcmp(name, "FindFirstFileNameW") == 0) {
        return reinterpret_cast<void*>(FirstFileName);
    }
    if (strcmp(name, "FindNextFileNameW") == 0) {
        return reinterpret_cast<void*>(NextFileName);
    }
    return SystemsProcedure(module, name);
}

// A staged name of a read-only file that also has a name outside the tree: the file stays as it
// was. Where the deletion is classic (played on every implementation), the bit is given back
// through the handle, else through the other name; where the system deletes at once, it is not
// cleared at all. Last, as the system under test answers.
TEST_F(Walk, StagedNameOfAReadOnlyFileOutsideLeavesThatFileAsItWas) {
    Plays(kPlaysEachRound);
    UseStandIns(CountingSetInformation, NULL);
    std::wstring outside = wideBase + L"outside.txt";
    WriteFile(base + "outside.txt", "keep");
    SetReadOnly(outside);
    const LONG kAnswers[] = {kNotImplemented, kNotImplemented, kDoneWithoutDeleting,
                             kAsTheSystemAnswers};
    for (int round = 0; round < 4; ++round) {
        MakeFolder(tree + L"a");
        ASSERT_TRUE(
            CreateHardLinkW(Long(tree + L"a\\linked.txt").c_str(), Long(outside).c_str(), NULL));
        gRefuseSettingReadOnly = round == 1;
        gAtOnceAnswer = kAnswers[round];
        gAttributeWrites = 0;
        gOtherName = outside.substr(wcslen(L"S:"));
        ClearTraceLines();
        DeleteTree(tree);
        EXPECT_EQ(ReadFile(base + "outside.txt"), "keep") << round;
        EXPECT_NE(Attributes(outside) & FILE_ATTRIBUTE_READONLY, 0u) << round;
        if (round != 2) {
            EXPECT_FALSE(Exists(tree)) << round;
            EXPECT_TRUE(TraceLines().empty()) << round;
        } else {
            EXPECT_EQ(gAttributeWrites, 0);
            // Nothing was deleted: the tree goes for the next round, by means that clear the bit.
            RemoveAll(base + "tree");
            SetReadOnly(outside);
        }
        MakeFolder(tree);
    }
}

// On a share the system gives the volume's root as \\server\share\, or in the literal form the walk
// uses: the file's other name is found either way. make-links.sh has made \\selfclean\share\ the
// sandbox's S:\links\share\.
static std::wstring gShareRoot;

static BOOL WINAPI ShareVolumePath(LPCWSTR, LPWSTR root, DWORD capacity) {
    EXPECT_LT(gShareRoot.size(), capacity);
    wcscpy(root, gShareRoot.c_str());
    return TRUE;
}

TEST_F(Walk, StagedNameOfAReadOnlyFileOnAShareLeavesThatFileAsItWas) {
    Plays(kPlaysClassicDeletion);
    UseStandIns(CountingSetInformation, NULL);
    const std::wstring folder = L"S:\\links\\share\\walk\\";
    const std::wstring outside = folder + L"outside.txt";
    RemoveAll(Utf8(folder));
    MakeFolder(folder);
    WriteFile(Utf8(outside), "keep");
    SetReadOnly(outside);
    gVolumeRoot = L"\\\\?\\UNC\\selfclean\\share";
    gVolumePathStandIn = ShareVolumePath;
    for (const wchar_t* root : {L"\\\\selfclean\\share\\", L"\\\\?\\UNC\\selfclean\\share\\"}) {
        gShareRoot = root;
        MakeFolder(folder + L"tree");
        MakeFolder(folder + L"tree\\a");
        ASSERT_TRUE(CreateHardLinkW(Long(folder + L"tree\\a\\linked.txt").c_str(),
                                    Long(outside).c_str(), NULL));
        // Deleted the classic way, and the bit given back through the other name once the handle
        // is closed.
        gAtOnceAnswer = kNotImplemented;
        gRefuseSettingReadOnly = true;
        gOtherName = L"\\walk\\outside.txt";
        ClearTraceLines();
        DeleteTreeAt(L"\\\\?\\UNC\\selfclean\\share\\walk\\tree\\");
        EXPECT_FALSE(Exists(folder + L"tree")) << Utf8(root);
        EXPECT_EQ(ReadFile(Utf8(outside)), "keep");
        EXPECT_NE(Attributes(outside) & FILE_ATTRIBUTE_READONLY, 0u) << Utf8(root);
        EXPECT_TRUE(TraceLines().empty()) << Utf8(root);
    }
    RemoveAll(Utf8(folder));
}

// FAT and exFAT refuse to tell attributes and reparse tag together.
static int gAttributeTagQueries;

static LONG WINAPI QueryAsFat(HANDLE file, void* io, void* information, ULONG length,
                              int informationClass) {
    if (informationClass == kAttributeTag) {
        ++gAttributeTagQueries;
        return static_cast<LONG>(0xC000000D);
    }
    return gSystemQueryInformation(file, io, information, length, informationClass);
}

TEST_F(Walk, FolderHeldWithoutDeleteSharingIsEmptied) {
    // As a process's current folder is held.
    MakeFolder(tree + L"current");
    WriteFile(tree + L"current\\f.txt");
    HANDLE current = CreateFileW(Long(tree + L"current").c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, NULL);
    ASSERT_NE(current, INVALID_HANDLE_VALUE);
    DeleteTree(tree);
    CloseHandle(current);
    EXPECT_FALSE(Exists(tree + L"current\\f.txt"));
    EXPECT_TRUE(Exists(tree + L"current"));
    // current and the tree itself could not be removed.
    EXPECT_EQ(TraceLines().size(), 2u);
}

// The walk removes the held folder only as the folder the rules checked; while held, nobody can
// rename it.
TEST_F(Walk, HeldFolderIsRemovedOnlyAsTheFolderChecked) {
    MakeFolders(base + "tree\\a");
    WriteFile(tree + L"a\\f.txt");
    MakeFolder(wideBase + L"other");
    HANDLE other = CreateFileW(Long(wideBase + L"other").c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    FileIdentity otherIdentity;
    ASSERT_TRUE(IdentityOf(other, &otherIdentity));
    CloseHandle(other);
    ASSERT_NE(HoldTree(Long(tree).c_str()), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileW(Named(tree).c_str(), Long(wideBase + L"moved").c_str()));
    DeleteTree(Long(tree).c_str(), otherIdentity);
    EXPECT_TRUE(Exists(tree + L"a\\f.txt"));
    EXPECT_TRUE(Traced("Folder not removed: it is not the folder checked\r\n"));
    EXPECT_TRUE(MoveFileW(Named(tree).c_str(), Long(wideBase + L"moved").c_str()));
}

// Reparse points that are no links (a sync client's placeholder folder, a deduplicated file) and a
// junction, which is one. Wine has neither: where a test asks, the listing (gTagsInListing) and the
// query through a handle show them for the entries of these names.
static DWORD TagOf(const std::wstring& name) {
    if (name == L"placeholder") {
        return 0x9000601A;
    }
    if (name == L"dedup.dat") {
        return 0x80000013;
    }
    return name == L"junction" ? 0xA0000003 : 0;
}

static bool gTagsInListing;

static LONG WINAPI ListWithReparseTags(HANDLE folder, HANDLE event, void* routine, void* context,
                                       void* io, void* buffer, ULONG length, int informationClass,
                                       BOOLEAN single, void* mask, BOOLEAN restart) {
    QueryDirectoryCall system = reinterpret_cast<QueryDirectoryCall>(
        SystemsProcedure(L"ntdll.dll", "NtQueryDirectoryFile"));
    LONG status = system(folder, event, routine, context, io, buffer, length, informationClass,
                         single, mask, restart);
    for (BYTE* entry = static_cast<BYTE*>(buffer); status == 0 && gTagsInListing;) {
        FILE_ID_BOTH_DIR_INFO* info = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(entry);
        DWORD tag = TagOf(std::wstring(info->FileName, info->FileNameLength / sizeof(WCHAR)));
        if (tag != 0) {
            info->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            info->EaSize = tag;
        }
        if (info->NextEntryOffset == 0) {
            break;
        }
        entry += info->NextEntryOffset;
    }
    return status;
}

static LONG WINAPI QueryWithReparseTags(HANDLE file, void* io, void* information, ULONG length,
                                        int informationClass) {
    const int kFileName = 9;
    LONG status = gSystemQueryInformation(file, io, information, length, informationClass);
    std::vector<BYTE> buffer(70000);
    FILE_NAME_INFO* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    IO_STATUS_BLOCK nameIo;
    if (status != 0 || informationClass != kAttributeTag ||
        gSystemQueryInformation(file, &nameIo, name, static_cast<ULONG>(buffer.size()),
                                kFileName) != 0) {
        return status;
    }
    std::wstring path(name->FileName, name->FileNameLength / sizeof(WCHAR));
    DWORD tag = TagOf(path.substr(path.rfind(L'\\') + 1));
    if (tag != 0) {
        FILE_ATTRIBUTE_TAG_INFO* tagInfo = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
        tagInfo->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tagInfo->ReparseTag = tag;
    }
    return status;
}

// Only a name surrogate is a link: a placeholder folder is entered and goes with what it holds, a
// deduplicated file goes, a junction is never entered. Its tag may show in the listing and through
// its handle, or through its handle alone.
TEST_F(Walk, OnlyNameSurrogatesAreLinks) {
    UseStandIns(NULL, QueryWithReparseTags);
    for (bool listed : {true, false}) {
        MakeFolder(tree + L"placeholder");
        WriteFile(tree + L"placeholder\\doc.txt");
        MakeFolder(tree + L"junction");
        WriteFile(tree + L"junction\\keep.txt");
        WriteFile(tree + L"dedup.dat");
        gTagsInListing = listed;
        DeleteTree(tree);
        EXPECT_FALSE(Exists(tree + L"placeholder")) << listed;
        EXPECT_FALSE(Exists(tree + L"dedup.dat")) << listed;
        EXPECT_TRUE(Exists(tree + L"junction\\keep.txt")) << listed;
        RemoveAll(base + "tree");
        MakeFolder(tree);
    }
}

// Permissions may grant an entry's deletion but refuse the change of its attributes.
static bool gRefuseAttributeChange;
static int gRefusedOpens;

static LONG WINAPI OpenRefusingAttributeChange(HANDLE* opened, DWORD access, void* attributes,
                                               void* io, void* size, ULONG fileAttributes,
                                               ULONG sharing, ULONG disposition, ULONG options,
                                               void* ea, ULONG eaLength) {
    CreateFileCall system =
        reinterpret_cast<CreateFileCall>(SystemsProcedure(L"ntdll.dll", "NtCreateFile"));
    if (gRefuseAttributeChange && (access & FILE_WRITE_ATTRIBUTES) != 0) {
        ++gRefusedOpens;
        return kStatusAccessDenied;
    }
    return system(opened, access, attributes, io, size, fileAttributes, sharing, disposition,
                  options, ea, eaLength);
}

// Such entries go all the same, where no bit needs clearing: files and folders, the root too.
TEST_F(Walk, EntriesWhoseAttributesMayNotChangeGoAllTheSame) {
    MakeFolders(base + "tree\\a\\b");
    WriteFile(tree + L"top.txt");
    WriteFile(tree + L"a\\b\\f.txt");
    gRefuseAttributeChange = true;
    gRefusedOpens = 0;
    DeleteTree(tree);
    EXPECT_FALSE(Exists(tree));
    EXPECT_GE(gRefusedOpens, 4) << "the root, a, b and the first file";
    EXPECT_TRUE(TraceLines().empty());
}

TEST_F(Walk, MissingFolderIsTraced) {
    DeleteTree(wideBase + L"missing\\");
    EXPECT_EQ(TraceLines().size(), 1u);
}

// make-links.sh has prepared S:\links\stage\setup\ and S:\links\fat\setup\, each with a link
// "outside" to S:\links\target\, which holds keep.txt and a read-only file. The second is walked
// as on a file system that cannot tell attributes and reparse tag together.
TEST_F(Walk, FolderLinkIsNeverEntered) {
    Plays(kPlaysEachRound);
    std::wstring target = L"S:\\links\\target\\";
    ASSERT_TRUE(Exists(target + L"keep.txt"));
    EnforceRedirectionTrust();
    for (bool fat : {false, true}) {
        std::wstring stage = fat ? L"S:\\links\\fat\\" : L"S:\\links\\stage\\";
        ASSERT_NE(Attributes(stage + L"setup\\outside") & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        // FAT deletes the classic way too, whatever the implementation under test has.
        UseStandIns(fat ? CountingSetInformation : NULL, fat ? QueryAsFat : NULL);
        gAtOnceAnswer = static_cast<LONG>(0xC000000D);
        gAttributeTagQueries = 0;
        ClearTraceLines();
        DeleteTree(stage);
        EXPECT_TRUE(Exists(target + L"keep.txt"));
        EXPECT_TRUE(Exists(target + L"readonly.txt"));
        EXPECT_NE(Attributes(target + L"readonly.txt") & FILE_ATTRIBUTE_READONLY, 0u);
        EXPECT_FALSE(Exists(stage + L"setup\\file.txt")) << fat;
        EXPECT_EQ(gAttributeTagQueries, fat ? 1 : 0) << "asked once, not for every entry";
        // The link itself goes where a handle can show it; Wine's handles show its target.
        EXPECT_TRUE(!Exists(stage + L"setup\\outside") ||
                    Traced("Entry kept: it cannot be told from a link's target\r\n"));
    }
}

// make-links.sh has prepared S:\links\swap\ with stage\victim\ and "spare", a link to
// swap-target\, which holds keep.txt.
static void SwapVictimForLink(const wchar_t* folder) {
    std::wstring path = folder;
    if (path.size() >= 7 && path.compare(path.size() - 7, 7, L"victim\\") == 0) {
        MoveFileW(L"\\\\?\\S:\\links\\swap\\stage\\victim", L"\\\\?\\S:\\links\\swap\\away");
        // Windows moves the link; Wine moves its target, which the walk must not enter either.
        MoveFileW(L"\\\\?\\S:\\links\\swap\\spare", L"\\\\?\\S:\\links\\swap\\stage\\victim");
    }
}

TEST_F(Walk, FolderSwappedForALinkAfterTheListingIsNotEntered) {
    std::wstring swap = L"S:\\links\\swap\\";
    ASSERT_TRUE(Exists(swap + L"stage\\victim\\staged.txt"));
    ASSERT_TRUE(Exists(swap + L"spare\\keep.txt"));
    gBeforeEnteringFolder = SwapVictimForLink;
    DeleteTree(swap + L"stage\\");
    EXPECT_TRUE(Traced("Folder not entered: it is a link or not the folder listed\r\n"));
    EXPECT_TRUE(Exists(swap + L"stage\\victim\\keep.txt"));
    EXPECT_TRUE(Exists(swap + L"away\\staged.txt"));
    EXPECT_FALSE(Exists(swap + L"stage\\file.txt"));
}

// make-links.sh has prepared S:\links\reopen\ with stage\held\ and "spare", a link to
// reopen-target\, which holds keep.txt. held is emptied while another handle denies its
// deletion; that handle closes and spare is moved in its place before the walk opens it again.
static HANDLE gHeldFolder;

static void SwapHeldForLink(const wchar_t* folder) {
    std::wstring path = folder;
    if (path.size() >= 5 && path.compare(path.size() - 5, 5, L"held\\") == 0) {
        CloseHandle(gHeldFolder);
        MoveFileW(L"\\\\?\\S:\\links\\reopen\\stage\\held", L"\\\\?\\S:\\links\\reopen\\away");
        MoveFileW(L"\\\\?\\S:\\links\\reopen\\spare", L"\\\\?\\S:\\links\\reopen\\stage\\held");
    }
}

TEST_F(Walk, FolderSwappedBeforeItIsOpenedAgainForDeletionIsKept) {
    std::wstring reopen = L"S:\\links\\reopen\\";
    ASSERT_TRUE(Exists(reopen + L"spare\\keep.txt"));
    gHeldFolder = CreateFileW(Long(reopen + L"stage\\held").c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
    ASSERT_NE(gHeldFolder, INVALID_HANDLE_VALUE);
    gBeforeReopeningFolder = SwapHeldForLink;
    DeleteTree(reopen + L"stage\\");
    EXPECT_TRUE(Exists(reopen + L"stage\\held\\keep.txt"));
    EXPECT_TRUE(Exists(reopen + L"away"));
    EXPECT_FALSE(Exists(reopen + L"away\\staged.txt"));
    EXPECT_FALSE(Exists(reopen + L"stage\\file.txt"));
}

static void ResetStandIns() {
    gVolumePathStandIn = NULL;
    gVolumeRoot = L"\\\\?\\S:";
    gTagsInListing = false;
    gRefuseAttributeChange = false;
}
