// The walk over a staged tree: which entries go, and in what order. How each one goes is the
// deletion's (src/deletion/).
#pragma once

#include <windows.h>

// Removes folder and everything under it: a full path in literal form (\\?\C:\a\b\ or
// \\?\UNC\server\share\a\), ending with a backslash. Links are removed, never entered; where a
// link cannot be told from its target, it stays. Nothing outside the folder is changed: a file
// that also has a name outside keeps its read-only bit. Works on file systems that know neither
// the deletion at once nor the query of attributes with the reparse tag. Entries go at once
// where the system can delete them so; an entry that another handle holds, and a folder that is
// not yet empty for that reason, are tried again after short waits, about two seconds in all for
// the whole call. A walk that an exception abandoned is closed first.
void DeleteTree(const wchar_t* folder);

// Turns on the system's guard against following links that less trusted users made, where the
// system has it.
void EnforceRedirectionTrust();

// Called, when set, with the path of each folder the listing has shown as a plain folder, just
// before the walk opens it. Only tests set it.
extern void (*gBeforeEnteringFolder)(const wchar_t* folder);
