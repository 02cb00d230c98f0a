// The Clone's removal of what was staged: HOST.INI, the executable, the staging folder, kvoptemp.
#include "cleanup.h"

#include <wchar.h>

#include "../common/common.h"
#include "../protected/protected.h"
#include "../walk/walk.h"
#include "selfclean_config.h"

void DeleteHostIni() {
    if (!SELFCLEAN_REMOVE_HOST_INI) {
        return;
    }
    static wchar_t windows[kPathSize];
    DWORD length = GetWindowsDirectoryW(windows, kPathSize);
    static wchar_t path[kPathSize];
    if (length > 0 && length < static_cast<DWORD>(kPathSize) &&
        FormatText(path, kPathSize, "%ls\\HOST.INI", windows)) {
        DeleteFileW(path);
    }
}

// Length of the drive and directory components together: up to and including the last
// separator.
static int FolderPathLength(const wchar_t* path) {
    int length = 0;
    for (int i = 0; path[i] != L'\0'; ++i) {
        if (IsSeparator(path[i])) {
            length = i + 1;
        }
    }
    return length;
}

bool StagingRootOf(const wchar_t* executablePath, wchar_t* root) {
    const wchar_t* afterRoot = SkipRoot(executablePath);
    if (afterRoot == NULL) {
        Trace("Staging folder kept: the executable path is not absolute\r\n");
        return false;
    }
    if (CountFolders(afterRoot) < 2) {
        Trace("Staging folder kept: it would not lie below a drive or share root\r\n");
        return false;
    }
    if (!FormatText(root, kPathSize, "%.*ls..\\", FolderPathLength(executablePath),
                    executablePath)) {
        Trace("Staging folder kept: its path is too long\r\n");
        return false;
    }
    return true;
}

// The rules check the root's final path. A drive letter may stand for a folder (a substituted
// drive, a share's subfolder mapped as a drive), whose final path lies deeper than the path the
// user sees: a root directly in such a drive's root is kept here, by the executable's path.
static bool LiesDirectlyInDriveRoot(const wchar_t* executablePath) {
    if (CountFolders(SkipRoot(executablePath)) > 2) {
        return false;
    }
    Trace("Staging folder kept: it lies directly in a drive's or share's root\r\n");
    return true;
}

// The staging root made full, without "..", once: the rules and the walk see the same
// folder, and the walk takes it in literal form, so that no depth of the tree is beyond its
// reach.
static bool ResolveStagingRoot(const wchar_t* root, wchar_t* resolved, wchar_t* literal) {
    DWORD length = GetFullPathNameW(root, kPathSize, resolved, NULL);
    if (length == 0) {
        Trace("Staging folder kept: its full path is unknown\r\n");
        return false;
    }
    if (length >= static_cast<DWORD>(kPathSize) || !LiteralPathOf(resolved, literal)) {
        Trace("Staging folder kept: its path is too long\r\n");
        return false;
    }
    return true;
}

typedef DWORD(WINAPI* FinalPathCall)(HANDLE, wchar_t*, DWORD, DWORD);

// A folder's final path: "\\?\C:\a" or "\\?\UNC\server\share\a".
static wchar_t gFinal[kPathSize];

// Opens a folder, or a link as itself, for what it is rather than for its content.
static HANDLE OpenFolder(const wchar_t* literal) {
    return CreateFileW(literal, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// Whether literal opens the folder held as folder: a final path in the system directory opens,
// for this 32-bit program on a 64-bit system, the 32-bit one instead.
static bool OpensSameFolder(HANDLE folder, const wchar_t* literal) {
    HANDLE other = OpenFolder(literal);
    if (other == INVALID_HANDLE_VALUE) {
        return false;
    }
    FileIdentity held;
    FileIdentity opened;
    bool same = IdentityOf(folder, &held) && IdentityOf(other, &opened) && IsSameFile(held, opened);
    CloseHandle(other);
    return same;
}

// The final path of the held folder into gFinal, with room for a closing backslash; false where
// the system has no such call or cannot tell (a volume without a drive letter). Not inlined: in
// RemoveStagingFolders it would cost about 250 bytes more.
__attribute__((noinline)) static bool ReadFinalPath(HANDLE folder) {
    FinalPathCall finalPath = reinterpret_cast<FinalPathCall>(
        SystemProcedure(L"kernel32.dll", "GetFinalPathNameByHandleW"));
    if (finalPath == NULL) {
        return false;
    }
    DWORD length = finalPath(folder, gFinal, kPathSize - 1, VOLUME_NAME_DOS);
    return length > 4 && length < static_cast<DWORD>(kPathSize - 1) &&
           OpensSameFolder(folder, gFinal);
}

// The staging root, which held holds (literal ends with a backslash), by its final path, with no
// link left in it, where the system tells it: the redirection trust, once on, refuses links that
// users made anywhere in a path, and the rules must check the folder the walk removes. A root that
// is itself a link keeps its path, for the rules to see it as one: Wine opens a link as its target
// even when asked for the link.
static void TakeFinalPath(HANDLE held, wchar_t* resolved, wchar_t* literal) {
    // Without its closing backslash: with it, Wine takes a link's path for its target's.
    size_t rootLength = wcslen(literal) - 1;
    literal[rootLength] = L'\0';
    DWORD attributes = GetFileAttributesW(literal);
    bool read = attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && ReadFinalPath(held);
    literal[rootLength] = L'\\';
    if (!read) {
        return;
    }
    wchar_t* full = gFinal + 4;
    if (_wcsnicmp(full, L"UNC\\", 4) == 0) {
        full += 2;
        full[0] = L'\\';
    }
    // Anything else, such as a volume's own name, keeps the full path as it was. The walk takes
    // the literal form with a closing backslash, for which gFinal left room.
    if (LiteralPathOf(full, literal)) {
        wcscpy(resolved, full);
        size_t length = wcslen(literal);
        literal[length] = L'\\';
        literal[length + 1] = L'\0';
    }
}

// kvoptemp is named relative to the current folder the Clone inherited. Its full path is taken
// once, before that folder is left, so that the removal pass after an exception, which runs from
// the system directory, still names the same folder. Empty when it cannot be resolved.
static const wchar_t* FixedFolder(const wchar_t* executablePath) {
    static wchar_t fixedFolder[kPathSize];
    static bool resolved;
    if (!resolved) {
        resolved = true;
        int driveLength = executablePath[0] != L'\0' && executablePath[1] == L':' ? 2 : 0;
        wchar_t relative[16];
        DWORD length = 0;
        if (FormatText(relative, 16, "%.*lskvoptemp", driveLength, executablePath)) {
            length = GetFullPathNameW(relative, kPathSize, fixedFolder, NULL);
        }
        if (length == 0 || length >= static_cast<DWORD>(kPathSize)) {
            fixedFolder[0] = L'\0';
        }
    }
    return fixedFolder;
}

// The caller's current folder, which the Clone inherits, often lies in what it unpacked, and a
// process's current folder cannot be removed. The system directory lies outside any staged tree.
static void LeaveInheritedFolder() {
    static wchar_t system[kPathSize];
    DWORD length = GetSystemDirectoryW(system, kPathSize);
    if (length > 0 && length < static_cast<DWORD>(kPathSize)) {
        SetCurrentDirectoryW(system);
    }
}

void RemoveStagingFolders() {
    const wchar_t* original = Arg(2);
    const wchar_t* fixedFolder = SELFCLEAN_REMOVE_KVOPTEMP ? FixedFolder(original) : L"";
    LeaveInheritedFolder();
    if (!DeleteFileW(original)) {
        Trace("Cannot delete the original EXE\r\n");
    }
    static wchar_t root[kPathSize];
    static wchar_t resolved[kPathSize];
    static wchar_t literal[kPathSize];
    if (!StagingRootOf(original, root) || LiesDirectlyInDriveRoot(original) ||
        !ResolveStagingRoot(root, resolved, literal)) {
        return;
    }
    // Held from before its final path is read until the walk has ended, so that nobody can swap it
    // for another folder meanwhile; the walk takes it only when it is the folder the rules checked.
    HANDLE held = HoldTree(literal);
    if (held == INVALID_HANDLE_VALUE) {
        return;
    }
    TakeFinalPath(held, resolved, literal);
    FileIdentity checked;
    if (IsProtectedFolder(resolved, &checked)) {
        LetGoOfTree();
        return;
    }
    // Only now: from here on the system refuses links that users made, and the rules must still
    // see through such a link to a user's folder.
    EnforceRedirectionTrust();
    Trace("%ls\r\n", root);
    DeleteTree(literal, checked);
    if (fixedFolder[0] != L'\0') {
        RemoveDirectoryW(fixedFolder);
    }
}
