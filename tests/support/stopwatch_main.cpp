// Starts a command line as given, waits for it and prints how long it ran, from just before
// its start to its end, measured on the Windows side so that Wine's own start-up is left out.
//   stopwatch.exe -- COMMAND LINE
#include <windows.h>

#include <stdio.h>
#include <string.h>

static double Seconds() {
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int main() {
    const char* commandLine = strstr(GetCommandLineA(), " -- ");
    if (commandLine == NULL) {
        fprintf(stderr, "usage: stopwatch.exe -- COMMAND LINE\n");
        return 2;
    }
    static char line[32768];
    lstrcpynA(line, commandLine + 4, sizeof(line));
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    double start = Seconds();
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "stopwatch: cannot start %s\n", commandLine + 4);
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    double elapsed = Seconds() - start;
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("seconds: %.3f\nexit code: %lu\n", elapsed, exitCode);
    return 0;
}
