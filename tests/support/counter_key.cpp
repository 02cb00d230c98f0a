#include "counter_key.h"

#include <gtest/gtest.h>

const char kCounterKey[] = "SOFTWARE\\Tarnwick\\Quorvane Stelmark Backup\\Install";

void RemoveCounterKey() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCounterKey);
}

void StoreCounterValue(DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCounterKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, "waitingreboot", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void StoreCount(DWORD count) {
    StoreCounterValue(REG_DWORD, &count, sizeof(count));
}

DWORD StoredCount() {
    DWORD count = 0xDEADBEEF;
    DWORD size = sizeof(count);
    RegGetValueA(HKEY_LOCAL_MACHINE, kCounterKey, "waitingreboot", RRF_RT_REG_DWORD, NULL, &count,
                 &size);
    return count;
}
