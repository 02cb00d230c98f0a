// The walk over a staged tree: which entries go, and in what order. How each one goes is the
// deletion's (src/deletion/).
#pragma once

#include "../common/common.h"

// Opens folder (a full path in literal form, \\?\C:\a\b\ or \\?\UNC\server\share\a\, ending with a
// backslash) as DeleteTree removes it, and holds it from now on so that nobody can rename or
// delete it; the handle, for reading what it is, or INVALID_HANDLE_VALUE (traced) when it cannot
// be had. Call it before the folder is checked: it stays held until DeleteTree or LetGoOfTree.
HANDLE HoldTree(const wchar_t* folder);
// Closes the held folder, removing nothing, and every folder of a walk that an exception
// abandoned.
void LetGoOfTree();
// Removes the held folder and everything under it when it is the folder that checked identifies;
// otherwise keeps it, traced. folder is its path in literal form, as for HoldTree, and may name it
// by another path that reaches it (its final path). Every entry is opened by its name in the
// folder the walk holds open, so that no link made above the tree while it runs leads the walk
// elsewhere. Links are removed, never entered; where a link cannot be told from its target, it
// stays. Nothing outside the folder is changed: a file that also has a name outside keeps its
// read-only bit. Works on file systems that know neither the deletion at once nor the query of
// attributes with the reparse tag. Entries go at once where the system can delete them so; an
// entry that another handle holds, and a folder that is not yet empty for that reason, are tried
// again after short waits, about two seconds in all for the whole call. A walk that an exception
// abandoned is closed by the next HoldTree. Without a held folder, nothing is removed.
void DeleteTree(const wchar_t* folder, const FileIdentity& checked);

// Turns on the system's guard against following links that less trusted users made, where the
// system has it.
void EnforceRedirectionTrust();

// Called, when set, with the path of each folder the listing has shown as a plain folder, just
// before the walk opens it. Only tests set it.
extern void (*gBeforeEnteringFolder)(const wchar_t* folder);
