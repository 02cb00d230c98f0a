#include "counter_key.h"

#include <gtest/gtest.h>

#include "selfclean_config.h"

const char kCounterKey[] = SELFCLEAN_COUNTER_KEY;
const char kCounterParent[] = SELFCLEAN_COUNTER_PARENT;
const char kCounterValue[] = SELFCLEAN_COUNTER_VALUE;

void RemoveCounterKey() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCounterKey);
}

void StoreCounterValue(DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCounterKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    RegSetValueExA(key, kCounterValue, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void StoreCount(DWORD count) {
    StoreCounterValue(REG_DWORD, &count, sizeof(count));
}

DWORD StoredCount() {
    DWORD count = 0xDEADBEEF;
    DWORD size = sizeof(count);
    RegGetValueA(HKEY_LOCAL_MACHINE, kCounterKey, kCounterValue, RRF_RT_REG_DWORD, NULL, &count,
                 &size);
    return count;
}

bool KeyExists(const char* path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}
