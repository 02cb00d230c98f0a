#include "launch.h"

#include <tlhelp32.h>
#include <string.h>

static bool IsCloneImage(const char* name) {
    size_t length = strlen(name);
    return _strnicmp(name, "Del", 3) == 0 && length > 4 && _stricmp(name + length - 4, ".tmp") == 0;
}

// The Clone is the child of the Original that runs from the temporary copy.
static HANDLE OpenClone(DWORD originalId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    HANDLE clone = NULL;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more && clone == NULL;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == originalId && IsCloneImage(entry.szExeFile)) {
            clone =
                OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return clone;
}

static void SetTempFolder(const char* folder) {
    SetEnvironmentVariableA("TMP", folder);
    SetEnvironmentVariableA("TEMP", folder);
}

LaunchResult Launch(const char* commandLine, const char* tempFolder) {
    LaunchResult result = {false, 0, false, 0};
    char savedTmp[MAX_PATH] = "";
    char savedTemp[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", savedTmp, sizeof(savedTmp));
    GetEnvironmentVariableA("TEMP", savedTemp, sizeof(savedTemp));
    if (tempFolder != NULL) {
        SetTempFolder(tempFolder);
    }
    static char line[32768];
    lstrcpynA(line, commandLine, sizeof(line));
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION original;
    result.started =
        CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &original) != FALSE;
    SetEnvironmentVariableA("TMP", savedTmp);
    SetEnvironmentVariableA("TEMP", savedTemp);
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
