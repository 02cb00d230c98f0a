#include <gtest/gtest.h>

#include <wchar.h>

#include <string>
#include <vector>

#include "common/common.h"
#include "support/sandbox.h"

static std::vector<std::wstring> Split(const wchar_t* commandLine) {
    LoadArguments(commandLine);
    std::vector<std::wstring> arguments;
    for (int i = 0; i < ArgCount(); ++i) {
        arguments.push_back(Arg(i));
    }
    return arguments;
}

using Args = std::vector<std::wstring>;

TEST(Arguments, ProgramPathIsTakenWithoutInterpretation) {
    EXPECT_EQ(Split(L"\"C:\\a b\\x.exe\" -1"), (Args{L"C:\\a b\\x.exe", L"-1"}));
    EXPECT_EQ(Split(L"C:\\a\"b\\x.exe -1"), (Args{L"C:\\a\"b\\x.exe", L"-1"}));
    EXPECT_EQ(Split(L"\"C:\\x.exe\"-1"), (Args{L"C:\\x.exe", L"-1"}));
    EXPECT_EQ(Split(L"\"C:\\dir\\\" next"), (Args{L"C:\\dir\\", L"next"}));
    EXPECT_EQ(Split(L"x.exe"), (Args{L"x.exe"}));
}

TEST(Arguments, BlanksAndQuotes) {
    EXPECT_EQ(Split(L"x \t a  \"b c\"\td "), (Args{L"x", L"a", L"b c", L"d"}));
    EXPECT_EQ(Split(L"x a\"b c\"d"), (Args{L"x", L"ab cd"}));
    EXPECT_EQ(Split(L"x \"\" y"), (Args{L"x", L"", L"y"}));
    EXPECT_EQ(Split(L"x \"open to the end"), (Args{L"x", L"open to the end"}));
}

// The older rules: inside quotes a doubled quote gives one quote and ends the quoting.
TEST(Arguments, DoubledQuoteInsideQuotesEndsQuoting) {
    EXPECT_EQ(Split(L"x \"in \"\"q\"\" x\" y"), (Args{L"x", L"in \"q", L"x y"}));
    EXPECT_EQ(Split(L"x \"a\"\"b\""), (Args{L"x", L"a\"b"}));
}

TEST(Arguments, BackslashesBeforeQuotes) {
    EXPECT_EQ(Split(L"x a\\\\\"b c\""), (Args{L"x", L"a\\b c"}));
    EXPECT_EQ(Split(L"x a\\\\\\\"b c"), (Args{L"x", L"a\\\"b", L"c"}));
    EXPECT_EQ(Split(L"x a\\b\\\\c\\"), (Args{L"x", L"a\\b\\\\c\\"}));
    EXPECT_EQ(Split(L"x \"C:\\stage\\\\\" y"), (Args{L"x", L"C:\\stage\\", L"y"}));
    EXPECT_EQ(Split(L"x \\\"a"), (Args{L"x", L"\"a"}));
}

TEST(Arguments, NoWildcardExpansionAndMissingArgumentsAreEmpty) {
    EXPECT_EQ(Split(L"x *.* ?"), (Args{L"x", L"*.*", L"?"}));
    EXPECT_STREQ(Arg(3), L"");
    EXPECT_STREQ(Arg(-1), L"");
}

// Names in any script are split like any other text: there are no lead bytes in UTF-16, and
// characters whose code units resemble a blank, quote or backslash in one byte stay whole.
TEST(Arguments, NamesInAnyScriptStayWhole) {
    EXPECT_EQ(Split(L"\"C:\\\u0421\u0442\u0430\u0434\u0438\u044f\\x.exe\" \"\u65e5\u672c \u8a9e\" "
                    L"\u03b1\u03b2\\\u5c22 \u0120\u0122\u015c\u0109\u3000\u0909"),
              (Args{L"C:\\\u0421\u0442\u0430\u0434\u0438\u044f\\x.exe", L"\u65e5\u672c \u8a9e",
                    L"\u03b1\u03b2\\\u5c22", L"\u0120\u0122\u015c\u0109\u3000\u0909"}));
    EXPECT_EQ(Split(L"x \U0001F600\"\u00a0\""), (Args{L"x", L"\U0001F600\u00a0"}));
}

TEST(Arguments, LongestCommandLineIsSplitWhole) {
    std::wstring line = L"x " + std::wstring(32000, L'a') + L" b";
    Args arguments = Split(line.c_str());
    ASSERT_EQ(arguments.size(), 3u);
    EXPECT_EQ(arguments[1].size(), 32000u);
    std::wstring many = L"x";
    for (int i = 0; i < 16000; ++i) {
        many += L" a";
    }
    EXPECT_EQ(Split(many.c_str()).size(), 16001u);
}

TEST(RoleNumber, FollowsTheRuntimeConversion) {
    EXPECT_LT(DecimalValue(L"-1"), 0);
    EXPECT_EQ(DecimalValue(L"-0"), 0);
    EXPECT_EQ(DecimalValue(L"x"), 0);
    EXPECT_EQ(DecimalValue(L""), 0);
    EXPECT_EQ(DecimalValue(L" 12"), 12);
    EXPECT_EQ(DecimalValue(L"\t+7z"), 7);
    EXPECT_EQ(DecimalValue(L"\n\v\f\r 44 5"), 44);
    EXPECT_EQ(DecimalValue(L"+-3"), 0);
    EXPECT_EQ(DecimalValue(L"2147483647"), 2147483647);
    // No overflow check: the value wraps modulo 2^32.
    EXPECT_EQ(DecimalValue(L"2147483648"), -2147483647 - 1);
    EXPECT_EQ(DecimalValue(L"4294967297"), 1);
    EXPECT_EQ(DecimalValue(L"-4294967295"), 1);
    // Only the runtime's six white-space characters are skipped, and only ASCII digits count.
    for (const wchar_t* text : {L"\u00a012", L"\u300012", L"\u200812",
                                L"\x1c"
                                L"12",
                                L"\uff11\uff12", L"\u0661\u0662"}) {
        EXPECT_EQ(DecimalValue(text), 0) << Utf8(text);
    }
}

TEST(Keyword, MatchesOnlyAsciiLettersIgnoringCase) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase(L"RunOnce", "RunOnce"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase(L"rUNoNCE", "RunOnce"));
    const wchar_t* others[] = {L"RunOnc",       L"RunOnceX",     L"RunOnce ",
                               L"R\uff55nOnce", L"RunOnc\u0415", L"RunOnc\u00e9",
                               L"RunOn\u0441e", L"RunOnce\t",    L""};
    for (const wchar_t* text : others) {
        EXPECT_FALSE(EqualsIgnoringAsciiCase(text, "RunOnce")) << Utf8(text);
    }
    // Only letters fold: "@" and "`" lie next to them in ASCII.
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"@", "`"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"[", "{"));
}

TEST(FormatText, CutsWhatDoesNotFit) {
    wchar_t buffer[8];
    wmemset(buffer, L'#', 8);
    EXPECT_FALSE(FormatText(buffer, 8, "%ls=%d", L"abcdef", 12));
    EXPECT_STREQ(buffer, L"abcdef=");
    EXPECT_TRUE(FormatText(buffer, 8, "%ls=%d", L"ab", -3));
    EXPECT_STREQ(buffer, L"ab=-3");
    EXPECT_TRUE(FormatText(buffer, 8, "%ls", L"1234567"));
    EXPECT_FALSE(FormatText(buffer, 8, "%ls", L"12345678"));
    EXPECT_STREQ(buffer, L"1234567");
}

// Narrow texts are %s and wide ones %ls, as in a narrow format; wide texts keep every
// character, whatever the code page.
TEST(FormatText, NarrowAndWideValues) {
    wchar_t buffer[64];
    EXPECT_TRUE(FormatText(buffer, 64, "%s|%ls|%d%%s|%.*ls", "kept: it", L"\u65e5\u0416\U0001F600",
                           -7, 2, L"C:x.exe"));
    EXPECT_STREQ(buffer, L"kept: it|\u65e5\u0416\U0001F600|-7%s|C:");
}

TEST(FormatSystemError, SystemTextEndsWithLineBreak) {
    wchar_t text[120];
    FormatSystemError(ERROR_FILE_NOT_FOUND, text, 120);
    std::wstring line = text;
    ASSERT_GE(line.size(), 3u);
    EXPECT_EQ(line.substr(line.size() - 2), L"\r\n");
}

TEST(FormatSystemError, CodeWithoutTextOrWithInsertsStaysBounded) {
    wchar_t text[100];
    FormatSystemError(0x2AFFFFFF, text, 100);
    EXPECT_STREQ(text, L"Error 721420287\r\n");
    // The text of this code has an insert and no argument is passed for it.
    wchar_t small[16];
    wmemset(small, L'#', 16);
    FormatSystemError(ERROR_BAD_EXE_FORMAT, small, 16);
    EXPECT_LT(wcslen(small), 16u);
}

// The waits for what another process holds double up to a quarter of a second, and together
// never pass the budget: the last one is cut to what is left.
TEST(WaitWithin, WaitsGrowAndStopAtTheBudget) {
    DWORD wait = kFirstRetryWait;
    DWORD timeLeft = 100;
    std::vector<DWORD> waits;
    while (WaitWithin(&wait, &timeLeft)) {
        waits.push_back(wait);
    }
    EXPECT_EQ(waits, (std::vector<DWORD>{20, 40, 80, 160}));
    EXPECT_EQ(timeLeft, 0u);
    wait = 200;
    timeLeft = 1000;
    ASSERT_TRUE(WaitWithin(&wait, &timeLeft));
    EXPECT_EQ(wait, 250u);
    EXPECT_EQ(timeLeft, 800u);
}
