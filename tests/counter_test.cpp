#include <gtest/gtest.h>

#include <windows.h>

#include "setup/setup.h"
#include "support/counter_key.h"
#include "support/recording_trace.h"

class Counter : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveCounterKey();
        ClearTraceLines();
    }
    void TearDown() override {
        RemoveCounterKey();
    }
};

TEST_F(Counter, WithoutKey) {
    EXPECT_FALSE(IsWaitingReboot());
    EXPECT_FALSE(ClearWaitingReboot());
    EXPECT_FALSE(KeyExists(kCounterKey));
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
    EXPECT_FALSE(KeyExists(kCounterKey));
    EXPECT_FALSE(IsWaitingReboot());
}

TEST_F(Counter, ZeroMeansNothingPendingAndClearsTheKey) {
    StoreCount(0);
    EXPECT_FALSE(IsWaitingReboot());
    EXPECT_TRUE(ClearWaitingReboot());
    EXPECT_FALSE(KeyExists(kCounterKey));
}

TEST_F(Counter, KeyWithoutValue) {
    StoreCounterValue(REG_DWORD, NULL, 0);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kCounterKey, kCounterValue);
    EXPECT_FALSE(IsWaitingReboot());
    EXPECT_FALSE(ClearWaitingReboot());
    EXPECT_TRUE(KeyExists(kCounterKey));
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
    StoreCounterValue(REG_SZ, "3", 2);
    EXPECT_TRUE(IsWaitingReboot());
    SetWaitingReboot();
    EXPECT_EQ(StoredCount(), 52u);
    StoreCounterValue(REG_SZ, "12345", 6);
    EXPECT_FALSE(IsWaitingReboot());
    EXPECT_FALSE(ClearWaitingReboot());
}
