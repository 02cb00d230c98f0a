// Every user's folders. Installers run as an administrator or as the system, so the running
// account's folders are not the only ones a staging root may name: the system's profile list
// names each user's profile and the folders shared by all users, and a user's registry hive,
// while it is loaded, names the shell folders that may have been redirected out of the profile.
// A hive is usually not loaded, so the folders a profile holds by default are visited for every
// profile as well.
#include "user_folders.h"

#include <string.h>
#include <wchar.h>
#include <windows.h>

struct Visitor {
    UserFolderVisitor visit;
    void* context;
};

// Paths this long do not belong on the stack. A value as stored may lack its terminator, so
// its buffer has room for one more character.
static wchar_t gValue[kPathSize + 1];
static wchar_t gProfilesFolder[kPathSize];
static wchar_t gProfile[kPathSize];
static wchar_t gFolder[kPathSize];
// A search for folders in a profile, in literal form so that any length can be searched.
static wchar_t gPattern[kPathSize];

static const wchar_t kProfileList[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A folder by its name in a profile or in a registry key, and the owner visited with it.
struct NamedFolder {
    const wchar_t* name;
    const char* owner;
};

// The folders a profile holds where they have not been moved: where programs keep their data
// (the last two as systems before the AppData folder name them), the programs installed for
// the user alone, and the user's documents.
static const NamedFolder kProfileFolders[] = {
    {L"AppData\\Roaming", "a user's application data"},
    {L"AppData\\Local", "a user's application data"},
    {L"AppData\\LocalLow", "a user's application data"},
    {L"Application Data", "a user's application data"},
    {L"Local Settings\\Application Data", "a user's application data"},
    {L"AppData\\Local\\Programs", "a user's programs"},
    {L"Desktop", "a user's Desktop"},
    {L"Documents", "a user's Documents"},
    {L"Downloads", "a user's Downloads"},
    {L"Pictures", "a user's Pictures"},
    {L"Music", "a user's Music"},
    {L"Videos", "a user's Videos"},
};

// Cloud-sync clients keep one folder per account directly in the profile, its name beginning
// with the same word ("OneDrive", "OneDrive - <organisation>"). Their folder backup moves the
// user's Desktop, Documents and Pictures in, named in the user's language: every folder directly
// in one is taken for such a folder. A user's loaded hive names them too, wherever they are.
static const wchar_t kSyncFolders[] = L"OneDrive*";

// A user's shell folders as the values of the user's hive name them.
static const NamedFolder kShellFolders[] = {
    {L"Desktop", "a user's Desktop"},
    {L"Personal", "a user's Documents"},
    {L"{374DE290-123F-4565-9164-39C4925E467B}", "a user's Downloads"},
    {L"My Pictures", "a user's Pictures"},
    {L"My Music", "a user's Music"},
    {L"My Video", "a user's Videos"},
    {L"AppData", "a user's application data"},
    {L"Local AppData", "a user's application data"},
};

// The shell folders shared by all users, as the same keys of the machine's registry name them.
static const NamedFolder kCommonShellFolders[] = {
    {L"Common Desktop", "the shared Desktop"},
    {L"Common Documents", "the shared Documents"},
    {L"{3D644C9B-1FB8-4F30-9B45-F670235F79C0}", "the shared Downloads"},
    {L"CommonPictures", "the shared Pictures"},
    {L"CommonMusic", "the shared Music"},
    {L"CommonVideo", "the shared Videos"},
    {L"Common AppData", "the shared application data"},
    {L"Common Start Menu", "the shared Start Menu"},
    {L"Common Programs", "the shared Start Menu"},
    {L"Common Startup", "the shared Start Menu"},
    {L"Common Administrative Tools", "the shared Start Menu"},
    {L"Common Templates", "the shared Templates"},
};

// "User Shell Folders" names the folders with variables. "Shell Folders" holds them as the
// shell expanded them for their user, which also covers a variable other than the profile's,
// whose value in the running environment would be someone else's.
static const wchar_t* const kShellFolderKeys[] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};

static const wchar_t kProfileVariable[] = L"%USERPROFILE%";

// Public and Default are profiles of their own. Older systems name the all users' and the
// default profile relative to the profiles folder instead.
static const wchar_t* const kSharedProfileValues[] = {L"Public", L"Default"};
static const wchar_t* const kNamedProfileValues[] = {L"AllUsersProfile", L"DefaultUserProfile"};

static bool Visit(const Visitor& visitor, const wchar_t* path, const char* owner, int levels) {
    return path[0] != L'\0' && visitor.visit(path, owner, levels, visitor.context);
}

// A text value of key into gValue; false when it is missing, empty, of another type or longer
// than a path.
static bool ReadText(HKEY key, const wchar_t* name) {
    DWORD type = REG_NONE;
    DWORD size = kPathSize * sizeof(wchar_t);
    if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(gValue), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    gValue[size / sizeof(wchar_t)] = L'\0';
    return gValue[0] != L'\0';
}

// text with the running environment's variables expanded into path, which holds capacity
// characters; false when it does not fit.
static bool Expand(const wchar_t* text, wchar_t* path, DWORD capacity) {
    DWORD length = ExpandEnvironmentStringsW(text, path, capacity);
    return length != 0 && length <= capacity;
}

static bool ReadFolder(HKEY key, const wchar_t* name, wchar_t* path) {
    return ReadText(key, name) && Expand(gValue, path, kPathSize);
}

// base, a separator unless base ends with one, and name into path; false when it does not fit.
static bool Join(wchar_t* path, const wchar_t* base, const wchar_t* name) {
    size_t baseLength = wcslen(base);
    size_t nameLength = wcslen(name);
    size_t separator = baseLength > 0 && base[baseLength - 1] != L'\\' ? 1 : 0;
    if (baseLength + separator + nameLength >= static_cast<size_t>(kPathSize)) {
        return false;
    }
    memcpy(path, base, baseLength * sizeof(wchar_t));
    if (separator != 0) {
        path[baseLength] = L'\\';
    }
    memcpy(path + baseLength + separator, name, (nameLength + 1) * sizeof(wchar_t));
    return true;
}

static bool IsSyncFolder(const WIN32_FIND_DATAW& entry) {
    // The search also matches short names, so the name itself is checked, without the "*".
    const size_t prefixLength = ARRAYSIZE(kSyncFolders) - 2;
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           _wcsnicmp(entry.cFileName, kSyncFolders, prefixLength) == 0;
}

// The count folders named in folders inside base, each joined into path to be visited.
static bool VisitNamedFolders(const Visitor& visitor, const wchar_t* base,
                              const NamedFolder* folders, size_t count, wchar_t* path) {
    for (size_t index = 0; index < count; ++index) {
        if (Join(path, base, folders[index].name) &&
            Visit(visitor, path, folders[index].owner, 1)) {
            return true;
        }
    }
    return false;
}

// The cloud-sync folders directly in profile.
static bool VisitSyncFolders(const Visitor& visitor, const wchar_t* profile) {
    if (!Join(gFolder, profile, kSyncFolders)) {
        return false;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(LiteralPathOf(gFolder, gPattern) ? gPattern : gFolder, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool stopped = false;
    do {
        stopped = IsSyncFolder(entry) && Join(gFolder, profile, entry.cFileName) &&
                  Visit(visitor, gFolder, "a user's OneDrive", 2);
    } while (!stopped && FindNextFileW(search, &entry));
    FindClose(search);
    return stopped;
}

static bool VisitProfile(const Visitor& visitor, const wchar_t* profile) {
    return Visit(visitor, profile, "a user's profile", 1) ||
           VisitNamedFolders(visitor, profile, kProfileFolders, ARRAYSIZE(kProfileFolders),
                             gFolder) ||
           VisitSyncFolders(visitor, profile);
}

// The folder a shell folder's value names for the user whose profile is at profile, or for
// the running user when profile is NULL: a leading %USERPROFILE% is that profile, the rest is
// expanded in the running environment.
static bool ResolveShellFolder(const wchar_t* value, const wchar_t* profile, wchar_t* path) {
    const size_t variableLength = ARRAYSIZE(kProfileVariable) - 1;
    if (profile == NULL || _wcsnicmp(value, kProfileVariable, variableLength) != 0) {
        return Expand(value, path, kPathSize);
    }
    // The profile came from a buffer of this size, so it leaves room for the terminator.
    size_t profileLength = wcslen(profile);
    memcpy(path, profile, profileLength * sizeof(wchar_t));
    return Expand(value + variableLength, path + profileLength,
                  static_cast<DWORD>(kPathSize - profileLength));
}

// The folders of the count in folders that key names.
static bool VisitShellFoldersIn(const Visitor& visitor, HKEY key, const wchar_t* profile,
                                const NamedFolder* folders, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        if (ReadText(key, folders[index].name) && ResolveShellFolder(gValue, profile, gFolder) &&
            Visit(visitor, gFolder, folders[index].owner, 1)) {
            return true;
        }
    }
    return false;
}

// The shell folders of the count in folders that the registry at root names, in view.
static bool VisitShellFoldersOf(const Visitor& visitor, HKEY root, REGSAM view,
                                const wchar_t* profile, const NamedFolder* folders, size_t count) {
    for (const wchar_t* name : kShellFolderKeys) {
        HKEY key;
        if (RegOpenKeyExW(root, name, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
            continue;
        }
        bool stopped = VisitShellFoldersIn(visitor, key, profile, folders, count);
        RegCloseKey(key);
        if (stopped) {
            return true;
        }
    }
    return false;
}

// The shell folders of the user whose registry hive is open as hive.
static bool VisitUsersShellFolders(const Visitor& visitor, HKEY hive, const wchar_t* profile) {
    return VisitShellFoldersOf(visitor, hive, 0, profile, kShellFolders, ARRAYSIZE(kShellFolders));
}

// The user the profile list holds under sid: the profile and, while the user's hive is loaded
// (the user is logged on, or a program has loaded it), the shell folders it names.
static bool VisitListedUser(const Visitor& visitor, HKEY list, REGSAM view, const wchar_t* sid) {
    HKEY user;
    if (RegOpenKeyExW(list, sid, 0, KEY_QUERY_VALUE | view, &user) != ERROR_SUCCESS) {
        return false;
    }
    bool found = ReadFolder(user, L"ProfileImagePath", gProfile);
    RegCloseKey(user);
    if (!found) {
        return false;
    }
    if (VisitProfile(visitor, gProfile)) {
        return true;
    }
    HKEY hive;
    if (RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_QUERY_VALUE, &hive) != ERROR_SUCCESS) {
        return false;
    }
    bool stopped = VisitUsersShellFolders(visitor, hive, gProfile);
    RegCloseKey(hive);
    return stopped;
}

static bool VisitListedUsers(const Visitor& visitor, HKEY list, REGSAM view) {
    // A key's name is at most 255 characters.
    wchar_t sid[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(sid);
        if (RegEnumKeyExW(list, index, sid, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
            return false;
        }
        if (VisitListedUser(visitor, list, view, sid)) {
            return true;
        }
    }
}

static bool IsAbsolute(const wchar_t* path) {
    return path[0] == L'\\' || (path[0] != L'\0' && path[1] == L':');
}

// A profile that the list names relative to the profiles folder at gProfilesFolder.
static bool ReadNamedProfile(HKEY list, const wchar_t* name, wchar_t* profile) {
    if (!ReadFolder(list, name, gFolder)) {
        return false;
    }
    if (IsAbsolute(gFolder)) {
        wcscpy(profile, gFolder);
        return true;
    }
    return Join(profile, gProfilesFolder, gFolder);
}

// The folders the profile list names for all users: the shared application data, the shared
// profiles and the profiles folder, where a folder directly inside is some user's profile.
static bool VisitListFolders(const Visitor& visitor, HKEY list) {
    if (ReadFolder(list, L"ProgramData", gFolder) &&
        Visit(visitor, gFolder, "the shared application data", 1)) {
        return true;
    }
    for (const wchar_t* name : kSharedProfileValues) {
        if (ReadFolder(list, name, gProfile) && VisitProfile(visitor, gProfile)) {
            return true;
        }
    }
    if (!ReadFolder(list, L"ProfilesDirectory", gProfilesFolder)) {
        return false;
    }
    if (Visit(visitor, gProfilesFolder, "the profiles folder", 1)) {
        return true;
    }
    for (const wchar_t* name : kNamedProfileValues) {
        if (ReadNamedProfile(list, name, gProfile) && VisitProfile(visitor, gProfile)) {
            return true;
        }
    }
    return false;
}

static bool VisitProfileList(const Visitor& visitor, REGSAM view) {
    HKEY list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0,
                      KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | view, &list) != ERROR_SUCCESS) {
        return false;
    }
    bool stopped = VisitListFolders(visitor, list) || VisitListedUsers(visitor, list, view);
    RegCloseKey(list);
    return stopped;
}

static bool VisitCommonShellFolders(const Visitor& visitor, REGSAM view) {
    return VisitShellFoldersOf(visitor, HKEY_LOCAL_MACHINE, view, NULL, kCommonShellFolders,
                               ARRAYSIZE(kCommonShellFolders));
}

// The Windows directory of the system, which on a terminal server differs from the one the
// running user sees.
static bool VisitSystemWindowsDirectory(const Visitor& visitor) {
    UINT length = GetSystemWindowsDirectoryW(gFolder, kPathSize);
    return length != 0 && length < static_cast<UINT>(kPathSize) &&
           Visit(visitor, gFolder, "the system's Windows directory", 1);
}

bool VisitUserFolders(UserFolderVisitor visit, void* context) {
    const Visitor visitor = {visit, context};
    if (VisitSystemWindowsDirectory(visitor) ||
        VisitUsersShellFolders(visitor, HKEY_CURRENT_USER, NULL)) {
        return true;
    }
    // A 32-bit process on a 64-bit system sees the one profile list and the one set of shared
    // shell folders in both views; the 64-bit view is read too in case a system keeps them
    // apart.
    const REGSAM views[] = {0, KEY_WOW64_64KEY};
    for (REGSAM view : views) {
        if (VisitProfileList(visitor, view) || VisitCommonShellFolders(visitor, view)) {
            return true;
        }
    }
    return false;
}
