#include "common.h"

typedef BOOL(WINAPI* InitializeAttributesCall)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
typedef BOOL(WINAPI* UpdateAttributeCall)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID,
                                          SIZE_T, PVOID, PSIZE_T);
typedef void(WINAPI* DeleteAttributesCall)(LPPROC_THREAD_ATTRIBUTE_LIST);

// A list of one attribute takes a few dozen bytes on every system.
const SIZE_T kAttributeListRoom = 64;

// Keeps the handles that name something: neither NULL nor INVALID_HANDLE_VALUE.
static int ValidHandles(const HANDLE* handles, int count, HANDLE* valid) {
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        if (handles[i] != NULL && handles[i] != INVALID_HANDLE_VALUE) {
            valid[kept++] = handles[i];
        }
    }
    return kept;
}

// Makes the handles the only ones the new process inherits; false where the system has no such
// list (it came after the oldest systems the program starts on, so it is looked up).
static bool ListHandles(STARTUPINFOEXW* startup, void* room, HANDLE* handles, int count) {
    InitializeAttributesCall initialize = reinterpret_cast<InitializeAttributesCall>(
        SystemProcedure(L"kernel32.dll", "InitializeProcThreadAttributeList"));
    UpdateAttributeCall update = reinterpret_cast<UpdateAttributeCall>(
        SystemProcedure(L"kernel32.dll", "UpdateProcThreadAttribute"));
    LPPROC_THREAD_ATTRIBUTE_LIST list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(room);
    SIZE_T size = kAttributeListRoom;
    if (initialize == NULL || update == NULL || !initialize(list, 1, 0, &size)) {
        return false;
    }
    startup->lpAttributeList = list;
    return update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE), NULL,
                  NULL) != FALSE;
}

static void ReleaseList(STARTUPINFOEXW* startup) {
    DeleteAttributesCall release = reinterpret_cast<DeleteAttributesCall>(
        SystemProcedure(L"kernel32.dll", "DeleteProcThreadAttributeList"));
    if (startup->lpAttributeList != NULL && release != NULL) {
        release(startup->lpAttributeList);
    }
}

// A process manager may run its programs in a job that ends all of them when it closes, as soon
// as the installer has returned: the new process leaves it where the job allows that.
static bool CreateOutsideJob(const wchar_t* program, wchar_t* commandLine, BOOL inherit,
                             DWORD flags, const wchar_t* folder, STARTUPINFOEXW* startup,
                             PROCESS_INFORMATION* started) {
    if (CreateProcessW(program, commandLine, NULL, NULL, inherit, flags | CREATE_BREAKAWAY_FROM_JOB,
                       NULL, folder, &startup->StartupInfo, started)) {
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED &&
           CreateProcessW(program, commandLine, NULL, NULL, inherit, flags, NULL, folder,
                          &startup->StartupInfo, started);
}

bool StartProcess(const wchar_t* program, wchar_t* commandLine, DWORD flags, const wchar_t* folder,
                  const HANDLE* handles, int count, PROCESS_INFORMATION* started) {
    HANDLE valid[kMostPassedHandles];
    int passed =
        ValidHandles(handles, count < kMostPassedHandles ? count : kMostPassedHandles, valid);
    STARTUPINFOEXW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.StartupInfo.cb = sizeof(startup.StartupInfo);
    // No standard handles: the caller's, a pipe it reads to the end say, stay with it.
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    DWORD_PTR room[kAttributeListRoom / sizeof(DWORD_PTR)];
    if (passed > 0 && ListHandles(&startup, room, valid, passed)) {
        startup.StartupInfo.cb = sizeof(startup);
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    bool created =
        CreateOutsideJob(program, commandLine, passed > 0, flags, folder, &startup, started);
    ReleaseList(&startup);
    return created;
}
