#include "common.h"

// The platform accepts command lines of up to 32,767 characters. Splitting never makes the
// text longer than the line plus one terminator, and every argument but the first takes at
// least two bytes of the line (itself and a separator), so these bound any command line.
const int kCommandLineSize = 32768;
const int kMaxArguments = kCommandLineSize / 2 + 1;

static char gArgumentText[kCommandLineSize + 1];
static const char* gArguments[kMaxArguments];
static int gArgumentCount;

static bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

static bool IsLeadByte(char c) {
    return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE;
}

// Copies one character from *in to *out, a double-byte pair whole.
static void CopyCharacter(const char** in, char** out) {
    if (IsLeadByte(**in) && (*in)[1] != '\0') {
        *(*out)++ = *(*in)++;
    }
    *(*out)++ = *(*in)++;
}

// The program path: up to the next quote when it begins with one, nothing else interpreted;
// otherwise up to the first blank, a quote in it being an ordinary character.
static const char* SplitProgramPath(const char* in, char** out) {
    if (*in == '"') {
        ++in;
        while (*in != '\0' && *in != '"') {
            CopyCharacter(&in, out);
        }
        if (*in == '"') {
            ++in;
        }
    } else {
        while (*in != '\0' && !IsBlank(*in)) {
            CopyCharacter(&in, out);
        }
    }
    *(*out)++ = '\0';
    return in;
}

// Backslashes: 2n before a quote give n and leave the quote to act; 2n+1 give n and a
// literal quote; backslashes not followed by a quote are copied unchanged.
static const char* CopyBackslashes(const char* in, char** out) {
    int count = 0;
    while (in[count] == '\\') {
        ++count;
    }
    int copies = in[count] == '"' ? count / 2 : count;
    for (int i = 0; i < copies; ++i) {
        *(*out)++ = '\\';
    }
    in += count;
    if (*in == '"' && count % 2 == 1) {
        *(*out)++ = *in++;
    }
    return in;
}

// One further argument: runs to a blank outside quotes. A quote switches quoting on or off
// and is dropped; inside quotes a doubled quote gives one literal quote and ends quoting.
static const char* SplitArgument(const char* in, char** out) {
    bool quoting = false;
    while (*in != '\0' && (quoting || !IsBlank(*in))) {
        if (*in == '\\') {
            in = CopyBackslashes(in, out);
        } else if (*in != '"') {
            CopyCharacter(&in, out);
        } else if (quoting && in[1] == '"') {
            *(*out)++ = '"';
            in += 2;
            quoting = false;
        } else {
            quoting = !quoting;
            ++in;
        }
    }
    *(*out)++ = '\0';
    return in;
}

void LoadArguments(const char* commandLine) {
    char* out = gArgumentText;
    gArgumentCount = 0;
    // Longer than any command line the platform passes: take no arguments at all.
    if (lstrlenA(commandLine) > kCommandLineSize) {
        return;
    }
    gArguments[gArgumentCount++] = out;
    const char* in = SplitProgramPath(commandLine, &out);
    for (;;) {
        while (IsBlank(*in)) {
            ++in;
        }
        if (*in == '\0' || gArgumentCount == kMaxArguments) {
            break;
        }
        gArguments[gArgumentCount++] = out;
        in = SplitArgument(in, &out);
    }
}

int ArgCount() {
    return gArgumentCount;
}

const char* Arg(int index) {
    return index >= 0 && index < gArgumentCount ? gArguments[index] : "";
}
