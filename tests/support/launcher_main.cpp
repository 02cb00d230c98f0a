// Starts a command line as given, waits for it and for any Clone it hands off to, and prints
// both exit codes in full (a Unix shell sees only their low 8 bits).
//   launcher.exe [--tmp FOLDER] -- COMMAND LINE
#include <stdio.h>
#include <string.h>

#include "support/launch.h"

int main(int argc, char** argv) {
    const char* tempFolder = NULL;
    if (argc >= 3 && strcmp(argv[1], "--tmp") == 0) {
        tempFolder = argv[2];
    }
    const char* commandLine = strstr(GetCommandLineA(), " -- ");
    if (commandLine == NULL) {
        fprintf(stderr, "usage: launcher.exe [--tmp FOLDER] -- COMMAND LINE\n");
        return 2;
    }
    LaunchResult result = Launch(commandLine + 4, tempFolder);
    if (!result.started) {
        fprintf(stderr, "launcher: cannot start %s\n", commandLine + 4);
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
