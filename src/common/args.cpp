#include "common.h"

// The platform accepts command lines of up to 32,767 characters. Splitting never makes the
// text longer than the line plus one terminator, and every argument but the first takes at
// least two characters of the line (itself and a separator), so these bound any command line.
const int kCommandLineSize = 32768;
const int kMaxArguments = kCommandLineSize / 2 + 1;

static wchar_t gArgumentText[kCommandLineSize + 1];
static const wchar_t* gArguments[kMaxArguments];
static int gArgumentCount;

static bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The program path: up to the next quote when it begins with one, nothing else interpreted;
// otherwise up to the first blank, a quote in it being an ordinary character.
static const wchar_t* SplitProgramPath(const wchar_t* in, wchar_t** out) {
    if (*in == L'"') {
        ++in;
        while (*in != L'\0' && *in != L'"') {
            *(*out)++ = *in++;
        }
        if (*in == L'"') {
            ++in;
        }
    } else {
        while (*in != L'\0' && !IsBlank(*in)) {
            *(*out)++ = *in++;
        }
    }
    *(*out)++ = L'\0';
    return in;
}

// Backslashes: 2n before a quote give n and leave the quote to act; 2n+1 give n and a
// literal quote; backslashes not followed by a quote are copied unchanged.
static const wchar_t* CopyBackslashes(const wchar_t* in, wchar_t** out) {
    int count = 0;
    while (in[count] == L'\\') {
        ++count;
    }
    int copies = in[count] == L'"' ? count / 2 : count;
    for (int i = 0; i < copies; ++i) {
        *(*out)++ = L'\\';
    }
    in += count;
    if (*in == L'"' && count % 2 == 1) {
        *(*out)++ = *in++;
    }
    return in;
}

// One further argument: runs to a blank outside quotes. A quote switches quoting on or off
// and is dropped; inside quotes a doubled quote gives one literal quote and ends quoting.
static const wchar_t* SplitArgument(const wchar_t* in, wchar_t** out) {
    bool quoting = false;
    while (*in != L'\0' && (quoting || !IsBlank(*in))) {
        if (*in == L'\\') {
            in = CopyBackslashes(in, out);
        } else if (*in != L'"') {
            *(*out)++ = *in++;
        } else if (quoting && in[1] == L'"') {
            *(*out)++ = L'"';
            in += 2;
            quoting = false;
        } else {
            quoting = !quoting;
            ++in;
        }
    }
    *(*out)++ = L'\0';
    return in;
}

void LoadArguments(const wchar_t* commandLine) {
    wchar_t* out = gArgumentText;
    gArgumentCount = 0;
    // Longer than any command line the platform passes: take no arguments at all.
    if (lstrlenW(commandLine) > kCommandLineSize) {
        return;
    }
    gArguments[gArgumentCount++] = out;
    const wchar_t* in = SplitProgramPath(commandLine, &out);
    for (;;) {
        while (IsBlank(*in)) {
            ++in;
        }
        if (*in == L'\0' || gArgumentCount == kMaxArguments) {
            break;
        }
        gArguments[gArgumentCount++] = out;
        in = SplitArgument(in, &out);
    }
}

int ArgCount() {
    return gArgumentCount;
}

const wchar_t* Arg(int index) {
    return index >= 0 && index < gArgumentCount ? gArguments[index] : L"";
}
