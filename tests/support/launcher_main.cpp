// Starts a command line as given, waits for it and for any Clone it hands off to, and prints
// both exit codes in full (a Unix shell sees only their low 8 bits).
//   launcher.exe [--tmp FOLDER] -- COMMAND LINE
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

#include "support/launch.h"

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* tempFolder = NULL;
    if (argv != NULL && argc >= 3 && wcscmp(argv[1], L"--tmp") == 0) {
        tempFolder = argv[2];
    }
    const wchar_t* commandLine = wcsstr(GetCommandLineW(), L" -- ");
    if (commandLine == NULL) {
        fprintf(stderr, "usage: launcher.exe [--tmp FOLDER] -- COMMAND LINE\n");
        return 2;
    }
    LaunchResult result = Launch(commandLine + 4, tempFolder);
    if (!result.started) {
        fprintf(stderr, "launcher: cannot start %ls\n", commandLine + 4);
        return 1;
    }
    printf("original exit code: %lu\n", result.exitCode);
    if (result.cloneSeen) {
        printf("clone exit code: %lu\n", result.cloneExitCode);
    } else {
        printf("no clone\n");
    }
    return 0;
}
