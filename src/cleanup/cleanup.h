// Removes what the installer staged: HOST.INI in the Windows directory, the Original
// executable and the staging folder above the executable's folder.
#pragma once

// Deletes HOST.INI from the Windows directory.
void DeleteHostIni();

// Deletes the Original executable named by argument 2, then the staging folder (the parent
// of the executable's folder) with everything under it, then the drive's kvoptemp folder.
void RemoveStagingFolders();

// The staging folder of an executable path, with a trailing backslash, into root (260
// bytes). False, with a trace line saying why, when the path does not lie at least two
// folder levels below a drive or share root: its parent folder would not be staged.
bool StagingRootOf(const char* executablePath, char* root);

// Removes folder (ending with a backslash) and everything under it. Links are removed, never
// entered.
void DeleteTree(const char* folder);

// Clears the read-only attribute of path, keeping every other attribute.
void ClearReadOnly(const char* path);
