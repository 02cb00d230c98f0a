#include "entry.h"

#include "../cleanup/cleanup.h"
#include "../deletion/deletion.h"
#include "../common/common.h"
#include "../setup/setup.h"
#include "guard.h"
#include "keeper.h"
#include "loader.h"

// How long the Original keeps the copy's delete-on-close handle open for the Clone to start.
const DWORD kCloneStartWait = 8000;
// The longest command line the platform starts, and its terminator.
const int kCloneCommandLineSize = 32768;
// The copy's open waits out a hold on it within this many milliseconds.
const DWORD kCopyHoldBudget = 2000;

static void TraceArguments() {
    Trace("Program arguments: \r\n");
    for (int i = 0; i < ArgCount(); ++i) {
        Trace("__argv[%d] = %ls\r\n", i, Arg(i));
    }
}

// The role number: below zero for the Original, otherwise the Original's process handle.
static int RoleNumber() {
    return DecimalValue(Arg(1));
}

// The Clone's inherited handle to its own delete-on-close copy, 0 when it has none.
static HANDLE CopyHandle() {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(DecimalValue(Arg(3))));
}

static void RunClone() {
    Trace("Clone EXE\r\n");
    HANDLE original = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(RoleNumber()));
    WaitForSingleObject(original, INFINITE);
    CloseHandle(original);
    DeleteHostIni();
    RemoveStagingFolders();
    Trace("Clone EXE terminated\r\n");
    HandOnCopyHandle(CopyHandle());
}

bool FormatCloneCommandLine(wchar_t* out, int capacity, const wchar_t* copyPath, HANDLE original,
                            const wchar_t* originalPath, HANDLE copy) {
    return FormatText(out, capacity, "\"%ls\" %d \"%ls\" %d", copyPath,
                      static_cast<int>(reinterpret_cast<INT_PTR>(original)), originalPath,
                      static_cast<int>(reinterpret_cast<INT_PTR>(copy)));
}

// Scanners hold every new executable in the temporary folder for a moment: the open waits that
// out, within kCopyHoldBudget milliseconds, with waits that grow.
static HANDLE OpenDeleteOnClose(const wchar_t* copyPath) {
    // Inheritable: the Clone, and the program it hands the handle on to, hold it too.
    SECURITY_ATTRIBUTES inheritable = InheritableHandleAttributes();
    DWORD wait = kFirstRetryWait;
    DWORD timeLeft = kCopyHoldBudget;
    HANDLE copy;
    do {
        copy = CreateFileW(copyPath, 0, FILE_SHARE_READ, &inheritable, OPEN_EXISTING,
                           FILE_FLAG_DELETE_ON_CLOSE, NULL);
    } while (copy == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION &&
             WaitWithin(&wait, &timeLeft));
    return copy;
}

HANDLE OpenDisposableCopy(const wchar_t* selfPath, const wchar_t* copyPath) {
    CopyFileW(selfPath, copyPath, FALSE);
    // A read-only original passes its attribute on, and a read-only file cannot be opened for
    // deletion.
    ClearReadOnly(copyPath);
    HANDLE copy = OpenDeleteOnClose(copyPath);
    if (copy == INVALID_HANDLE_VALUE) {
        RemoveCopyAtRestart(copyPath);
    }
    return copy;
}

// The Clone inherits the two handles it needs and nothing else of what this process was given:
// an installer's inheritable handle to a file of the staged tree would keep that file.
static bool StartClone(wchar_t* commandLine, HANDLE self, HANDLE copy, PROCESS_INFORMATION* clone) {
    HANDLE passed[kMostPassedHandles];
    passed[0] = self;
    passed[1] = copy;
    return StartProcess(NULL, commandLine, 0, NULL, passed, 2, clone);
}

// Copies the executable to a new temporary file, held delete-on-close, and starts the copy as
// the Clone with inheritable handles to this process, which the Clone waits on, and to the copy.
static void HandOffToClone() {
    static wchar_t selfPath[kPathSize];
    DWORD selfLength = GetModuleFileNameW(NULL, selfPath, kPathSize);
    bool selfPathWhole = selfLength > 0 && selfLength < static_cast<DWORD>(kPathSize);

    static wchar_t copyPath[kPathSize];
    DWORD folderLength = GetTempPathW(kPathSize, copyPath);
    // Without a new temporary file the buffer names the temporary folder, which must never be
    // opened delete-on-close, or nothing at all when the folder's path does not fit.
    bool copyMade = folderLength > 0 && folderLength < static_cast<DWORD>(kPathSize) &&
                    GetTempFileNameW(copyPath, L"Del", 0, copyPath) != 0;
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (copyMade) {
        copy = OpenDisposableCopy(selfPath, copyPath);
    }
    HANDLE self = OpenProcess(SYNCHRONIZE, TRUE, GetCurrentProcessId());

    static wchar_t commandLine[kCloneCommandLineSize];
    PROCESS_INFORMATION clone;
    if (selfPathWhole && copyMade &&
        FormatCloneCommandLine(commandLine, kCloneCommandLineSize, copyPath, self, selfPath,
                               copy != INVALID_HANDLE_VALUE ? copy : NULL) &&
        StartClone(commandLine, self, copy, &clone)) {
        WaitForSingleObject(clone.hProcess, kCloneStartWait);
        CloseHandle(clone.hThread);
        CloseHandle(clone.hProcess);
    } else {
        Trace("Cannot start Clone.EXE\r\n");
    }
    CloseHandle(self);
    CloseHandle(copy);
    Trace("Original EXE terminated\r\n");
}

// The setup starts with the DLL search the system gives a program: a setup may load DLLs from the
// folder it starts in, which the narrowed search leaves out. Where the DLL directory is what
// narrows it, which programs started from here inherit, it is narrowed again once the setup has
// ended, for the hand-off and the Clone: SafeDllSearchMode may be off on those systems, and the
// current folder, the caller's, would then come before the system directory.
static void RunOriginal() {
    Trace("Original EXE\r\n");
    LeaveDllSearchToTheSystem();
    bool proceeds = RunLocalSetup();
    RestrictDllSearch();
    if (proceeds) {
        HandOffToClone();
    }
}

// The program shows nothing: no prompt for a missing disk or an unreadable file, no crash dialog.
// The DLL search is narrowed before anything could load a DLL by name: the Clone runs from the
// temporary folder, where others may have placed DLLs named like those the system libraries
// load later. Both come first in the guarded run, so that a fault in them still ends with 0.
static void PrepareProcess() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    RestrictDllSearch();
}

static void RunRole() {
    PrepareProcess();
    TraceArguments();
    if (ArgCount() < 3) {
        return;
    }
    if (RoleNumber() >= 0) {
        RunClone();
    } else {
        RunOriginal();
    }
}

// Whatever was interrupted is given up; only the Clone's removal is run again, without
// waiting for the Original, since it may be all that is left to do.
static void HandleException(DWORD code) {
    Trace("An application exception was occured!\r\n");
    Trace("ExceptionCode= %d", static_cast<int>(code));
    // Without a role and an executable path there is nothing to remove.
    if (ArgCount() < 3) {
        return;
    }
    if (RoleNumber() < 0) {
        Trace("Exception is raised by the Original EXE\r\n");
        return;
    }
    Trace("Exception raised by th Clone EXE\r\n");
    DeleteHostIni();
    RemoveStagingFolders();
    HandOnCopyHandle(CopyHandle());
}

int RunEntry() {
    RunGuarded(RunRole, HandleException);
    return 0;
}
