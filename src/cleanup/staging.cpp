#include "cleanup.h"

#include <stdlib.h>
#include <string.h>

#include "../common/common.h"

void DeleteHostIni() {
    char windows[kPathSize + 1];
    GetWindowsDirectoryA(windows, sizeof(windows));
    char path[kPathSize];
    if (FormatText(path, sizeof(path), "%s\\HOST.INI", windows)) {
        DeleteFileA(path);
    }
}

static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Length of the folder name at the start of path, up to the next separator; a double-byte
// pair is never split.
static int FolderNameLength(const char* path) {
    int length = 0;
    while (path[length] != '\0' && !IsSeparator(path[length])) {
        length += IsDBCSLeadByte(static_cast<BYTE>(path[length])) && path[length + 1] ? 2 : 1;
    }
    return length;
}

// A name the platform would fold into its parent or grandparent: "", ".", "..", "...".
static bool IsDotsOnly(const char* name, int length) {
    for (int i = 0; i < length; ++i) {
        if (name[i] != '.') {
            return false;
        }
    }
    return true;
}

// Counts the folder names between the root and the file name; -1 when one of them is empty or
// made of dots only.
static int CountFolders(const char* afterRoot) {
    int folders = 0;
    const char* name = afterRoot + 1;
    for (;;) {
        int length = FolderNameLength(name);
        if (name[length] == '\0') {
            return folders;
        }
        if (IsDotsOnly(name, length)) {
            return -1;
        }
        ++folders;
        name += length + 1;
    }
}

// Where the path's root ends: after "X:" for a drive path, after "\\server\share" for a
// share; NULL for a relative path or a device or literal path ("\\?\", "\\.\").
static const char* SkipRoot(const char* path) {
    if (path[0] != '\0' && path[1] == ':') {
        return IsSeparator(path[2]) ? path + 2 : NULL;
    }
    if (!IsSeparator(path[0]) || !IsSeparator(path[1])) {
        return NULL;
    }
    const char* server = path + 2;
    int serverLength = FolderNameLength(server);
    if (IsDotsOnly(server, serverLength) || (serverLength == 1 && server[0] == '?') ||
        !IsSeparator(server[serverLength])) {
        return NULL;
    }
    const char* share = server + serverLength + 1;
    int shareLength = FolderNameLength(share);
    return IsDotsOnly(share, shareLength) ? NULL : share + shareLength;
}

// Length of the directory component as the path splitting yields it: from after the drive up
// to and including the last separator.
static int DirectoryLength(const char* path) {
    const char* start = path[0] != '\0' && path[1] == ':' ? path + 2 : path;
    int length = 0;
    for (const char* p = start; *p != '\0';) {
        if (IsSeparator(*p)) {
            length = static_cast<int>(++p - start);
        } else {
            p += FolderNameLength(p);
        }
    }
    return length;
}

bool StagingRootOf(const char* executablePath, char* root) {
    const char* afterRoot = SkipRoot(executablePath);
    if (afterRoot == NULL) {
        Trace("Staging folder kept: the executable path is not absolute\r\n");
        return false;
    }
    if (DirectoryLength(executablePath) >= _MAX_DIR) {
        Trace("Staging folder kept: the executable's folder path is too long\r\n");
        return false;
    }
    if (CountFolders(afterRoot) < 2) {
        Trace("Staging folder kept: it would not lie below a drive or share root\r\n");
        return false;
    }
    char drive[_MAX_DRIVE];
    char directory[_MAX_DIR];
    _splitpath(executablePath, drive, directory, NULL, NULL);
    if (!FormatText(root, kPathSize, "%s%s..\\", drive, directory)) {
        Trace("Staging folder kept: its path is too long\r\n");
        return false;
    }
    return true;
}

// kvoptemp is named relative to the current folder the Clone inherited. Its full path is taken
// once, before that folder is left, so that the removal pass after an exception, which runs from
// the system directory, still names the same folder. Empty when it cannot be resolved.
static const char* FixedFolder(const char* executablePath) {
    static char fixedFolder[kPathSize];
    static bool resolved;
    if (!resolved) {
        resolved = true;
        char drive[_MAX_DRIVE];
        _splitpath(executablePath, drive, NULL, NULL, NULL);
        char relative[kPathSize];
        DWORD length = 0;
        if (FormatText(relative, sizeof(relative), "%skvoptemp", drive)) {
            length = GetFullPathNameA(relative, sizeof(fixedFolder), fixedFolder, NULL);
        }
        if (length == 0 || length >= sizeof(fixedFolder)) {
            fixedFolder[0] = '\0';
        }
    }
    return fixedFolder;
}

// The caller's current folder, which the Clone inherits, often lies in what it unpacked, and a
// process's current folder cannot be removed. The system directory lies outside any staged tree.
static void LeaveInheritedFolder() {
    char system[kPathSize];
    DWORD length = GetSystemDirectoryA(system, sizeof(system));
    if (length > 0 && length < sizeof(system)) {
        SetCurrentDirectoryA(system);
    }
}

void RemoveStagingFolders() {
    const char* original = Arg(2);
    const char* fixedFolder = FixedFolder(original);
    LeaveInheritedFolder();
    if (!DeleteFileA(original)) {
        Trace("Cannot delete the original EXE\r\n");
    }
    char root[kPathSize];
    if (!StagingRootOf(original, root) || IsProtectedFolder(root)) {
        return;
    }
    Trace("%s\r\n", root);
    DeleteTree(root);
    if (fixedFolder[0] != '\0') {
        RemoveDirectoryA(fixedFolder);
    }
}
