#include <gtest/gtest.h>

#include <string.h>

#include "common/common.h"
#include "entry/entry.h"
#include "entry/loader.h"
#include "setup/setup.h"
#include "support/recording_trace.h"
#include "support/sandbox.h"

TEST(CloneCommandLine, QuotesBothPaths) {
    wchar_t line[512];
    ASSERT_TRUE(FormatCloneCommandLine(line, 512, L"C:\\TEMP\\Del1A.TMP",
                                       reinterpret_cast<HANDLE>(44), L"C:\\stage\\setup\\x.exe",
                                       reinterpret_cast<HANDLE>(52)));
    EXPECT_STREQ(line, L"\"C:\\TEMP\\Del1A.TMP\" 44 \"C:\\stage\\setup\\x.exe\" 52");
    ASSERT_TRUE(FormatCloneCommandLine(line, 512,
                                       L"C:\\Users\\\u0410\u043d\u043d\u0430 \u5c71\\Del1.tmp",
                                       reinterpret_cast<HANDLE>(8), L"C:\\a\\\u03b2\\x.exe", NULL));
    LoadArguments(line);
    EXPECT_STREQ(Arg(0), L"C:\\Users\\\u0410\u043d\u043d\u0430 \u5c71\\Del1.tmp");
    EXPECT_STREQ(Arg(1), L"8");
    EXPECT_STREQ(Arg(2), L"C:\\a\\\u03b2\\x.exe");
    EXPECT_STREQ(Arg(3), L"0");
}

// The line holds what the platform starts: 32,767 characters.
TEST(CloneCommandLine, HoldsTheLongestLineAndRefusesMore) {
    static wchar_t line[32768];
    std::wstring copy = L"C:\\t\\Del1.tmp";
    size_t rest = 32767 - wcslen(L"\"\" 44 \"\" 52") - copy.size();
    std::wstring original = L"C:\\" + std::wstring(rest - 9, L'o') + L"\\x.exe";
    ASSERT_TRUE(FormatCloneCommandLine(line, 32768, copy.c_str(), reinterpret_cast<HANDLE>(44),
                                       original.c_str(), reinterpret_cast<HANDLE>(52)));
    EXPECT_EQ(wcslen(line), 32767u);
    original += L"e";
    EXPECT_FALSE(FormatCloneCommandLine(line, 32768, copy.c_str(), reinterpret_cast<HANDLE>(44),
                                        original.c_str(), reinterpret_cast<HANDLE>(52)));
}

// The platform copies a read-only original's attribute to a new copy, and a read-only file
// cannot be opened for deletion: the copy would stay in the temporary folder for good.
TEST(DisposableCopy, OfAReadOnlyOriginalGoesWithItsHandle) {
    std::string base = FreshFolder("entry", "DisposableCopy");
    WriteFile(base + "x.exe");
    SetReadOnly(base + "x.exe");
    HANDLE copy = OpenDisposableCopy(Wide(base + "x.exe").c_str(), Wide(base + "Del1.tmp").c_str());
    ASSERT_NE(copy, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Exists(base + "Del1.tmp"));
    CloseHandle(copy);
    EXPECT_FALSE(Exists(base + "Del1.tmp"));
    EXPECT_TRUE(Exists(base + "x.exe"));
}

TEST(Entry, FewerThanThreeArgumentsOnlyTraces) {
    UseCommandLine("C:\\stage\\setup\\x.exe -1");
    ClearTraceLines();
    EXPECT_EQ(RunEntry(), 0);
    std::vector<std::string> expected = {
        "Program arguments: \r\n", "__argv[0] = C:\\stage\\setup\\x.exe\r\n", "__argv[1] = -1\r\n"};
    EXPECT_EQ(TraceLines(), expected);
}

TEST(Entry, LongArgumentIsTracedCutButKeptWhole) {
    std::string longArgument(2000, 'a');
    UseCommandLine("x.exe " + longArgument);
    ClearTraceLines();
    EXPECT_EQ(RunEntry(), 0);
    ASSERT_EQ(TraceLines().size(), 3u);
    EXPECT_EQ(TraceLines()[2].size(), 767u);
    EXPECT_EQ(TraceLines()[2].substr(0, 14), "__argv[1] = aa");
    EXPECT_EQ(Utf8(Arg(1)), longArgument);
}

TEST(Entry, ArgumentsInAnyScriptAreTracedWhole) {
    UseCommandLine(u8"x.exe \u0420\u0443\u043a\u043e\u0432\u043e\u0434\u0441\u0442\u0432\u043e"
                   u8"\u65e5\u672c\u8a9e\U0001F600");
    ClearTraceLines();
    EXPECT_EQ(RunEntry(), 0);
    std::vector<std::string> expected = {
        "Program arguments: \r\n", "__argv[0] = x.exe\r\n",
        u8"__argv[1] = \u0420\u0443\u043a\u043e\u0432\u043e\u0434\u0441\u0442\u0432\u043e"
        u8"\u65e5\u672c\u8a9e\U0001F600\r\n"};
    EXPECT_EQ(TraceLines(), expected);
}

// Arguments are values of the trace line, never part of its format.
TEST(Entry, PercentSignsInArgumentsAreTracedAsWritten) {
    UseCommandLine("x.exe 100%s%d%n%");
    ClearTraceLines();
    EXPECT_EQ(RunEntry(), 0);
    std::vector<std::string> expected = {"Program arguments: \r\n", "__argv[0] = x.exe\r\n",
                                         "__argv[1] = 100%s%d%n%\r\n"};
    EXPECT_EQ(TraceLines(), expected);
}

// The loader's calls and the setup's start, as they were asked, in order. Systems before
// Windows 8 may lack the search flags.
static std::vector<std::string> gAsked;
static bool gSearchFlagsExist;

static BOOL WINAPI RecordSearchFlags(DWORD flags) {
    gAsked.push_back("search flags " + std::to_string(flags));
    return TRUE;
}

static BOOL WINAPI RecordDllDirectory(const wchar_t* folder) {
    gAsked.push_back(folder == NULL ? "DLL directory reset"
                                    : "DLL directory '" + Utf8(folder) + "'");
    return TRUE;
}

static void* LookUpRecorders(const char* name) {
    if (strcmp(name, "SetDllDirectoryW") == 0) {
        return reinterpret_cast<void*>(RecordDllDirectory);
    }
    return gSearchFlagsExist ? reinterpret_cast<void*>(RecordSearchFlags) : NULL;
}

static BOOL WINAPI RecordSetupStart(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                    BOOL, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                    LPPROCESS_INFORMATION) {
    gAsked.push_back("setup started with flags " + std::to_string(flags));
    return FALSE;
}

// Wine passes neither the error mode nor the DLL directory on to a child, so the calls are
// recorded: the setup gets the system's error mode and DLL search, while this process's search is
// narrowed before the setup and again after it.
TEST(Entry, SetupStartsWithTheSystemsErrorModeAndDllSearch) {
    std::string start = "setup started with flags " +
                        std::to_string(HIGH_PRIORITY_CLASS | CREATE_DEFAULT_ERROR_MODE);
    std::string flags = "search flags " + std::to_string(LOAD_LIBRARY_SEARCH_SYSTEM32);
    std::vector<std::string> withFlags = {flags, start, flags};
    std::vector<std::string> without = {"DLL directory ''", "DLL directory reset", start,
                                        "DLL directory ''"};
    gDllSearchLookUpStandIn = LookUpRecorders;
    gSetupStartStandIn = RecordSetupStart;
    for (bool exist : {true, false}) {
        gSearchFlagsExist = exist;
        gAsked.clear();
        UseCommandLine("x.exe -1 setup.exe S:\\");
        EXPECT_EQ(RunEntry(), 0);
        EXPECT_EQ(gAsked, exist ? withFlags : without);
    }
    gDllSearchLookUpStandIn = NULL;
    gSetupStartStandIn = NULL;
}
