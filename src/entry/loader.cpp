#include "loader.h"

#include "../common/common.h"

// The program's own folder is the temporary folder for the Clone, so only the system directory
// is searched. Where the search flags are missing, the empty DLL directory still takes the
// current folder out; the program's own folder then stays in the search. Both calls came after
// the oldest systems the program starts on, so they are looked up instead of imported.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryProc)(LPCWSTR);
    SetDefaultDllDirectoriesProc setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesProc>(
            SystemProcedure(L"kernel32.dll", "SetDefaultDllDirectories"));
    if (setDefaultDllDirectories != NULL) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    SetDllDirectoryProc setDllDirectory =
        reinterpret_cast<SetDllDirectoryProc>(SystemProcedure(L"kernel32.dll", "SetDllDirectoryW"));
    if (setDllDirectory != NULL) {
        setDllDirectory(L"");
    }
}
