// The reboot-pending counter in the registry, under the key the build is configured with.
#include "setup.h"

#include "../common/common.h"
#include "selfclean_config.h"

static const char kParentKey[] = SELFCLEAN_COUNTER_PARENT;
static const char kCounterKey[] = SELFCLEAN_COUNTER_KEY;
static const char kCounterValue[] = SELFCLEAN_COUNTER_VALUE;

static bool OpenKey(const char* path, HKEY* key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key) == ERROR_SUCCESS;
}

// Reads the counter into *count, which the caller presets: shorter data of any type fills
// only its low-order bytes. Longer data or a missing value counts as no value.
static bool ReadCount(HKEY key, DWORD* count) {
    DWORD size = sizeof(*count);
    return RegQueryValueExA(key, kCounterValue, NULL, NULL, reinterpret_cast<BYTE*>(count),
                            &size) == ERROR_SUCCESS;
}

static void WriteCount(HKEY key, DWORD count) {
    RegSetValueExA(key, kCounterValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                   sizeof(count));
}

static void TraceCount(DWORD count) {
    Trace("Count = %d", static_cast<int>(count));
}

bool IsWaitingReboot() {
    Trace("IsWaitingReboot Start");
    HKEY key;
    if (!OpenKey(kCounterKey, &key)) {
        Trace("IsWaitingReboot return FALSE.");
        return false;
    }
    DWORD count = 0;
    bool waiting = ReadCount(key, &count) && count != 0;
    RegCloseKey(key);
    Trace(waiting ? "IsWaitingReboot return TRUE." : "IsWaitingReboot return FALSE.");
    return waiting;
}

void SetWaitingReboot() {
    Trace("SetWaitingReboot Start.");
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCounterKey, 0, const_cast<char*>(""),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                        NULL) == ERROR_SUCCESS) {
        DWORD count = 1;
        if (ReadCount(key, &count)) {
            ++count;
        }
        WriteCount(key, count);
        TraceCount(count);
        RegCloseKey(key);
    }
    Trace("SetWaitingReboot End.");
}

// The counter's key goes with the value: the parent is opened only to delete it.
static void DeleteCounterKey() {
    HKEY parent;
    if (OpenKey(kParentKey, &parent)) {
        RegDeleteKeyA(parent, SELFCLEAN_COUNTER_SUBKEY);
        Trace("waitingreboot");
        RegCloseKey(parent);
    }
}

bool ClearWaitingReboot() {
    Trace("ClearWaitingReboot Start");
    HKEY key;
    if (!OpenKey(kCounterKey, &key)) {
        Trace("ClearWaitingReboot return FALSE");
        return false;
    }
    DWORD count = 0;
    if (!ReadCount(key, &count)) {
        RegCloseKey(key);
        Trace("ClearWaitingReboot return FALSE");
        return false;
    }
    bool lastOne = count <= 1;
    if (!lastOne) {
        WriteCount(key, --count);
    }
    TraceCount(count);
    RegCloseKey(key);
    if (!lastOne) {
        Trace("ClearWaitingReboot return FALSE");
        return false;
    }
    DeleteCounterKey();
    Trace("ClearWaitingReboot return TRUE");
    return true;
}
