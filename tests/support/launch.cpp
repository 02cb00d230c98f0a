#include "launch.h"

#include <tlhelp32.h>
#include <string.h>

// A running process the launcher watches: a handle to wait on and its id, which its children
// name as their parent.
struct Watched {
    HANDLE handle;
    DWORD id;
};

static bool IsCloneImage(const char* name) {
    size_t length = strlen(name);
    return _strnicmp(name, "Del", 3) == 0 && length > 4 && _stricmp(name + length - 4, ".tmp") == 0;
}

// The program of the system that the Clone hands its copy's handle on to.
static bool IsKeeperImage(const char* name) {
    return _stricmp(name, "PING.EXE") == 0;
}

static bool IsSelfcleanImage(const char* name) {
    return _stricmp(name, "selfclean.exe") == 0;
}

// The child of parentId whose image name matches; a null handle when there is none (yet).
static Watched OpenChild(DWORD parentId, bool (*matches)(const char*)) {
    Watched child = {NULL, 0};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return child;
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more && child.handle == NULL;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parentId && matches(entry.szExeFile)) {
            child.handle =
                OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
            child.id = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return child;
}

// Waits for process and returns its exit code, watching meanwhile for the child it starts, so
// that a child which outlives it is still found (*child stays null when none was seen).
static DWORD AwaitWatchingChild(Watched process, bool (*matches)(const char*), Watched* child) {
    *child = {NULL, 0};
    while (WaitForSingleObject(process.handle, 20) == WAIT_TIMEOUT) {
        if (child->handle == NULL) {
            *child = OpenChild(process.id, matches);
        }
    }
    if (child->handle == NULL) {
        *child = OpenChild(process.id, matches);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.handle, &exitCode);
    CloseHandle(process.handle);
    return exitCode;
}

static bool Start(const char* commandLine, const char* tempFolder, Watched* process) {
    char savedTmp[MAX_PATH] = "";
    char savedTemp[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", savedTmp, sizeof(savedTmp));
    GetEnvironmentVariableA("TEMP", savedTemp, sizeof(savedTemp));
    if (tempFolder != NULL) {
        SetEnvironmentVariableA("TMP", tempFolder);
        SetEnvironmentVariableA("TEMP", tempFolder);
    }
    static char line[32768];
    lstrcpynA(line, commandLine, sizeof(line));
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started;
    bool ok =
        CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started) != FALSE;
    SetEnvironmentVariableA("TMP", savedTmp);
    SetEnvironmentVariableA("TEMP", savedTemp);
    if (ok) {
        CloseHandle(started.hThread);
        *process = {started.hProcess, started.dwProcessId};
    }
    return ok;
}

// Waits for an Original that has started, for the Clone it hands off to and for the program
// that holds the Clone's copy open after the Clone's end.
static LaunchResult AwaitOriginal(Watched original) {
    LaunchResult result = {true, 0, false, 0};
    Watched clone;
    result.exitCode = AwaitWatchingChild(original, IsCloneImage, &clone);
    if (clone.handle != NULL) {
        result.cloneSeen = true;
        Watched keeper;
        result.cloneExitCode = AwaitWatchingChild(clone, IsKeeperImage, &keeper);
        if (keeper.handle != NULL) {
            WaitForSingleObject(keeper.handle, 120000);
            CloseHandle(keeper.handle);
        }
    }
    return result;
}

LaunchResult Launch(const char* commandLine, const char* tempFolder) {
    Watched original;
    if (!Start(commandLine, tempFolder, &original)) {
        LaunchResult notStarted = {false, 0, false, 0};
        return notStarted;
    }
    return AwaitOriginal(original);
}

InstallerResult LaunchInstaller(const char* commandLine, const char* tempFolder) {
    InstallerResult result = {false, 0, false, {false, 0, false, 0}};
    Watched installer;
    result.started = Start(commandLine, tempFolder, &installer);
    if (!result.started) {
        return result;
    }
    Watched selfclean;
    result.exitCode = AwaitWatchingChild(installer, IsSelfcleanImage, &selfclean);
    if (selfclean.handle != NULL) {
        result.selfcleanSeen = true;
        result.selfclean = AwaitOriginal(selfclean);
    }
    return result;
}
