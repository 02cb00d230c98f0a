// The reboot-pending counter as the tests set it up and read it back.
#pragma once

#include <windows.h>

extern const char kCounterKey[];

void RemoveCounterKey();
// Creates the key when needed and writes the counter's value with any type and data.
void StoreCounterValue(DWORD type, const void* data, DWORD size);
void StoreCount(DWORD count);
// The stored count, or 0xDEADBEEF when it cannot be read as a 32-bit value.
DWORD StoredCount();
