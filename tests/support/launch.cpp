#include "launch.h"

#include <tlhelp32.h>
#include <string.h>
#include <wchar.h>

#include <string>

// A running process the launcher watches: a handle to wait on and its id, which its children
// name as their parent.
struct Watched {
    HANDLE handle;
    DWORD id;
};

static bool IsCloneImage(const wchar_t* name) {
    size_t length = wcslen(name);
    return _wcsnicmp(name, L"Del", 3) == 0 && length > 4 &&
           _wcsicmp(name + length - 4, L".tmp") == 0;
}

// The program of the system that the Clone hands its copy's handle on to.
static bool IsKeeperImage(const wchar_t* name) {
    return _wcsicmp(name, L"PING.EXE") == 0;
}

static bool IsSelfcleanImage(const wchar_t* name) {
    return _wcsicmp(name, L"selfclean.exe") == 0;
}

// The child of parentId whose image name matches; a null handle when there is none (yet).
static Watched OpenChild(DWORD parentId, bool (*matches)(const wchar_t*)) {
    Watched child = {NULL, 0};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return child;
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && child.handle == NULL;
         more = Process32NextW(snapshot, &entry)) {
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
static DWORD AwaitWatchingChild(Watched process, bool (*matches)(const wchar_t*), Watched* child) {
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

static const LaunchOptions kPlainCaller = {NULL, NULL, NULL, false, false, NULL};

// A job that ends its processes when it closes, as process managers run what they start.
static HANDLE KillingJob(bool allowBreakaway) {
    HANDLE job = CreateJobObjectW(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof(limits));
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | (allowBreakaway ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0);
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    return job;
}

// Starts the program as options say, in *job when they ask for one.
static bool StartAs(wchar_t* line, const LaunchOptions& options, PROCESS_INFORMATION* started,
                    HANDLE* job) {
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (options.output != NULL) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = options.output;
    }
    BOOL inherit = options.output != NULL || options.passedOn != NULL;
    *job = options.inJob ? KillingJob(options.jobAllowsBreakaway) : NULL;
    if (!CreateProcessW(NULL, line, NULL, NULL, inherit, CREATE_SUSPENDED, NULL, NULL, &startup,
                        started)) {
        return false;
    }
    if (*job != NULL) {
        AssignProcessToJobObject(*job, started->hProcess);
    }
    ResumeThread(started->hThread);
    return true;
}

static bool Start(const wchar_t* commandLine, const wchar_t* tempFolder, Watched* process,
                  const LaunchOptions& options = kPlainCaller, HANDLE* job = NULL) {
    static wchar_t savedTmp[32768];
    static wchar_t savedTemp[32768];
    savedTmp[0] = savedTemp[0] = L'\0';
    GetEnvironmentVariableW(L"TMP", savedTmp, 32768);
    GetEnvironmentVariableW(L"TEMP", savedTemp, 32768);
    if (tempFolder != NULL) {
        SetEnvironmentVariableW(L"TMP", tempFolder);
        SetEnvironmentVariableW(L"TEMP", tempFolder);
    }
    static wchar_t line[32768];
    lstrcpynW(line, commandLine, 32768);
    PROCESS_INFORMATION started;
    HANDLE startedJob;
    bool ok = StartAs(line, options, &started, &startedJob);
    if (job != NULL) {
        *job = startedJob;
    }
    SetEnvironmentVariableW(L"TMP", savedTmp);
    SetEnvironmentVariableW(L"TEMP", savedTemp);
    if (ok) {
        CloseHandle(started.hThread);
        *process = {started.hProcess, started.dwProcessId};
    }
    return ok;
}

// Reads a whole file; false when it cannot. The Clone's copy is held open delete-on-close, so it
// opens only for a caller that shares its deletion.
static bool ReadWhole(const wchar_t* path, std::string* content) {
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    content->clear();
    char buffer[65536];
    DWORD read = 0;
    bool ok;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &read, NULL) != FALSE) && read > 0) {
        content->append(buffer, read);
    }
    CloseHandle(file);
    return ok;
}

static bool SameBytes(const wchar_t* path, const wchar_t* expected) {
    std::string content;
    std::string expectedContent;
    return ReadWhole(path, &content) && ReadWhole(expected, &expectedContent) &&
           content == expectedContent;
}

// Whether the pipe has no writer left.
static bool IsPipeClosed(HANDLE reader) {
    return !PeekNamedPipe(reader, NULL, 0, NULL, NULL, NULL) && GetLastError() == ERROR_BROKEN_PIPE;
}

// Waits for an Original that has started, for the Clone it hands off to and for the program
// that holds the Clone's copy open after the Clone's end. The job, if any, is closed once the
// Original has ended.
static LaunchResult AwaitOriginal(Watched original, const LaunchOptions& options = kPlainCaller,
                                  HANDLE job = NULL) {
    LaunchResult result = {true, 0, false, 0, false, false, false};
    Watched clone;
    result.exitCode = AwaitWatchingChild(original, IsCloneImage, &clone);
    if (job != NULL && options.jobAllowsBreakaway) {
        CloseHandle(job);
    }
    if (clone.handle != NULL) {
        result.cloneSeen = true;
        Watched keeper;
        static wchar_t copy[32768];
        DWORD size = 32768;
        bool named = QueryFullProcessImageNameW(clone.handle, 0, copy, &size) != FALSE;
        result.copyMatched =
            named && options.expectedCopy != NULL && SameBytes(copy, options.expectedCopy);
        result.cloneExitCode = AwaitWatchingChild(clone, IsKeeperImage, &keeper);
        result.copyHeldAtCloneEnd = named && GetFileAttributesW(copy) != INVALID_FILE_ATTRIBUTES &&
                                    keeper.handle != NULL &&
                                    WaitForSingleObject(keeper.handle, 0) == WAIT_TIMEOUT;
        if (options.outputReader != NULL) {
            result.outputClosedAtCloneEnd = IsPipeClosed(options.outputReader) &&
                                            keeper.handle != NULL &&
                                            WaitForSingleObject(keeper.handle, 0) == WAIT_TIMEOUT;
        }
        if (keeper.handle != NULL) {
            WaitForSingleObject(keeper.handle, 120000);
            CloseHandle(keeper.handle);
        }
    }
    return result;
}

LaunchResult Launch(const wchar_t* commandLine, const wchar_t* tempFolder,
                    const LaunchOptions* options) {
    const LaunchOptions& caller = options != NULL ? *options : kPlainCaller;
    Watched original;
    HANDLE job;
    bool started = Start(commandLine, tempFolder, &original, caller, &job);
    for (HANDLE handle : {caller.output, caller.passedOn}) {
        if (handle != NULL) {
            CloseHandle(handle);
        }
    }
    if (!started) {
        LaunchResult notStarted = {false, 0, false, 0, false, false, false};
        return notStarted;
    }
    LaunchResult result = AwaitOriginal(original, caller, job);
    if (job != NULL && !caller.jobAllowsBreakaway) {
        CloseHandle(job);
    }
    return result;
}

InstallerResult LaunchInstaller(const wchar_t* commandLine, const wchar_t* tempFolder) {
    InstallerResult result = {false, 0, false, {false, 0, false, 0, false, false, false}};
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

static std::wstring WideFromUtf8(const char* text) {
    int size = static_cast<int>(strlen(text));
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text, size, NULL, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

LaunchResult Launch(const char* commandLine, const char* tempFolder, const LaunchOptions* options) {
    std::wstring folder = tempFolder != NULL ? WideFromUtf8(tempFolder) : L"";
    return Launch(WideFromUtf8(commandLine).c_str(), tempFolder != NULL ? folder.c_str() : NULL,
                  options);
}

InstallerResult LaunchInstaller(const char* commandLine, const char* tempFolder) {
    std::wstring folder = tempFolder != NULL ? WideFromUtf8(tempFolder) : L"";
    return LaunchInstaller(WideFromUtf8(commandLine).c_str(),
                           tempFolder != NULL ? folder.c_str() : NULL);
}
