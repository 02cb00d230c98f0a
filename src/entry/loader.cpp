#include "loader.h"

#include <windows.h>

// Both calls came after the oldest systems the program starts on, so they are looked up in
// kernel32 instead of imported.
static void (*KernelProcedure(const char* name))() {
    return reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name));
}

// The program's own folder is the temporary folder for the Clone, so only the system directory
// is searched. Where the search flags are missing, the empty DLL directory still takes the
// current folder out; the program's own folder then stays in the search.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryProc)(LPCWSTR);
    SetDefaultDllDirectoriesProc setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesProc>(KernelProcedure("SetDefaultDllDirectories"));
    if (setDefaultDllDirectories != NULL) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    SetDllDirectoryProc setDllDirectory =
        reinterpret_cast<SetDllDirectoryProc>(KernelProcedure("SetDllDirectoryW"));
    if (setDllDirectory != NULL) {
        setDllDirectory(L"");
    }
}
