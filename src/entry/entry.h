// Process entry: argument trace, role choice and the Original's hand-off to the Clone.
#pragma once

#include <windows.h>

// Runs the role that argument 1 selects, on the arguments already loaded, inside the
// exception guard, after silencing the system's error dialogs and narrowing the DLL search.
// Always 0.
int RunEntry();

// The Clone's command line: the temporary copy's path in quotes, the Original's process
// handle in decimal, the Original's path in quotes and the copy's delete-on-close handle in
// decimal (0 for none), which the Clone hands on at its end. False when it does not fit.
bool FormatCloneCommandLine(wchar_t* out, int capacity, const wchar_t* copyPath, HANDLE original,
                            const wchar_t* originalPath, HANDLE copy);

// Copies the executable to copyPath and opens the copy delete-on-close, with an inheritable
// handle, so that the system removes it once the last handle to it is gone. Another's hold on the
// copy is waited out for about two seconds; a copy that cannot be opened so is left for the system
// to remove at the next restart.
HANDLE OpenDisposableCopy(const wchar_t* selfPath, const wchar_t* copyPath);
