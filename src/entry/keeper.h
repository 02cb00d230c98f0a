// What becomes of the Clone's temporary copy once the Clone has ended.
#pragma once

#include <windows.h>

// Starts a short-lived program of the system that inherits the copy's delete-on-close handle
// (copy; none when it is 0), and nothing else, and outlives the Clone: the last handle to the
// copy then closes after the copy has stopped running, when the system can remove it. The
// Clone's last act.
void HandOnCopyHandle(HANDLE copy);

// Has the system remove the copy at the next restart: for a copy that could not be opened
// delete-on-close. Never otherwise, since a pending removal makes other installers see a
// pending restart.
void RemoveCopyAtRestart(const wchar_t* copyPath);
