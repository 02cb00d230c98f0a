#include "sandbox.h"

#include <windows.h>

#include "common/common.h"

std::wstring Wide(const std::string& utf8) {
    int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), NULL,
                                     0, NULL, NULL);
    std::string utf8(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], length,
                        NULL, NULL);
    return utf8;
}

// Long paths are reached through their literal form.
static std::wstring FileName(const std::string& path) {
    std::wstring wide = Wide(path);
    if (wide.size() >= MAX_PATH - 12 && wide.size() > 2 && wide[1] == L':') {
        return L"\\\\?\\" + wide;
    }
    return wide;
}

void RemoveAll(const std::string& path) {
    DWORD attributes = GetFileAttributesW(FileName(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    SetFileAttributesW(FileName(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(FileName(path).c_str());
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(FileName(path + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::string name = Utf8(entry.cFileName);
                if (name != "." && name != "..") {
                    RemoveAll(path + "\\" + name);
                }
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
    }
    RemoveDirectoryW(FileName(path).c_str());
}

void MakeFolders(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            CreateDirectoryW(FileName(path.substr(0, i)).c_str(), NULL);
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
    HANDLE file =
        CreateFileW(FileName(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, NULL);
    CloseHandle(file);
}

std::string ReadFile(const std::string& path) {
    HANDLE file = CreateFileW(FileName(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    static char buffer[262144];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer), &read, NULL);
    CloseHandle(file);
    return std::string(buffer, read);
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(FileName(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetReadOnly(const std::string& path) {
    std::wstring name = FileName(path);
    SetFileAttributesW(name.c_str(), GetFileAttributesW(name.c_str()) | FILE_ATTRIBUTE_READONLY);
}

bool CopyTo(const std::string& from, const std::string& to) {
    return CopyFileW(FileName(from).c_str(), FileName(to).c_str(), FALSE) != FALSE;
}

std::string Environment(const std::string& name) {
    static wchar_t value[32768];
    DWORD length = GetEnvironmentVariableW(Wide(name).c_str(), value, 32768);
    return length > 0 && length < 32768 ? Utf8(value) : "";
}

void SetEnvironment(const std::string& name, const std::string& value) {
    SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str());
}

std::string ProgramFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    std::string folder = Utf8(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}

static int CountNow(const std::string& pattern) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(FileName(pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int count = 0;
    do {
        ++count;
    } while (FindNextFileW(search, &entry));
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
    LoadArguments(Wide(commandLine).c_str());
}
