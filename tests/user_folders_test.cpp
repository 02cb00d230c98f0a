#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "protected/user_folders.h"
#include "support/sandbox.h"

static const std::wstring kProfileList =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
static const std::wstring kUserShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
static const wchar_t kDownloads[] = L"{374DE290-123F-4565-9164-39C4925E467B}";
// Another user whose hive is loaded; one whose hive is not; one with a profile path that is
// not a text.
static const wchar_t kOtherUser[] = L"S-1-5-21-1111-2222-3333-1099";
static const wchar_t kUnloadedUser[] = L"S-1-5-21-1111-2222-3333-1098";
static const wchar_t kBinaryUser[] = L"S-1-5-21-1111-2222-3333-1097";

using Visited = std::tuple<std::wstring, std::string, int>;

// Collects every folder; stops at the one named stopAt.
struct Collector {
    std::vector<Visited> visited;
    std::wstring stopAt;
};

static bool Collect(const wchar_t* path, const char* owner, int levels, void* context) {
    Collector* collector = static_cast<Collector*>(context);
    collector->visited.emplace_back(path, owner, levels);
    return collector->stopAt == path;
}

static void SetValue(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type,
                     const std::wstring& text) {
    ASSERT_EQ(RegSetKeyValueW(root, key.c_str(), name, type, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// Three users of the test's own in the prefix's profile list and the hive of one of them
// loaded; the running user's profile is moved. All of them lie under S:\users\<test>.
class UserFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        base = L"S:\\users\\" + std::wstring(test, test + strlen(test));
        profile = base + L"\\Other User";
        SetEnvironmentVariableW(L"SELFCLEAN_TEST_USERS", base.c_str());
        RemoveTestEntries();
        wchar_t saved[MAX_PATH] = L"";
        GetEnvironmentVariableW(L"USERPROFILE", saved, MAX_PATH);
        savedProfile = saved;
        SetEnvironmentVariableW(L"USERPROFILE", (base + L"\\Running User").c_str());
        ListUser(kOtherUser, REG_EXPAND_SZ, L"%SELFCLEAN_TEST_USERS%\\Other User");
        ListUser(kUnloadedUser, REG_SZ, base + L"\\Unloaded User");
        ListUser(kBinaryUser, REG_BINARY, base + L"\\Binary User");
        std::wstring hive = std::wstring(kOtherUser) + L"\\" + kUserShellFolders;
        SetValue(HKEY_USERS, hive, L"Personal", REG_EXPAND_SZ, L"%USERPROFILE%\\My Documents");
        SetValue(HKEY_USERS, hive, L"Desktop", REG_EXPAND_SZ, L"%userprofile%\\Desktop");
        SetValue(HKEY_USERS, hive, kDownloads, REG_SZ, base + L"\\Redirected");
        SetValue(HKEY_USERS, hive, L"My Music", REG_BINARY, base + L"\\Binary Music");
        SetValue(HKEY_USERS, hive, L"AppData", REG_EXPAND_SZ, L"%USERPROFILE%\\Roaming Data");
        SetValue(HKEY_USERS, hive, L"Local AppData", REG_SZ, base + L"\\Local Data");
        // As older systems name the default profile, relative to the profiles folder.
        SetValue(HKEY_LOCAL_MACHINE, kProfileList, L"DefaultUserProfile", REG_SZ, L"Default User");
    }
    void TearDown() override {
        RemoveTestEntries();
        SetEnvironmentVariableW(L"USERPROFILE", savedProfile.c_str());
        SetEnvironmentVariableW(L"SELFCLEAN_TEST_USERS", NULL);
    }
    void ListUser(const wchar_t* sid, DWORD type, const std::wstring& profilePath) {
        SetValue(HKEY_LOCAL_MACHINE, kProfileList + L"\\" + sid, L"ProfileImagePath", type,
                 profilePath);
    }
    static void RemoveTestEntries() {
        for (const wchar_t* sid : {kOtherUser, kUnloadedUser, kBinaryUser}) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kProfileList + L"\\" + sid).c_str());
            RegDeleteTreeW(HKEY_USERS, sid);
        }
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kProfileList.c_str(), L"DefaultUserProfile");
    }
    bool Visits(const Visited& expected) {
        return std::find(collector.visited.begin(), collector.visited.end(), expected) !=
               collector.visited.end();
    }
    bool VisitsAnyBelow(const std::wstring& folder) {
        for (const Visited& visited : collector.visited) {
            if (std::get<0>(visited).compare(0, folder.size(), folder) == 0) {
                return true;
            }
        }
        return false;
    }
    std::wstring base, profile;
    std::wstring savedProfile;
    Collector collector;
};

TEST_F(UserFolders, EveryUsersProfileApplicationDataAndShellFoldersAreVisited) {
    // A cloud-sync folder, found on disk: the folders directly in it are the user's too.
    std::wstring synced = base + L"\\Unloaded User\\OneDrive - Tarnwick";
    MakeFolders(Utf8(synced));
    ASSERT_FALSE(VisitUserFolders(Collect, &collector));
    EXPECT_TRUE(Visits({synced, "a user's OneDrive", 2}));
    const char* data = "a user's application data";
    EXPECT_TRUE(Visits({profile, "a user's profile", 1}));
    EXPECT_TRUE(Visits({profile + L"\\AppData\\Roaming", data, 1}));
    EXPECT_TRUE(Visits({profile + L"\\AppData\\Local", data, 1}));
    EXPECT_TRUE(Visits({profile + L"\\AppData\\LocalLow", data, 1}));
    EXPECT_TRUE(Visits({profile + L"\\Local Settings\\Application Data", data, 1}));
    // Its shell folders take its own profile, whatever the case of the variable.
    EXPECT_TRUE(Visits({profile + L"\\My Documents", "a user's Documents", 1}));
    EXPECT_TRUE(Visits({profile + L"\\Desktop", "a user's Desktop", 1}));
    EXPECT_TRUE(Visits({base + L"\\Redirected", "a user's Downloads", 1}));
    EXPECT_TRUE(Visits({profile + L"\\Roaming Data", data, 1}));
    EXPECT_TRUE(Visits({base + L"\\Local Data", data, 1}));
    // The running user's take the running environment's.
    EXPECT_TRUE(Visits({base + L"\\Running User\\Downloads", "a user's Downloads", 1}));
    EXPECT_TRUE(Visits({base + L"\\Unloaded User", "a user's profile", 1}));
    // Without a loaded hive a profile's own folders stand in; the shared ones are named twice.
    EXPECT_TRUE(Visits({base + L"\\Unloaded User\\Downloads", "a user's Downloads", 1}));
    EXPECT_TRUE(
        Visits({base + L"\\Unloaded User\\AppData\\Local\\Programs", "a user's programs", 1}));
    EXPECT_TRUE(Visits({L"C:\\users\\Public\\Music", "a user's Music", 1}));
    EXPECT_TRUE(Visits({L"C:\\users\\Public\\Music", "the shared Music", 1}));
    EXPECT_TRUE(Visits({L"C:\\users", "the profiles folder", 1}));
    EXPECT_TRUE(Visits({L"C:\\users\\Default User\\Application Data", data, 1}));
    EXPECT_TRUE(Visits({L"C:\\windows", "the system's Windows directory", 1}));
    // Values that are no text are skipped, and so is everything of a user without a profile.
    EXPECT_FALSE(VisitsAnyBelow(base + L"\\Binary"));
}

TEST_F(UserFolders, LongestPathIsVisitedAndLongerOnesSkipped) {
    // The profile's roaming data makes the longest path, 32,767 characters.
    const std::wstring roaming = L"\\AppData\\Roaming";
    std::wstring longProfile =
        profile + std::wstring(kPathSize - 1 - roaming.size() - profile.size(), L'a');
    std::wstring tooLong = base + L"\\Unloaded" + std::wstring(kPathSize, L'a');
    ListUser(kOtherUser, REG_SZ, longProfile);
    ListUser(kUnloadedUser, REG_SZ, tooLong);
    ASSERT_FALSE(VisitUserFolders(Collect, &collector));
    EXPECT_TRUE(Visits({longProfile, "a user's profile", 1}));
    EXPECT_TRUE(Visits({longProfile + roaming, "a user's application data", 1}));
    EXPECT_FALSE(VisitsAnyBelow(longProfile + L"\\AppData\\LocalLow"));
    EXPECT_TRUE(Visits({longProfile + L"\\Desktop", "a user's Desktop", 1}));
    EXPECT_FALSE(VisitsAnyBelow(base + L"\\Unloaded"));
}

TEST_F(UserFolders, VisitStopsWhenTheVisitorSaysSo) {
    collector.stopAt = profile + L"\\AppData\\Roaming";
    EXPECT_TRUE(VisitUserFolders(Collect, &collector));
    ASSERT_FALSE(collector.visited.empty());
    EXPECT_EQ(collector.visited.back(), Visited(collector.stopAt, "a user's application data", 1));
}
