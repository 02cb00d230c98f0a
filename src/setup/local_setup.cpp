#include "setup.h"

#include "../common/common.h"

// The setup's exit code when it needs a reboot before the staging folder may go.
const DWORD kRebootNeeded = 4096;

// CreateProcessW may write into the command line, so it gets a copy that holds any command
// line the platform accepts.
static wchar_t gSetupCommandLine[32768];

static void TraceSetupArguments() {
    Trace("LocalSetup cmd line = %ls\r\n", gSetupCommandLine);
    Trace("Starting drive and directory = %ls\r\n", Arg(3));
    Trace(" %ls\r\n", Arg(4));
}

StartCall gSetupStartStandIn = NULL;

// The setup starts as the system would start it: with the system's error mode, not the silent one
// this process has set, so that it keeps the system's prompts and crash reporting.
static bool StartSetup(PROCESS_INFORMATION* process) {
    // The process and the thread handle are both inheritable.
    SECURITY_ATTRIBUTES inheritable = InheritableHandleAttributes();
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    const wchar_t* directory = ArgCount() >= 4 ? Arg(3) : NULL;
    StartCall start = gSetupStartStandIn != NULL ? gSetupStartStandIn : CreateProcessW;
    return start(NULL, gSetupCommandLine, &inheritable, &inheritable, FALSE,
                 HIGH_PRIORITY_CLASS | CREATE_DEFAULT_ERROR_MODE, NULL, directory, &startup,
                 process) != FALSE;
}

static void TraceLaunchFailure() {
    Trace("Launch setup failed\r\n");
    TraceSystemError(GetLastError());
    Trace("Delete HOST.INI file.\r\n");
}

// Waits for the setup and counts a reboot it asks for.
static void AwaitSetup(HANDLE setup) {
    if (WaitForSingleObject(setup, INFINITE) == WAIT_FAILED) {
        return;
    }
    DWORD exitCode;
    if (GetExitCodeProcess(setup, &exitCode)) {
        Trace("Setup Exit Code= %d\r\n", static_cast<int>(exitCode));
        if (exitCode == kRebootNeeded) {
            SetWaitingReboot();
        }
    }
    Trace("Local Setup terminated\r\n");
}

bool RunLocalSetup() {
    if (ArgCount() < 3) {
        return false;
    }
    if (ArgCount() >= 5 && EqualsIgnoringAsciiCase(Arg(4), "RunOnce")) {
        ClearWaitingReboot();
    }
    lstrcpynW(gSetupCommandLine, Arg(2), sizeof(gSetupCommandLine) / sizeof(gSetupCommandLine[0]));
    TraceSetupArguments();

    PROCESS_INFORMATION process;
    if (!StartSetup(&process)) {
        TraceLaunchFailure();
        return false;
    }
    CloseHandle(process.hThread);
    AwaitSetup(process.hProcess);
    CloseHandle(process.hProcess);
    return !IsWaitingReboot();
}
