#include "cleanup.h"

#include <string.h>

#include "../common/common.h"

void ClearReadOnly(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

// Removes an empty folder, or a folder link itself; a failure is traced with the system's
// text and the walk goes on.
static void RemoveFolder(const char* path) {
    if (!RemoveDirectoryA(path)) {
        TraceSystemError(GetLastError());
    }
}

static bool IsDotEntry(const char* name) {
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

static void DeleteEntry(const char* folder, const WIN32_FIND_DATAA& entry) {
    char path[kPathSize];
    if (!FormatText(path, sizeof(path), "%s%s", folder, entry.cFileName)) {
        Trace("Entry skipped: its path is too long\r\n");
        return;
    }
    // A link's target lies outside the staged tree: neither its attributes nor its contents
    // are touched, only the link goes.
    bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!isLink) {
        ClearReadOnly(path);
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileA(path);
    } else if (IsDotEntry(entry.cFileName)) {
        return;
    } else if (isLink) {
        RemoveFolder(path);
    } else if (FormatText(path, sizeof(path), "%s%s\\", folder, entry.cFileName)) {
        DeleteTree(path);
    } else {
        Trace("Entry skipped: its path is too long\r\n");
    }
}

void DeleteTree(const char* folder) {
    char pattern[kPathSize];
    if (FormatText(pattern, sizeof(pattern), "%s*.*", folder)) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(pattern, &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteEntry(folder, entry);
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    RemoveFolder(folder);
}
