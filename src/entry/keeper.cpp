#include "keeper.h"

#include "../common/common.h"

// PING waits a second between its echoes, so it runs for about two seconds: long past the end of
// the Clone that starts it. It lies in the system directory on every version of the system.
static const wchar_t kKeeperName[] = L"\\PING.EXE";

void HandOnCopyHandle(HANDLE copy) {
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    wchar_t program[MAX_PATH + sizeof(kKeeperName) / sizeof(wchar_t)];
    lstrcpyW(program, folder);
    lstrcatW(program, kKeeperName);
    // The system may write into the command line.
    wchar_t commandLine[] = L"PING.EXE -n 3 127.0.0.1";
    PROCESS_INFORMATION keeper;
    // By its full path, so that no folder the search would try first can offer another program.
    // Only the copy's handle: a caller's pipe passed on would stay open for as long as it runs.
    if (StartProcess(program, commandLine, CREATE_NO_WINDOW, folder, &copy, 1, &keeper)) {
        CloseHandle(keeper.hThread);
        CloseHandle(keeper.hProcess);
    }
}

void RemoveCopyAtRestart(const wchar_t* copyPath) {
    MoveFileExW(copyPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}
