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
    // With LaunchOptions::outputReader: whether its pipe had no writer left once the Clone had
    // ended, while the program it hands its copy on to still ran.
    bool outputClosedAtCloneEnd;
    // Whether the Clone's copy was still there once the Clone had ended, while the program it
    // hands the copy's handle on to still ran.
    bool copyHeldAtCloneEnd;
    // With LaunchOptions::expectedCopy: whether the Clone's copy, read while the Clone ran, held
    // that file's bytes.
    bool copyMatched;
};

// What a caller other than a plain one passes on to the program it starts. Launch closes its
// own copies of the handles once the program has started.
struct LaunchOptions {
    // An inheritable pipe's write end, passed on as standard output and error.
    HANDLE output;
    // The read end of that pipe, not inheritable.
    HANDLE outputReader;
    // Another inheritable handle passed on, or NULL.
    HANDLE passedOn;
    // Starts the program in a job that ends its processes when it closes. With breakaway allowed
    // the job is closed as soon as the program ends; without, once everything has ended.
    bool inJob;
    bool jobAllowsBreakaway;
    // A file that the Clone's copy should equal byte for byte, or NULL.
    const wchar_t* expectedCopy;
};

// tempFolder, when not NULL, becomes TMP and TEMP of the started program.
LaunchResult Launch(const wchar_t* commandLine, const wchar_t* tempFolder,
                    const LaunchOptions* options = NULL);
// The same with a command line and folder in UTF-8.
LaunchResult Launch(const char* commandLine, const char* tempFolder,
                    const LaunchOptions* options = NULL);

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
