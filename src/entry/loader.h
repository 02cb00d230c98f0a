// Where the loader looks for the DLLs that the system libraries load by name.
#pragma once

// Limits the loader's search to the system directory where the platform offers that, and takes
// the current folder out of it everywhere. For the start of the guarded run, before anything
// could load a DLL by name.
void RestrictDllSearch();
