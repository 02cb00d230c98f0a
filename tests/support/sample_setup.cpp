// A stand-in for an installer's local setup: records how it was started and exits with the
// code given as its first argument.
//   sample_setup.exe EXIT_CODE [RECORD_FILE [/reboot]]
// Each run appends to the record the command line it received and the folder it was started
// in, each in UTF-8 and followed by a line feed; a text that is no valid UTF-16 is left out.
// With /reboot (any case, anywhere after the record) it plays a setup that replaces files in
// use: its first run asks for a reboot (exit code 4096), and a run after it, which finds its
// own record, finishes with EXIT_CODE. The same command line thus serves both runs, as the start
// after the reboot repeats it.
#include <windows.h>

#include <shellapi.h>
#include <stdlib.h>

static const int kRebootNeeded = 4096;

static void WriteUtf8(HANDLE record, const wchar_t* text) {
    static char utf8[4 * 32768];
    int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, utf8, sizeof(utf8),
                                     NULL, NULL);
    DWORD written;
    WriteFile(record, utf8, length > 0 ? length - 1 : 0, &written, NULL);
    WriteFile(record, "\n", 1, &written, NULL);
}

static bool AsksForReboot(int argc, wchar_t** argv) {
    for (int i = 3; i < argc; ++i) {
        if (_wcsicmp(argv[i], L"/reboot") == 0) {
            return true;
        }
    }
    return false;
}

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == NULL) {
        return 1;
    }
    bool firstRun = true;
    if (argc >= 3) {
        HANDLE record = CreateFileW(argv[2], FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, 0, NULL);
        firstRun = GetLastError() != ERROR_ALREADY_EXISTS;
        static wchar_t directory[32768];
        GetCurrentDirectoryW(32768, directory);
        WriteUtf8(record, GetCommandLineW());
        WriteUtf8(record, directory);
        CloseHandle(record);
    }
    if (firstRun && AsksForReboot(argc, argv)) {
        return kRebootNeeded;
    }
    return argc >= 2 ? _wtoi(argv[1]) : 0;
}
