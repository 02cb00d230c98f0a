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
