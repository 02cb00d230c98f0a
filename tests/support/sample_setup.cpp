// A stand-in for an installer's local setup: records how it was started and exits with the
// code given as its first argument.
//   sample_setup.exe EXIT_CODE [RECORD_FILE]
// Each run appends to the record the command line it received and the folder it was started in.
#include <windows.h>

#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc >= 3) {
        HANDLE record = CreateFileA(argv[2], FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, 0, NULL);
        char directory[MAX_PATH];
        GetCurrentDirectoryA(sizeof(directory), directory);
        const char* parts[] = {GetCommandLineA(), "\n", directory, "\n"};
        for (const char* part : parts) {
            DWORD written;
            WriteFile(record, part, lstrlenA(part), &written, NULL);
        }
        CloseHandle(record);
    }
    return argc >= 2 ? atoi(argv[1]) : 0;
}
