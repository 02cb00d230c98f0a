// Starts a program from a raw command line and waits for it, for the Clone it hands off to and
// for the program the Clone hands its copy on to, reading the 32-bit exit codes of the first two
// on the Windows side.
#pragma once

#include <windows.h>

struct LaunchResult {
    bool started;
    DWORD exitCode;
    // Whether a Clone (a child running from a Del*.TMP copy) was seen, and how it ended.
    bool cloneSeen;
    DWORD cloneExitCode;
};

// tempFolder, when not NULL, becomes TMP and TEMP of the started program.
LaunchResult Launch(const wchar_t* commandLine, const wchar_t* tempFolder);
// The same with a command line and folder in UTF-8.
LaunchResult Launch(const char* commandLine, const char* tempFolder);

struct InstallerResult {
    bool started;
    DWORD exitCode;
    // Whether the installer started selfclean.exe, and how it and its Clone ended.
    bool selfcleanSeen;
    LaunchResult selfclean;
};

// Starts an installer that starts selfclean.exe and exits, and waits for all three.
InstallerResult LaunchInstaller(const wchar_t* commandLine, const wchar_t* tempFolder);
// The same with a command line and folder in UTF-8.
InstallerResult LaunchInstaller(const char* commandLine, const char* tempFolder);
