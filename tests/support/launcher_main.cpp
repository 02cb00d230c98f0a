// Starts a command line as given, waits for it and for any Clone it hands off to, and prints
// the exit codes in full (a Unix shell sees only their low 8 bits). With --installer the command
// is an installer that starts selfclean.exe and exits; the launcher then waits for all three.
//   launcher.exe [--tmp FOLDER] [--installer] -- COMMAND LINE
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

#include "support/launch.h"

static void PrintOriginal(const LaunchResult& result) {
    printf("original exit code: %lu\n", result.exitCode);
    if (result.cloneSeen) {
        printf("clone exit code: %lu\n", result.cloneExitCode);
    } else {
        printf("no clone\n");
    }
}

static void PrintInstaller(const InstallerResult& result) {
    printf("installer exit code: %lu\n", result.exitCode);
    if (result.selfcleanSeen) {
        PrintOriginal(result.selfclean);
    } else {
        printf("no selfclean.exe started\n");
    }
}

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* tempFolder = NULL;
    bool installer = false;
    for (int i = 1; argv != NULL && i < argc && wcscmp(argv[i], L"--") != 0; ++i) {
        if (wcscmp(argv[i], L"--tmp") == 0 && i + 1 < argc) {
            tempFolder = argv[++i];
        } else if (wcscmp(argv[i], L"--installer") == 0) {
            installer = true;
        }
    }
    const wchar_t* commandLine = wcsstr(GetCommandLineW(), L" -- ");
    if (commandLine == NULL) {
        fprintf(stderr, "usage: launcher.exe [--tmp FOLDER] [--installer] -- COMMAND LINE\n");
        return 2;
    }
    commandLine += 4;
    bool started;
    if (installer) {
        InstallerResult result = LaunchInstaller(commandLine, tempFolder);
        started = result.started;
        if (started) {
            PrintInstaller(result);
        }
    } else {
        LaunchResult result = Launch(commandLine, tempFolder);
        started = result.started;
        if (started) {
            PrintOriginal(result);
        }
    }
    if (!started) {
        fprintf(stderr, "launcher: cannot start %ls\n", commandLine);
        return 1;
    }
    return 0;
}
