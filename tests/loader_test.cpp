#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "entry/loader.h"
#include "support/sandbox.h"

// Whether the loader's search finds a DLL by its bare name. The module is unloaded again, so
// that the next call searches anew.
static bool Finds(const wchar_t* name) {
    HMODULE module = LoadLibraryW(name);
    if (module == NULL) {
        return false;
    }
    FreeLibrary(module);
    return true;
}

// search_probe.dll lies only in the test program's folder, its copy current_probe.dll only in
// the current folder; both are found before the search is restricted. (Wine keeps the current
// folder in the search after an empty DLL directory, so here the search flags take out both.)
TEST(DllSearch, OnlyTheSystemFolderIsSearched) {
    std::string folder = FreshFolder("loader", "DllSearch");
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "search_probe.dll").c_str(),
                          (folder + "current_probe.dll").c_str(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    ASSERT_TRUE(Finds(L"current_probe.dll"));
    ASSERT_TRUE(Finds(L"search_probe.dll"));

    RestrictDllSearch();
    EXPECT_FALSE(Finds(L"current_probe.dll"));
    EXPECT_FALSE(Finds(L"search_probe.dll"));
    EXPECT_TRUE(Finds(L"version.dll")) << "the system directory is still searched";
}
