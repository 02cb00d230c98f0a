#include "common.h"

// A file of its own, so that a test build can link a stand-in in its place.
void* SystemProcedure(const wchar_t* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name));
}
