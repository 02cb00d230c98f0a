// Shared by every part of the program: the trace sink, bounded text formatting, system
// error texts and the argument vector split from the process command line.
#pragma once

#include <stdarg.h>
#include <windows.h>

// The longest path the wide calls take, 32,767 characters, and its terminator.
const int kPathSize = 32768;
// Trace lines are formatted into this many characters, terminator included.
const int kTraceLineSize = 768;

// Takes one line as a printf-style format of ASCII text (%s for a narrow text, %ls for a wide
// one, %d) and its values. The release build discards it unformatted, so that neither the
// formatting nor the texts are shipped; the diagnostic build formats it, cut to
// kTraceLineSize, and passes it to the debugger output in the system's ANSI code page.
void Trace(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));
// Traces the system's message text for an error code, as FormatSystemError gives it.
void TraceSystemError(DWORD code);

// Formats like Trace into a wide text, never writing more than capacity characters
// (terminator included); a line that does not fit is cut. Returns false when it was cut.
bool FormatText(wchar_t* out, int capacity, const char* format, ...)
    __attribute__((format(ms_printf, 3, 4)));
bool FormatTextList(wchar_t* out, int capacity, const char* format, va_list args);

// The system's message text for an error code followed by "\r\n", cut to capacity; a line
// with the decimal code when the system has no text for it.
void FormatSystemError(DWORD code, wchar_t* out, int capacity);

// A procedure of a system library that is already loaded (kernel32.dll, ntdll.dll), looked up
// at run time for the calls that not every supported system has; NULL where it is missing.
void* SystemProcedure(const wchar_t* module, const char* name);

// Attributes that make a new handle inheritable by the processes this one starts.
SECURITY_ATTRIBUTES InheritableHandleAttributes();

// A file or folder as its volume knows it, the same whichever path reaches it.
struct FileIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};
// Reads the identity of what an open handle holds; false when the system cannot tell.
bool IdentityOf(HANDLE file, FileIdentity* identity);
bool IsSameFile(const FileIdentity& a, const FileIdentity& b);

// The root of the volume that holds path, with its closing backslash, into root (kPathSize
// characters): a drive's or a share's root, or the folder a volume is mounted in. The system may
// give a literal path's root without the literal prefix. False when it cannot tell.
bool VolumeRootOf(const wchar_t* path, wchar_t* root);
// Stands in, when set, for the system's GetVolumePathNameW. Only tests set it.
extern BOOL(WINAPI* gVolumePathStandIn)(LPCWSTR path, LPWSTR root, DWORD capacity);

// Scanners, indexers and sync tools open what was just written for a moment. What such a hold
// keeps is tried again after waits that start at kFirstRetryWait and double up to a quarter of a
// second. WaitWithin makes one of them, cut to what is left of *timeLeft, and takes it from
// there; false, without waiting, once nothing is left.
const DWORD kFirstRetryWait = 10;
bool WaitWithin(DWORD* wait, DWORD* timeLeft);

// The most handles StartProcess passes on.
const int kMostPassedHandles = 2;
// Starts a program (program may be NULL: the command line names it) that inherits exactly the
// given handles, which must be inheritable (NULL and INVALID_HANDLE_VALUE are left out), and no
// standard handles, outside the caller's job where the job lets it go. Where the system cannot
// list the handles to pass on, it inherits every inheritable handle, as on the oldest systems.
bool StartProcess(const wchar_t* program, wchar_t* commandLine, DWORD flags, const wchar_t* folder,
                  const HANDLE* handles, int count, PROCESS_INFORMATION* started);

// Splits a command line into the argument vector that ArgCount() and Arg() read.
void LoadArguments(const wchar_t* commandLine);
int ArgCount();
// The argument at index, or an empty text when there is no such argument.
const wchar_t* Arg(int index);

// The decimal value of text by the runtime's atoi rules: leading tab, line feed, vertical
// tab, form feed, carriage return and blank skipped, one optional sign, digits up to the
// first other character, wrapping modulo 2^32; 0 without digits.
int DecimalValue(const wchar_t* text);
// Whether text equals ascii, with only the letters A-Z and a-z taken as the same.
bool EqualsIgnoringAsciiCase(const wchar_t* text, const char* ascii);

// Paths as the staging folder and the rules of what is never removed read them.

// Whether c separates the names of a path: a backslash or a slash.
bool IsSeparator(wchar_t c);
// Where the path's root ends: after "X:" for a drive path, after "\\server\share" for a
// share; NULL for a relative path or a device or literal path ("\\?\", "\\.\").
const wchar_t* SkipRoot(const wchar_t* path);
// Counts the folder names between the root (afterRoot as SkipRoot gives it) and the last name;
// -1 when one of them is empty or made of dots only.
int CountFolders(const wchar_t* afterRoot);
// The literal form of a full path ("\\?\C:\a\" or "\\?\UNC\server\share\a\"), which
// the file system takes as it is, at any length, into literal (kPathSize characters). False
// when it does not fit or path is not a full drive or share path.
bool LiteralPathOf(const wchar_t* fullPath, wchar_t* literal);
