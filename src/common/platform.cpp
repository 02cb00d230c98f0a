#include "common.h"

// Set field by field: an aggregate initialised in its declaration is copied from writable
// data, which would cost the image a section of its own.
SECURITY_ATTRIBUTES InheritableHandleAttributes() {
    SECURITY_ATTRIBUTES inheritable;
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = NULL;
    inheritable.bInheritHandle = TRUE;
    return inheritable;
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
