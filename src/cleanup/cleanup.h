// Removes what the installer staged: HOST.INI in the Windows directory, the Original
// executable and the staging folder above the executable's folder.
#pragma once

#include <windows.h>

// Deletes HOST.INI from the Windows directory.
void DeleteHostIni();

// Deletes the Original executable named by argument 2, then the staging folder (the parent
// of the executable's folder) with everything under it, then the drive's kvoptemp folder.
// The staging folder is held from before it is checked until it is removed, and taken by its
// final path where the system gives one (no link left in it); one that StagingRootOf or the rules
// of what is never removed refuse is kept, and kvoptemp too, and so is one directly in a drive's
// root as the executable's path names it. First moves the process's current folder, which may lie
// in the staged tree, to the system directory; kvoptemp keeps the place it has relative to the
// current folder inherited.
void RemoveStagingFolders();

// The staging folder of an executable path, drive and directory followed by "..\", into root
// (kPathSize characters). False, with a trace line saying why, when the path does not lie at
// least two folder levels below a drive or share root (its parent folder would not be
// staged) or the root does not fit.
bool StagingRootOf(const wchar_t* executablePath, wchar_t* root);
