#include "cleanup.h"

#include "../common/common.h"

void ClearReadOnly(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

// Removes an empty folder, or a folder link itself; a failure is traced with the system's
// text and the walk goes on.
static void RemoveFolder(const wchar_t* path) {
    if (!RemoveDirectoryW(path)) {
        TraceSystemError(GetLastError());
    }
}

static bool IsDotEntry(const wchar_t* name) {
    return lstrcmpW(name, L".") == 0 || lstrcmpW(name, L"..") == 0;
}

// The path of the entry in hand. One buffer serves every level of the walk: each level
// appends its entry's name and cuts it off again, so that deep trees cost no stack.
static wchar_t gPath[kPathSize];

static void DeleteFolderAt(int folderLength);

// Appends text to gPath at length; false when it does not fit.
static bool AppendAt(int length, const wchar_t* text) {
    int textLength = lstrlenW(text);
    if (length + textLength >= kPathSize) {
        return false;
    }
    lstrcpyW(gPath + length, text);
    return true;
}

static void DeleteEntry(int folderLength, const WIN32_FIND_DATAW& entry) {
    if (!AppendAt(folderLength, entry.cFileName)) {
        Trace("Entry skipped: its path is too long\r\n");
        return;
    }
    // A link's target lies outside the staged tree: neither its attributes nor its contents
    // are touched, only the link goes.
    bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!isLink) {
        ClearReadOnly(gPath);
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(gPath);
    } else if (IsDotEntry(entry.cFileName)) {
        return;
    } else if (isLink) {
        RemoveFolder(gPath);
    } else if (AppendAt(folderLength + lstrlenW(entry.cFileName), L"\\")) {
        DeleteFolderAt(folderLength + lstrlenW(entry.cFileName) + 1);
    } else {
        Trace("Entry skipped: its path is too long\r\n");
    }
}

// Removes the folder gPath names up to folderLength, a backslash at its end.
static void DeleteFolderAt(int folderLength) {
    if (AppendAt(folderLength, L"*.*")) {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(gPath, &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteEntry(folderLength, entry);
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
    }
    gPath[folderLength] = L'\0';
    RemoveFolder(gPath);
}

void DeleteTree(const wchar_t* folder) {
    if (!AppendAt(0, folder)) {
        Trace("Entry skipped: its path is too long\r\n");
        return;
    }
    DeleteFolderAt(lstrlenW(folder));
}
