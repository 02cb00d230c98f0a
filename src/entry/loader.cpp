#include "loader.h"

#include "../common/common.h"

typedef BOOL(WINAPI* SearchFlagsCall)(DWORD);
typedef BOOL(WINAPI* DllDirectoryCall)(LPCWSTR);

ProcedureLookUp gDllSearchLookUpStandIn = NULL;

// Both calls came after the oldest systems the program starts on, so they are looked up instead
// of imported.
static void* Kernel32Procedure(const char* name) {
    if (gDllSearchLookUpStandIn != NULL) {
        return gDllSearchLookUpStandIn(name);
    }
    return SystemProcedure(L"kernel32.dll", name);
}

static SearchFlagsCall SearchFlagsSetter() {
    return reinterpret_cast<SearchFlagsCall>(Kernel32Procedure("SetDefaultDllDirectories"));
}

static void ChangeDllDirectory(const wchar_t* directory) {
    DllDirectoryCall setDllDirectory =
        reinterpret_cast<DllDirectoryCall>(Kernel32Procedure("SetDllDirectoryW"));
    if (setDllDirectory != NULL) {
        setDllDirectory(directory);
    }
}

// The program's own folder is the temporary folder for the Clone, so only the system directory
// is searched. Where the search flags are missing, the empty DLL directory still takes the
// current folder out; the program's own folder then stays in the search.
void RestrictDllSearch() {
    SearchFlagsCall setSearchFlags = SearchFlagsSetter();
    if (setSearchFlags != NULL) {
        setSearchFlags(LOAD_LIBRARY_SEARCH_SYSTEM32);
    } else {
        ChangeDllDirectory(L"");
    }
}

// The search flags stay with this process; the DLL directory passes on to the programs it starts.
void LeaveDllSearchToTheSystem() {
    if (SearchFlagsSetter() == NULL) {
        ChangeDllDirectory(NULL);
    }
}
