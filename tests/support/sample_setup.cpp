// A stand-in for an installer's local setup: records how it was started and exits with the
// code given as its first argument.
//   sample_setup.exe EXIT_CODE [RECORD_FILE]
// Each run appends to the record the command line it received and the folder it was started
// in, each in UTF-8 and followed by a line feed; a text that is no valid UTF-16 is left out.
#include <windows.h>

#include <shellapi.h>
#include <stdlib.h>

static void WriteUtf8(HANDLE record, const wchar_t* text) {
    static char utf8[4 * 32768];
    int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, utf8, sizeof(utf8),
                                     NULL, NULL);
    DWORD written;
    WriteFile(record, utf8, length > 0 ? length - 1 : 0, &written, NULL);
    WriteFile(record, "\n", 1, &written, NULL);
}

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == NULL) {
        return 1;
    }
    if (argc >= 3) {
        HANDLE record = CreateFileW(argv[2], FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, 0, NULL);
        static wchar_t directory[32768];
        GetCurrentDirectoryW(32768, directory);
        WriteUtf8(record, GetCommandLineW());
        WriteUtf8(record, directory);
        CloseHandle(record);
    }
    return argc >= 2 ? _wtoi(argv[1]) : 0;
}
