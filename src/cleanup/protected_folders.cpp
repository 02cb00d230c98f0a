// Folders of the system and of the user that a staging root must never be, hold or lie
// directly in. An executable unpacked by hand into a user's folder, or reached through a
// folder link, would otherwise make one of them the staging root.
#include "cleanup.h"

#include <string.h>

#include "../common/common.h"

// A folder as the file system knows it: the same whichever path reaches it, through short
// names, links, substituted drives or shares.
struct FolderIdentity {
    bool known;
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// A folder's canonical path (absolute, backslashes only, no "." or "..", no doubled or
// trailing separator, upper case as the file system compares names) and its identity.
struct Folder {
    char path[kPathSize];
    FolderIdentity identity;
};

// The last backslash of path, never the second byte of a double-byte character; NULL when
// there is none.
static char* LastSeparator(char* path) {
    char* last = NULL;
    for (char* p = path; *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\') {
            last = p;
        }
    }
    return last;
}

static FolderIdentity IdentifyFolder(const char* path) {
    FolderIdentity identity = {false, 0, 0, 0};
    // Backup semantics open a folder; no access right is needed to read its file index.
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (folder == INVALID_HANDLE_VALUE) {
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION information;
    // A file system without file indexes reports 0: then only the paths are compared.
    if (GetFileInformationByHandle(folder, &information) &&
        (information.nFileIndexHigh | information.nFileIndexLow) != 0) {
        identity = {true, information.dwVolumeSerialNumber, information.nFileIndexHigh,
                    information.nFileIndexLow};
    }
    CloseHandle(folder);
    return identity;
}

static bool DescribeFolder(const char* path, Folder* folder) {
    DWORD length = GetFullPathNameA(path, kPathSize, folder->path, NULL);
    if (length == 0 || length >= static_cast<DWORD>(kPathSize)) {
        return false;
    }
    char* last = LastSeparator(folder->path);
    // "C:\" keeps its separator: "C:" names the drive's current folder.
    if (last != NULL && last[1] == '\0' && last > folder->path + 2) {
        *last = '\0';
    }
    CharUpperBuffA(folder->path, lstrlenA(folder->path));
    folder->identity = IdentifyFolder(folder->path);
    return true;
}

// Moves folder to the folder that holds it; false at a drive root or at "\\server".
static bool MoveUp(Folder* folder) {
    char* last = LastSeparator(folder->path);
    if (last == NULL || last[1] == '\0' || last <= folder->path + 1) {
        return false;
    }
    bool driveRoot = last == folder->path + 2 && folder->path[1] == ':';
    last[driveRoot ? 1 : 0] = '\0';
    folder->identity = IdentifyFolder(folder->path);
    return true;
}

static bool IsSameFolder(const Folder& a, const Folder& b) {
    if (strcmp(a.path, b.path) == 0) {
        return true;
    }
    return a.identity.known && b.identity.known && a.identity.volume == b.identity.volume &&
           a.identity.indexHigh == b.identity.indexHigh &&
           a.identity.indexLow == b.identity.indexLow;
}

static bool IsOrHolds(const Folder& root, Folder owned) {
    do {
        if (IsSameFolder(root, owned)) {
            return true;
        }
    } while (MoveUp(&owned));
    return false;
}

static bool LiesDirectlyIn(Folder root, const Folder& owned) {
    return MoveUp(&root) && IsSameFolder(root, owned);
}

static bool Refuse(const char* rule, const char* owner) {
    Trace("Staging folder kept: it %s %s\r\n", rule, owner);
    return true;
}

// Whether root is the folder at path or one above it or, with children set, a folder directly
// in it. A path that is empty or cannot be made absolute guards nothing: the folder is unknown.
static bool Guards(const Folder& root, const char* path, const char* owner, bool children) {
    Folder owned;
    if (!DescribeFolder(path, &owned)) {
        return false;
    }
    if (IsOrHolds(root, owned)) {
        return Refuse("is or holds", owner);
    }
    return children && LiesDirectlyIn(root, owned) && Refuse("lies directly in", owner);
}

// path when the call that filled it returned a length that fits, otherwise an empty text.
static const char* Fitting(char* path, DWORD length) {
    if (length == 0 || length >= static_cast<DWORD>(kPathSize)) {
        path[0] = '\0';
    }
    return path;
}

static bool GuardsSystemFolders(const Folder& root) {
    char path[kPathSize];
    return Guards(root, Fitting(path, GetWindowsDirectoryA(path, kPathSize)),
                  "the Windows directory", true) ||
           Guards(root, Fitting(path, GetSystemDirectoryA(path, kPathSize)), "the system directory",
                  true) ||
           // Staged trees are unpacked directly in the temporary folder.
           Guards(root, Fitting(path, GetTempPathA(kPathSize, path)), "the temporary folder",
                  false);
}

// The profile and the folders shared by all users hold one folder per kind of document or
// per maker: each of those belongs to the user or to other programs.
static const char* const kUserFolderVariables[] = {"USERPROFILE", "APPDATA", "LOCALAPPDATA",
                                                   "ALLUSERSPROFILE", "PUBLIC"};

static bool GuardsUserFolders(const Folder& root) {
    for (const char* variable : kUserFolderVariables) {
        char path[kPathSize];
        if (Guards(root, Fitting(path, GetEnvironmentVariableA(variable, path, kPathSize)),
                   variable, true)) {
            return true;
        }
    }
    return false;
}

static const char* ReadFolderValue(HKEY key, const char* name, char* path) {
    DWORD type = REG_NONE;
    DWORD size = kPathSize - 1;
    if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE*>(path), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        size = 0;
    }
    path[size] = '\0';
    return path;
}

static const char* const kProgramFilesValues[] = {"ProgramFilesDir", "ProgramFilesDir (x86)",
                                                  "CommonFilesDir", "CommonFilesDir (x86)"};

static bool GuardsProgramFilesIn(const Folder& root, HKEY key) {
    for (const char* value : kProgramFilesValues) {
        char path[kPathSize];
        if (Guards(root, ReadFolderValue(key, value, path), value, true)) {
            return true;
        }
    }
    return false;
}

// A 32-bit process on a 64-bit system finds the 32-bit program files folders in its own view
// of the registry and the 64-bit ones only in the 64-bit view; elsewhere the views are one.
static bool GuardsProgramFiles(const Folder& root) {
    const REGSAM views[] = {0, KEY_WOW64_64KEY};
    for (REGSAM view : views) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                          KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
            continue;
        }
        bool guarded = GuardsProgramFilesIn(root, key);
        RegCloseKey(key);
        if (guarded) {
            return true;
        }
    }
    return false;
}

bool IsProtectedFolder(const char* folder) {
    Folder root;
    if (!DescribeFolder(folder, &root)) {
        Trace("Staging folder kept: its full path is unknown\r\n");
        return true;
    }
    DWORD attributes = GetFileAttributesA(root.path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        Trace("Staging folder kept: it is a folder link\r\n");
        return true;
    }
    return GuardsSystemFolders(root) || GuardsUserFolders(root) || GuardsProgramFiles(root);
}
