// The Clone's temporary copy: handed on to a program of the system at the Clone's end, or left to
// the next restart when it could not be opened delete-on-close.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <string>

#include "entry/entry.h"
#include "entry/keeper.h"
#include "support/sandbox.h"

// The newest child of this process, opened for waiting and querying.
static HANDLE OpenChild(DWORD* id) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    *id = 0;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == GetCurrentProcessId()) {
            *id = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return *id != 0 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *id)
                    : NULL;
}

static std::wstring ImagePath(HANDLE process) {
    wchar_t path[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameW(process, 0, path, &size);
    return path;
}

// A 32-bit process on a 64-bit system that starts a program of the system directory runs the
// one that the system redirects it to.
static bool IsSystemProgram(const std::wstring& image, const wchar_t* name) {
    wchar_t system[MAX_PATH] = L"";
    wchar_t redirected[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    GetSystemWow64DirectoryW(redirected, MAX_PATH);
    for (const wchar_t* folder : {system, redirected}) {
        if (folder[0] != L'\0' &&
            _wcsicmp(image.c_str(), (std::wstring(folder) + L"\\" + name).c_str()) == 0) {
            return true;
        }
    }
    return false;
}

// A delete-on-close file stays while any handle to it is open: the keeper's inherited one keeps
// it after this process has closed its own, and it goes once the keeper has ended. Nothing else
// is inherited: a pipe this process passes on to its children is closed while the keeper runs.
TEST(CopyKeeper, InheritsOnlyTheCopysHandleFromTheSystemDirectoryAndOutlivesItsStarter) {
    std::string copy = FreshFolder("keeper", "inherits") + "Del1.tmp";
    WriteFile(copy);
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    HANDLE handle = CreateFileA(copy.c_str(), 0, FILE_SHARE_READ, &inheritable, OPEN_EXISTING,
                                FILE_FLAG_DELETE_ON_CLOSE, NULL);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    HANDLE reader, writer;
    ASSERT_TRUE(CreatePipe(&reader, &writer, &inheritable, 0));

    HandOnCopyHandle(handle);
    CloseHandle(handle);
    CloseHandle(writer);
    DWORD id;
    HANDLE keeper = OpenChild(&id);
    ASSERT_NE(keeper, static_cast<HANDLE>(NULL));
    EXPECT_TRUE(Exists(copy)) << "the keeper holds the inherited handle";
    EXPECT_TRUE(IsSystemProgram(ImagePath(keeper), L"PING.EXE"));
    EXPECT_FALSE(PeekNamedPipe(reader, NULL, 0, NULL, NULL, NULL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_EQ(WaitForSingleObject(keeper, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(keeper, 30000), WAIT_OBJECT_0);
    CloseHandle(keeper);
    CloseHandle(reader);
    // The system closes an ended process's handles a moment after its end can be waited for.
    for (int i = 0; i < 100 && Exists(copy); ++i) {
        Sleep(50);
    }
    EXPECT_FALSE(Exists(copy));
}

static const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The removals the system carries out at the next restart, as source and target pairs.
static std::wstring PendingRemovals() {
    static wchar_t pending[16384];
    DWORD size = sizeof(pending);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations",
                     RRF_RT_REG_MULTI_SZ, NULL, pending, &size) != ERROR_SUCCESS) {
        return L"";
    }
    return std::wstring(pending, size / sizeof(wchar_t));
}

static void RestorePendingRemovals(const std::wstring& saved) {
    HKEY key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key);
    if (saved.empty()) {
        RegDeleteValueW(key, L"PendingFileRenameOperations");
    } else {
        RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(saved.data()),
                       static_cast<DWORD>(saved.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

static HANDLE gScannersHandle;

static DWORD WINAPI CloseAfterAMoment(void*) {
    Sleep(300);
    CloseHandle(gScannersHandle);
    return 0;
}

// A pending removal makes other installers see a pending restart. A scanner holds the fresh copy
// without delete sharing: a hold of a moment is waited out, and only a copy held for about two
// seconds is left to the next restart.
TEST(CopyKeeper, OnlyACopyHeldForGoodWaitsForTheRestart) {
    std::string base = FreshFolder("keeper", "restart");
    WriteFile(base + "x.exe");
    std::wstring saved = PendingRemovals();
    struct {
        const char* name;
        bool held;
        bool forGood;
    } rows[] = {{"Del1.tmp", false, false}, {"Del2.tmp", true, false}, {"Del3.tmp", true, true}};
    for (const auto& row : rows) {
        std::string path = base + row.name;
        WriteFile(path);
        gScannersHandle =
            row.held ? CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   NULL, OPEN_EXISTING, 0, NULL)
                     : NULL;
        HANDLE closer = row.held && !row.forGood
                            ? CreateThread(NULL, 0, CloseAfterAMoment, NULL, 0, NULL)
                            : NULL;
        HANDLE copy = OpenDisposableCopy(Wide(base + "x.exe").c_str(), Wide(path).c_str());
        if (closer != NULL) {
            WaitForSingleObject(closer, INFINITE);
            CloseHandle(closer);
        } else if (row.forGood) {
            CloseHandle(gScannersHandle);
        }
        std::wstring pending = PendingRemovals();
        RestorePendingRemovals(saved);
        EXPECT_EQ(copy != INVALID_HANDLE_VALUE, !row.forGood) << row.name;
        EXPECT_EQ(pending.find(Wide(path)) != std::wstring::npos, row.forGood) << row.name;
        if (!row.forGood) {
            CloseHandle(copy);
            EXPECT_FALSE(Exists(path)) << row.name << " was opened delete-on-close";
        }
    }
}
