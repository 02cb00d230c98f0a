#include "common.h"

#include <stdio.h>

// The formats are ASCII texts checked as narrow formats, where %s is a narrow text; the wide
// formatter reads %s as a wide text and %hs as a narrow one.
static bool WidenFormat(const char* format, wchar_t* out, int capacity) {
    int length = 0;
    for (const char* in = format; *in != '\0'; ++in) {
        if (length + 3 >= capacity) {
            return false;
        }
        out[length++] = static_cast<unsigned char>(*in);
        if (in[0] == '%' && in[1] == '%') {
            out[length++] = *++in;
        } else if (in[0] == '%' && in[1] == 's') {
            out[length++] = L'h';
        }
    }
    out[length] = L'\0';
    return true;
}

bool FormatTextList(wchar_t* out, int capacity, const char* format, va_list args) {
    wchar_t wideFormat[128];
    if (!WidenFormat(format, wideFormat, sizeof(wideFormat) / sizeof(wideFormat[0]))) {
        out[0] = L'\0';
        return false;
    }
    // The runtime's bounded formatter: it neither writes past capacity nor, when the line
    // fills it, a terminator, so one is always set here.
    int written = _vsnwprintf(out, capacity, wideFormat, args);
    out[capacity - 1] = L'\0';
    return written >= 0 && written < capacity;
}

bool FormatText(wchar_t* out, int capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool whole = FormatTextList(out, capacity, format, args);
    va_end(args);
    return whole;
}

static bool IsAtoiSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

int DecimalValue(const wchar_t* text) {
    while (IsAtoiSpace(*text)) {
        ++text;
    }
    bool negative = *text == L'-';
    if (*text == L'-' || *text == L'+') {
        ++text;
    }
    // Unsigned, so that the value wraps as the runtime's does instead of overflowing.
    unsigned int value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + static_cast<unsigned int>(*text - L'0');
    }
    return static_cast<int>(negative ? 0u - value : value);
}

static wchar_t FoldAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualsIgnoringAsciiCase(const wchar_t* text, const char* ascii) {
    for (;; ++text, ++ascii) {
        if (FoldAscii(*text) != FoldAscii(static_cast<unsigned char>(*ascii))) {
            return false;
        }
        if (*text == L'\0') {
            return true;
        }
    }
}
