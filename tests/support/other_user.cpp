#include "other_user.h"

#include <windows.h>

#include "sandbox.h"

static const wchar_t kProfileEntry[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1111-2222-3333-1001";
static const wchar_t kHive[] = L"S-1-5-21-1111-2222-3333-1001";
static const wchar_t kShellFolders[] = L"S-1-5-21-1111-2222-3333-1001\\Software\\Microsoft\\Windows"
                                       L"\\CurrentVersion\\Explorer\\User Shell Folders";

static void SetText(HKEY root, const wchar_t* key, const wchar_t* name, const std::string& text) {
    std::wstring value = Wide(text);
    RegSetKeyValueW(root, key, name, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void RegisterOtherUser(const std::string& profile, const std::string& documents) {
    UnregisterOtherUser();
    SetText(HKEY_LOCAL_MACHINE, kProfileEntry, L"ProfileImagePath", profile);
    if (!documents.empty()) {
        SetText(HKEY_USERS, kShellFolders, L"Personal", documents);
    }
}

void UnregisterOtherUser() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProfileEntry);
    RegDeleteTreeW(HKEY_USERS, kHive);
}
