#include "launch.h"

#include <tlhelp32.h>
#include <string.h>
#include <wchar.h>

#include <string>

static bool IsCloneImage(const wchar_t* name) {
    size_t length = wcslen(name);
    return _wcsnicmp(name, L"Del", 3) == 0 && length > 4 &&
           _wcsicmp(name + length - 4, L".tmp") == 0;
}

// The Clone is the child of the Original that runs from the temporary copy.
static HANDLE OpenClone(DWORD originalId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    HANDLE clone = NULL;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && clone == NULL;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == originalId && IsCloneImage(entry.szExeFile)) {
            clone =
                OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return clone;
}

static void SetTempFolder(const wchar_t* folder) {
    SetEnvironmentVariableW(L"TMP", folder);
    SetEnvironmentVariableW(L"TEMP", folder);
}

LaunchResult Launch(const wchar_t* commandLine, const wchar_t* tempFolder) {
    LaunchResult result = {false, 0, false, 0};
    static wchar_t savedTmp[32768];
    static wchar_t savedTemp[32768];
    savedTmp[0] = savedTemp[0] = L'\0';
    GetEnvironmentVariableW(L"TMP", savedTmp, 32768);
    GetEnvironmentVariableW(L"TEMP", savedTemp, 32768);
    if (tempFolder != NULL) {
        SetTempFolder(tempFolder);
    }
    static wchar_t line[32768];
    lstrcpynW(line, commandLine, 32768);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION original;
    result.started =
        CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &original) != FALSE;
    SetEnvironmentVariableW(L"TMP", savedTmp);
    SetEnvironmentVariableW(L"TEMP", savedTemp);
    if (!result.started) {
        return result;
    }
    CloseHandle(original.hThread);

    HANDLE clone = NULL;
    while (WaitForSingleObject(original.hProcess, 20) == WAIT_TIMEOUT) {
        if (clone == NULL) {
            clone = OpenClone(original.dwProcessId);
        }
    }
    GetExitCodeProcess(original.hProcess, &result.exitCode);
    if (clone == NULL) {
        clone = OpenClone(original.dwProcessId);
    }
    CloseHandle(original.hProcess);
    if (clone != NULL) {
        result.cloneSeen = true;
        WaitForSingleObject(clone, 120000);
        GetExitCodeProcess(clone, &result.cloneExitCode);
        CloseHandle(clone);
    }
    return result;
}

static std::wstring WideFromUtf8(const char* text) {
    int size = static_cast<int>(strlen(text));
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text, size, NULL, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

LaunchResult Launch(const char* commandLine, const char* tempFolder) {
    std::wstring folder = tempFolder != NULL ? WideFromUtf8(tempFolder) : L"";
    return Launch(WideFromUtf8(commandLine).c_str(), tempFolder != NULL ? folder.c_str() : NULL);
}
