// Where the loader looks for the DLLs that the system libraries load by name.
#pragma once

// Limits the loader's search to the system directory where the platform offers that, and
// otherwise takes the current folder out of it. For the start of the guarded run, before anything
// could load a DLL by name.
void RestrictDllSearch();

// Gives the DLL search that programs this process starts inherit back to the system, so that they
// start with the search the system gives them. RestrictDllSearch narrows it again.
void LeaveDllSearchToTheSystem();

// Stands in, when set, for the look-up of the loader's calls in kernel32 (SetDefaultDllDirectories,
// SetDllDirectoryW): NULL plays a system without the call. Only tests set it.
typedef void* (*ProcedureLookUp)(const char* name);
extern ProcedureLookUp gDllSearchLookUpStandIn;
