#include "sandbox.h"

#include <windows.h>

#include "common/common.h"

void RemoveAll(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileA(path.c_str());
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::string name = entry.cFileName;
                if (name != "." && name != "..") {
                    RemoveAll(path + "\\" + name);
                }
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
    }
    RemoveDirectoryA(path.c_str());
}

void MakeFolders(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            CreateDirectoryA(path.substr(0, i).c_str(), NULL);
        }
    }
}

std::string FreshFolder(const std::string& area, const std::string& name) {
    std::string folder = "S:\\" + area + "\\" + name;
    RemoveAll(folder);
    MakeFolders(folder);
    return folder + "\\";
}

void WriteFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, NULL);
    CloseHandle(file);
}

std::string ReadFile(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    char buffer[65536];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer), &read, NULL);
    CloseHandle(file);
    return std::string(buffer, read);
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetReadOnly(const std::string& path) {
    SetFileAttributesA(path.c_str(), GetFileAttributesA(path.c_str()) | FILE_ATTRIBUTE_READONLY);
}

std::string ProgramFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof(path));
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\') + 1);
}

static int CountNow(const std::string& pattern) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int count = 0;
    do {
        ++count;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return count;
}

int CountTemporaryCopies(const std::string& folder) {
    int count = CountNow(folder + "Del*.tmp");
    for (int i = 0; i < 100 && count > 0; ++i) {
        Sleep(50);
        count = CountNow(folder + "Del*.tmp");
    }
    return count;
}

void UseCommandLine(const std::string& commandLine) {
    LoadArguments(commandLine.c_str());
}
