// Removes what the installer staged: HOST.INI in the Windows directory, the Original
// executable and the staging folder above the executable's folder.
#pragma once

#include <windows.h>

// Deletes HOST.INI from the Windows directory.
void DeleteHostIni();

// Deletes the Original executable named by argument 2, then the staging folder (the parent
// of the executable's folder) with everything under it, then the drive's kvoptemp folder.
// The staging folder is taken by its final path where the system gives one (no link left in
// it); one that StagingRootOf or IsProtectedFolder refuses is kept, and kvoptemp too.
// First moves the process's current folder, which may lie in the staged tree, to the system
// directory; kvoptemp keeps the place it has relative to the current folder inherited.
void RemoveStagingFolders();

// The staging folder of an executable path, drive and directory followed by "..\", into root
// (kPathSize characters). False, with a trace line saying why, when the path does not lie at
// least two folder levels below a drive or share root (its parent folder would not be
// staged) or the root does not fit.
bool StagingRootOf(const wchar_t* executablePath, wchar_t* root);

// The literal form of a full path ("\\?\C:\a\" or "\\?\UNC\server\share\a\"), which
// the file system takes as it is, at any length, into literal (kPathSize characters). False
// when it does not fit or path is not a full drive or share path.
bool LiteralPathOf(const wchar_t* fullPath, wchar_t* literal);

// True, with a trace line naming the rule, when folder must be kept: its attributes or identity
// cannot be read, it is a folder link, it is or holds the Windows, system (also as Sysnative) or
// temporary folder, a folder of any user of the machine (profile, application data, programs,
// shell and cloud-sync folders, the profiles folder) or a program files folder, or it lies
// directly in one of them but the temporary folder, or in a drive's or a share's root. Paths are
// compared absolute and canonical, ignoring case, and, where the file system tells, by the folders'
// identity, so that short names, links, substituted drives and shares are seen through. A folder of
// a rule that cannot be found guards nothing.
bool IsProtectedFolder(const wchar_t* folder);
