// Folders of the system and of the user that a staging root must never be, hold or lie
// directly in. An executable unpacked by hand into a user's folder, or reached through a
// folder link, would otherwise make one of them the staging root.
#include "protected.h"

#include <string.h>

#include "../common/common.h"
#include "user_folders.h"

// A folder as the file system knows it: the same whichever path reaches it, through short
// names, links, substituted drives or shares.
struct FolderIdentity {
    bool known;
    FileIdentity file;
};

// A folder's canonical path (absolute, backslashes only, no "." or "..", no doubled or
// trailing separator, in the case it was given) and its identity.
struct Folder {
    wchar_t path[kPathSize];
    FolderIdentity identity;
};

// The paths are up to 32,767 characters long, so the folders compared live here rather than
// on the stack: the staging root, the folder that holds it and the one above that, the folder of
// the rule at hand (moved up as the rules go) and the path a rule names.
static Folder gRoot;
static Folder gRootParent;
static Folder gRootGrandparent;
static Folder gOwned;
static wchar_t gFound[kPathSize];
// The literal form of a path, for opening it whatever its length.
static wchar_t gLiteral[kPathSize];

// Identities read during one check. The rules' folders share most of their ancestors (the drive,
// the profiles folder, a profile), and each identity costs the file system several requests.
// Paths shorter than kCachedPathSize are kept, the oldest given up first.
const int kCachedIdentities = 64;
const int kCachedPathSize = MAX_PATH;
struct CachedIdentity {
    wchar_t path[kCachedPathSize];
    FolderIdentity identity;
};
static CachedIdentity gCachedIdentities[kCachedIdentities];
static int gCachedCount;
static int gNextCached;

// The last backslash of path; NULL when there is none.
static wchar_t* LastSeparator(wchar_t* path) {
    wchar_t* last = NULL;
    for (wchar_t* p = path; *p != L'\0'; ++p) {
        if (*p == L'\\') {
            last = p;
        }
    }
    return last;
}

// Opens a full path at any length; a path without a literal form is opened as given.
static HANDLE OpenForIdentity(const wchar_t* path) {
    const wchar_t* name = LiteralPathOf(path, gLiteral) ? gLiteral : path;
    // Backup semantics open a folder; no access right is needed to read its file index.
    return CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

// False when the folder cannot be opened or asked for its identity; a file system without file
// indexes reports 0, and then identity.known stays false and only the paths are compared.
static bool IdentifyFolder(const wchar_t* path, FolderIdentity* identity) {
    identity->known = false;
    HANDLE folder = OpenForIdentity(path);
    if (folder == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool read = IdentityOf(folder, &identity->file);
    identity->known = read && (identity->file.indexHigh | identity->file.indexLow) != 0;
    CloseHandle(folder);
    return read;
}

// The identity of a folder as IdentifyFolder reads it, once per check.
static void RecallIdentity(const wchar_t* path, FolderIdentity* identity) {
    for (int i = 0; i < gCachedCount; ++i) {
        if (wcscmp(gCachedIdentities[i].path, path) == 0) {
            *identity = gCachedIdentities[i].identity;
            return;
        }
    }
    IdentifyFolder(path, identity);
    size_t length = wcslen(path);
    if (length < static_cast<size_t>(kCachedPathSize)) {
        CachedIdentity& cached = gCachedIdentities[gNextCached];
        memcpy(cached.path, path, (length + 1) * sizeof(wchar_t));
        cached.identity = *identity;
        gNextCached = (gNextCached + 1) % kCachedIdentities;
        gCachedCount += gCachedCount < kCachedIdentities ? 1 : 0;
    }
}

static bool DescribeFolder(const wchar_t* path, Folder* folder) {
    DWORD length = GetFullPathNameW(path, kPathSize, folder->path, NULL);
    if (length == 0 || length >= static_cast<DWORD>(kPathSize)) {
        return false;
    }
    wchar_t* last = LastSeparator(folder->path);
    // "C:\" keeps its separator: "C:" names the drive's current folder.
    if (last != NULL && last[1] == L'\0' && last > folder->path + 2) {
        *last = L'\0';
    }
    RecallIdentity(folder->path, &folder->identity);
    return true;
}

// Moves folder to the folder that holds it; false at a drive root or at "\\server".
static bool MoveUp(Folder* folder) {
    wchar_t* last = LastSeparator(folder->path);
    if (last == NULL || last[1] == L'\0' || last <= folder->path + 1) {
        return false;
    }
    bool driveRoot = last == folder->path + 2 && folder->path[1] == L':';
    last[driveRoot ? 1 : 0] = L'\0';
    RecallIdentity(folder->path, &folder->identity);
    return true;
}

// One character as the file system compares names: upper case, one code unit at a time.
static wchar_t UpperCase(wchar_t c) {
    return static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(
        CharUpperW(reinterpret_cast<wchar_t*>(static_cast<UINT_PTR>(c)))));
}

static bool IsSamePath(const wchar_t* a, const wchar_t* b) {
    for (; UpperCase(*a) == UpperCase(*b); ++a, ++b) {
        if (*a == L'\0') {
            return true;
        }
    }
    return false;
}

static bool IsSameFolder(const Folder& a, const Folder& b) {
    if (IsSamePath(a.path, b.path)) {
        return true;
    }
    return a.identity.known && b.identity.known && IsSameFile(a.identity.file, b.identity.file);
}

// Whether root is owned or one of the folders above it; owned is moved up on the way.
static bool IsOrHolds(const Folder& root, Folder* owned) {
    do {
        if (IsSameFolder(root, *owned)) {
            return true;
        }
    } while (MoveUp(owned));
    return false;
}

// Whether above is known and the folder at gOwned.
static bool IsOwned(const Folder& above) {
    return above.path[0] != L'\0' && IsSameFolder(above, gOwned);
}

// How the staging root stands to the folder at path: it is that folder or one above it ("is or
// holds") or, as levels allows, a folder directly in it ("lies directly in") or directly in such
// a folder; NULL when neither. A path that is empty or cannot be made absolute guards nothing:
// the folder is unknown.
static const char* Relation(const wchar_t* path, int levels) {
    if (!DescribeFolder(path, &gOwned)) {
        return NULL;
    }
    bool liesDirectlyIn = levels > 0 && IsOwned(gRootParent);
    bool liesTwoLevelsIn = levels > 1 && IsOwned(gRootGrandparent);
    if (IsOrHolds(gRoot, &gOwned)) {
        return "is or holds";
    }
    if (liesTwoLevelsIn) {
        return "lies directly in a folder directly in";
    }
    return liesDirectlyIn ? "lies directly in" : NULL;
}

static bool Guards(const wchar_t* path, const wchar_t* owner, int levels) {
    const char* relation = Relation(path, levels);
    if (relation != NULL) {
        Trace("Staging folder kept: it %s %ls\r\n", relation, owner);
    }
    return relation != NULL;
}

static bool GuardsUsersFolder(const wchar_t* path, const char* owner, int levels, void*) {
    const char* relation = Relation(path, levels);
    if (relation != NULL) {
        Trace("Staging folder kept: it %s %s\r\n", relation, owner);
    }
    return relation != NULL;
}

// gFound when the call that filled it returned a length that fits, otherwise an empty text.
static const wchar_t* Found(DWORD length) {
    if (length == 0 || length >= static_cast<DWORD>(kPathSize)) {
        gFound[0] = L'\0';
    }
    return gFound;
}

// gFound as the call that filled it to length left it, followed by name; an empty text when
// either does not fit.
static const wchar_t* FoundWith(DWORD length, const wchar_t* name) {
    size_t nameLength = wcslen(name);
    if (length == 0 || length + nameLength >= static_cast<DWORD>(kPathSize)) {
        return L"";
    }
    memcpy(gFound + length, name, (nameLength + 1) * sizeof(wchar_t));
    return gFound;
}

static bool GuardsSystemFolders() {
    return Guards(Found(GetWindowsDirectoryW(gFound, kPathSize)), L"the Windows directory", 1) ||
           // For this 32-bit program on a 64-bit system the system directory opens as the 32-bit
           // one; the real one is reached as Sysnative, and through any other path by identity.
           Guards(Found(GetSystemDirectoryW(gFound, kPathSize)), L"the system directory", 1) ||
           Guards(FoundWith(GetSystemWindowsDirectoryW(gFound, kPathSize), L"\\Sysnative"),
                  L"the native system directory", 1) ||
           // Staged trees are unpacked directly in the temporary folder.
           Guards(Found(GetTempPathW(kPathSize, gFound)), L"the temporary folder", 0);
}

// The profile, the folders shared by all users and the cloud-sync folders hold one folder per
// kind of document or per maker: each of those belongs to the user or to other programs. The
// cloud-sync folders come last: what their folder backup moves in is named in the user's language,
// so a folder directly in any folder of theirs is the user's too.
static const wchar_t* const kUserFolderVariables[] = {
    L"USERPROFILE", L"APPDATA",  L"LOCALAPPDATA",     L"ALLUSERSPROFILE",
    L"PUBLIC",      L"OneDrive", L"OneDriveConsumer", L"OneDriveCommercial"};
const int kFirstSyncFolderVariable = 5;

// The programs installed for the running user alone, one folder each.
static bool GuardsUsersPrograms() {
    return Guards(
        FoundWith(GetEnvironmentVariableW(L"LOCALAPPDATA", gFound, kPathSize), L"\\Programs"),
        L"LOCALAPPDATA\\Programs", 1);
}

static bool GuardsUserFolders() {
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kUserFolderVariables)); ++i) {
        const wchar_t* variable = kUserFolderVariables[i];
        if (Guards(Found(GetEnvironmentVariableW(variable, gFound, kPathSize)), variable,
                   i < kFirstSyncFolderVariable ? 1 : 2)) {
            return true;
        }
    }
    return GuardsUsersPrograms();
}

static const wchar_t* ReadFolderValue(HKEY key, const wchar_t* name) {
    DWORD type = REG_NONE;
    DWORD size = (kPathSize - 1) * sizeof(wchar_t);
    if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(gFound), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        size = 0;
    }
    gFound[size / sizeof(wchar_t)] = L'\0';
    return gFound;
}

static const wchar_t* const kProgramFilesValues[] = {
    L"ProgramFilesDir", L"ProgramFilesDir (x86)", L"ProgramFilesDir (Arm)",
    L"CommonFilesDir",  L"CommonFilesDir (x86)",  L"CommonFilesDir (Arm)"};

static bool GuardsProgramFilesIn(HKEY key) {
    for (const wchar_t* value : kProgramFilesValues) {
        if (Guards(ReadFolderValue(key, value), value, 1)) {
            return true;
        }
    }
    return false;
}

// A 32-bit process on a 64-bit system finds the 32-bit program files folders in its own view
// of the registry and the 64-bit ones only in the 64-bit view; elsewhere the views are one.
static bool GuardsProgramFiles() {
    const REGSAM views[] = {0, KEY_WOW64_64KEY};
    for (REGSAM view : views) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                          KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
            continue;
        }
        bool guarded = GuardsProgramFilesIn(key);
        RegCloseKey(key);
        if (guarded) {
            return true;
        }
    }
    return false;
}

// Makes above the folder that holds below; its path is empty where there is none.
static void DescribeParent(const Folder& below, Folder* above) {
    *above = below;
    if (below.path[0] == L'\0' || !MoveUp(above)) {
        above->path[0] = L'\0';
    }
}

// The staging root and the two folders above it, for the rules to compare with.
static bool DescribeRoot(const wchar_t* folder) {
    if (!DescribeFolder(folder, &gRoot)) {
        return false;
    }
    DescribeParent(gRoot, &gRootParent);
    DescribeParent(gRootParent, &gRootGrandparent);
    return true;
}

// A root whose attributes or identity cannot be read could be checked against nothing: it is
// kept, as is a folder link, whose target is someone else's folder.
static bool IsUncheckable() {
    DWORD attributes =
        GetFileAttributesW(LiteralPathOf(gRoot.path, gLiteral) ? gLiteral : gRoot.path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Trace("Staging folder kept: its attributes cannot be read\r\n");
        return true;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        Trace("Staging folder kept: it is a folder link\r\n");
        return true;
    }
    FolderIdentity identity;
    if (!IdentifyFolder(gRoot.path, &identity)) {
        Trace("Staging folder kept: its identity cannot be read\r\n");
        return true;
    }
    return false;
}

// Whether the staging root is, or lies directly in, the root of the volume that holds it, where
// that volume is mounted in a folder (C:\Mnt\Data) rather than as a drive.
static bool IsAtMountedVolumesTop() {
    if (!VolumeRootOf(gRoot.path, gFound)) {
        return false;
    }
    // Compared as the rules write folders: without the closing backslash.
    size_t length = wcslen(gFound);
    if (length > 3 && gFound[length - 1] == L'\\') {
        gFound[length - 1] = L'\0';
    }
    return IsSamePath(gFound, gRoot.path) || IsSamePath(gFound, gRootParent.path);
}

// Folders directly in a volume's root (a drive's, a share's, or a folder a volume is mounted in)
// are where people keep downloads, games, data and backups; no staged tree needs to be one.
// Checked last, so that a folder that another rule keeps (the Windows directory) is traced with
// that rule.
static bool LiesDirectlyInVolumeRoot() {
    const wchar_t* afterRoot = SkipRoot(gRoot.path);
    if (afterRoot != NULL && CountFolders(afterRoot) > 0 && !IsAtMountedVolumesTop()) {
        return false;
    }
    Trace("Staging folder kept: it lies directly in a drive's or share's root\r\n");
    return true;
}

bool IsProtectedFolder(const wchar_t* folder, FileIdentity* checked) {
    gCachedCount = 0;
    gNextCached = 0;
    if (!DescribeRoot(folder)) {
        Trace("Staging folder kept: its full path is unknown\r\n");
        return true;
    }
    *checked = gRoot.identity.file;
    return IsUncheckable() || GuardsSystemFolders() || GuardsUserFolders() ||
           GuardsProgramFiles() || VisitUserFolders(GuardsUsersFolder, NULL) ||
           LiesDirectlyInVolumeRoot();
}
