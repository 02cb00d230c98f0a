#include "common.h"

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Length of the folder name at the start of path, up to the next separator.
static int FolderNameLength(const wchar_t* path) {
    int length = 0;
    while (path[length] != L'\0' && !IsSeparator(path[length])) {
        ++length;
    }
    return length;
}

// A name the platform would fold into its parent or grandparent: "", ".", "..", "...".
static bool IsDotsOnly(const wchar_t* name, int length) {
    for (int i = 0; i < length; ++i) {
        if (name[i] != L'.') {
            return false;
        }
    }
    return true;
}

int CountFolders(const wchar_t* afterRoot) {
    int folders = 0;
    const wchar_t* name = afterRoot + 1;
    for (;;) {
        int length = FolderNameLength(name);
        if (name[length] == L'\0') {
            return folders;
        }
        if (IsDotsOnly(name, length)) {
            return -1;
        }
        ++folders;
        name += length + 1;
    }
}

const wchar_t* SkipRoot(const wchar_t* path) {
    if (path[0] != L'\0' && path[1] == L':') {
        return IsSeparator(path[2]) ? path + 2 : NULL;
    }
    if (!IsSeparator(path[0]) || !IsSeparator(path[1])) {
        return NULL;
    }
    const wchar_t* server = path + 2;
    int serverLength = FolderNameLength(server);
    if (IsDotsOnly(server, serverLength) || (serverLength == 1 && server[0] == L'?') ||
        !IsSeparator(server[serverLength])) {
        return NULL;
    }
    const wchar_t* share = server + serverLength + 1;
    int shareLength = FolderNameLength(share);
    return IsDotsOnly(share, shareLength) ? NULL : share + shareLength;
}

bool LiteralPathOf(const wchar_t* fullPath, wchar_t* literal) {
    if (SkipRoot(fullPath) == NULL) {
        return false;
    }
    if (fullPath[1] == L':') {
        return FormatText(literal, kPathSize, "\\\\?\\%ls", fullPath);
    }
    return FormatText(literal, kPathSize, "\\\\?\\UNC\\%ls", fullPath + 2);
}
