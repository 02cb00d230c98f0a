// Runs the local setup command line and keeps the reboot-pending counter in the registry.
#pragma once

#include <windows.h>

// Runs the setup named by the arguments and waits for it. True when self-removal is to
// proceed, that is when afterwards no reboot is pending.
bool RunLocalSetup();

// True when the counter can be read and is not 0.
bool IsWaitingReboot();
// Adds one to the counter, creating key and value when needed.
void SetWaitingReboot();
// Counts one pending reboot as done. True when the stored count was 0 or 1; the key is then
// deleted.
bool ClearWaitingReboot();

// Stands in, when set, for the system's call that starts the setup (CreateProcessW). Only tests
// set it.
typedef BOOL(WINAPI* StartCall)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
extern StartCall gSetupStartStandIn;
