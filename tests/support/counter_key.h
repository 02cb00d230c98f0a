// The reboot-pending counter as the tests set it up and read it back.
#pragma once

#include <windows.h>

// The key and value the build is configured with, and the key it deletes the counter's key from.
extern const char kCounterKey[];
extern const char kCounterParent[];
extern const char kCounterValue[];

void RemoveCounterKey();
// Creates the key when needed and writes the counter's value with any type and data.
void StoreCounterValue(DWORD type, const void* data, DWORD size);
void StoreCount(DWORD count);
// The stored count, or 0xDEADBEEF when it cannot be read as a 32-bit value.
DWORD StoredCount();
// Whether the key at path under HKEY_LOCAL_MACHINE exists.
bool KeyExists(const char* path);
