#include <gtest/gtest.h>

#include <windows.h>

#include "setup/setup.h"
#include "support/recording_trace.h"

static const char kKey[] = "SOFTWARE\\Tarnwick\\Quorvane Stelmark Backup\\Install";

class Counter : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveKey();
        ClearTraceLines();
    }
    void TearDown() override {
        RemoveKey();
    }
    static void RemoveKey() {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    }
    static void Store(DWORD type, const void* data, DWORD size) {
        HKEY key;
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
            ERROR_SUCCESS);
        RegSetValueExA(key, "waitingreboot", 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    static void StoreCount(DWORD count) {
        Store(REG_DWORD, &count, sizeof(count));
    }
    static bool KeyExists() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
    static DWORD StoredCount() {
        DWORD count = 0xDEADBEEF;
        DWORD size = sizeof(count);
        RegGetValueA(HKEY_LOCAL_MACHINE, kKey, "waitingreboot", RRF_RT_REG_DWORD, NULL, &count,
                     &size);
        return count;
    }
};

TEST_F(Counter, WithoutKey) {
    EXPECT_FALSE(IsWaitingReboot());
    EXPECT_FALSE(ClearWaitingReboot());
    EXPECT_FALSE(KeyExists());
    SetWaitingReboot();
    EXPECT_EQ(StoredCount(), 1u);
    EXPECT_TRUE(IsWaitingReboot());
    EXPECT_TRUE(Traced("Count = 1"));
}

TEST_F(Counter, CountsUpAndDownAcrossRuns) {
    StoreCount(3);
    EXPECT_TRUE(IsWaitingReboot());
    EXPECT_FALSE(ClearWaitingReboot());
    EXPECT_EQ(StoredCount(), 2u);
    EXPECT_TRUE(Traced("Count = 2"));
    SetWaitingReboot();
    EXPECT_EQ(StoredCount(), 3u);
    EXPECT_FALSE(ClearWaitingReboot());
    EXPECT_FALSE(ClearWaitingReboot());
    EXPECT_EQ(StoredCount(), 1u);
    ClearTraceLines();
    EXPECT_TRUE(ClearWaitingReboot());
    std::vector<std::string> expected = {"ClearWaitingReboot Start", "Count = 1", "waitingreboot",
                                         "ClearWaitingReboot return TRUE"};
    EXPECT_EQ(TraceLines(), expected);
    EXPECT_FALSE(KeyExists());
    EXPECT_FALSE(IsWaitingReboot());
}

TEST_F(Counter, ZeroMeansNothingPendingAndClearsTheKey) {
    StoreCount(0);
    EXPECT_FALSE(IsWaitingReboot());
    EXPECT_TRUE(ClearWaitingReboot());
    EXPECT_FALSE(KeyExists());
}

TEST_F(Counter, KeyWithoutValue) {
    Store(REG_DWORD, NULL, 0);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kKey, "waitingreboot");
    EXPECT_FALSE(IsWaitingReboot());
    EXPECT_FALSE(ClearWaitingReboot());
    EXPECT_TRUE(KeyExists());
    SetWaitingReboot();
    EXPECT_EQ(StoredCount(), 1u);
}

TEST_F(Counter, LargestCountWrapsToZero) {
    StoreCount(0xFFFFFFFF);
    SetWaitingReboot();
    EXPECT_EQ(StoredCount(), 0u);
    EXPECT_FALSE(IsWaitingReboot());
    StoreCount(0x80000000);
    EXPECT_FALSE(ClearWaitingReboot());
    EXPECT_EQ(StoredCount(), 0x7FFFFFFFu);
}

TEST_F(Counter, ShortDataFillsTheLowBytesLongDataIsNoValue) {
    Store(REG_SZ, "3", 2);
    EXPECT_TRUE(IsWaitingReboot());
    SetWaitingReboot();
    EXPECT_EQ(StoredCount(), 52u);
    Store(REG_SZ, "12345", 6);
    EXPECT_FALSE(IsWaitingReboot());
    EXPECT_FALSE(ClearWaitingReboot());
}
