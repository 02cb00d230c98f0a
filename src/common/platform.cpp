// Small services of the system shared by every part: inheritable handles, files' identities,
// volumes' roots and the growing waits.
#include "common.h"

BOOL(WINAPI* gVolumePathStandIn)(LPCWSTR, LPWSTR, DWORD) = NULL;

// Set field by field: an aggregate initialised in its declaration is copied from writable
// data, which would cost the image a section of its own.
SECURITY_ATTRIBUTES InheritableHandleAttributes() {
    SECURITY_ATTRIBUTES inheritable;
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = NULL;
    inheritable.bInheritHandle = TRUE;
    return inheritable;
}

bool IdentityOf(HANDLE file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        return false;
    }
    identity->volume = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    return true;
}

bool IsSameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

bool VolumeRootOf(const wchar_t* path, wchar_t* root) {
    if (gVolumePathStandIn != NULL) {
        return gVolumePathStandIn(path, root, kPathSize) != FALSE;
    }
    return GetVolumePathNameW(path, root, kPathSize) != FALSE;
}

bool WaitWithin(DWORD* wait, DWORD* timeLeft) {
    const DWORD kLongestWait = 250;
    if (*timeLeft == 0) {
        return false;
    }
    DWORD pause = *wait < *timeLeft ? *wait : *timeLeft;
    Sleep(pause);
    *timeLeft -= pause;
    *wait = *wait * 2 < kLongestWait ? *wait * 2 : kLongestWait;
    return true;
}
