#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "common/common.h"

static std::vector<std::string> Split(const char* commandLine) {
    LoadArguments(commandLine);
    std::vector<std::string> arguments;
    for (int i = 0; i < ArgCount(); ++i) {
        arguments.push_back(Arg(i));
    }
    return arguments;
}

using Args = std::vector<std::string>;

TEST(Arguments, ProgramPathIsTakenWithoutInterpretation) {
    EXPECT_EQ(Split("\"C:\\a b\\x.exe\" -1"), (Args{"C:\\a b\\x.exe", "-1"}));
    EXPECT_EQ(Split("C:\\a\"b\\x.exe -1"), (Args{"C:\\a\"b\\x.exe", "-1"}));
    EXPECT_EQ(Split("\"C:\\x.exe\"-1"), (Args{"C:\\x.exe", "-1"}));
    EXPECT_EQ(Split("\"C:\\dir\\\" next"), (Args{"C:\\dir\\", "next"}));
    EXPECT_EQ(Split("x.exe"), (Args{"x.exe"}));
}

TEST(Arguments, BlanksAndQuotes) {
    EXPECT_EQ(Split("x \t a  \"b c\"\td "), (Args{"x", "a", "b c", "d"}));
    EXPECT_EQ(Split("x a\"b c\"d"), (Args{"x", "ab cd"}));
    EXPECT_EQ(Split("x \"\" y"), (Args{"x", "", "y"}));
    EXPECT_EQ(Split("x \"open to the end"), (Args{"x", "open to the end"}));
}

// The older rules: inside quotes a doubled quote gives one quote and ends the quoting.
TEST(Arguments, DoubledQuoteInsideQuotesEndsQuoting) {
    EXPECT_EQ(Split("x \"in \"\"q\"\" x\" y"), (Args{"x", "in \"q", "x y"}));
    EXPECT_EQ(Split("x \"a\"\"b\""), (Args{"x", "a\"b"}));
}

TEST(Arguments, BackslashesBeforeQuotes) {
    EXPECT_EQ(Split("x a\\\\\"b c\""), (Args{"x", "a\\b c"}));
    EXPECT_EQ(Split("x a\\\\\\\"b c"), (Args{"x", "a\\\"b", "c"}));
    EXPECT_EQ(Split("x a\\b\\\\c\\"), (Args{"x", "a\\b\\\\c\\"}));
    EXPECT_EQ(Split("x \"C:\\stage\\\\\" y"), (Args{"x", "C:\\stage\\", "y"}));
    EXPECT_EQ(Split("x \\\"a"), (Args{"x", "\"a"}));
}

TEST(Arguments, NoWildcardExpansionAndMissingArgumentsAreEmpty) {
    EXPECT_EQ(Split("x *.* ?"), (Args{"x", "*.*", "?"}));
    EXPECT_STREQ(Arg(3), "");
    EXPECT_STREQ(Arg(-1), "");
}

TEST(Arguments, LongestCommandLineIsSplitWhole) {
    std::string line = "x " + std::string(32000, 'a') + " b";
    Args arguments = Split(line.c_str());
    ASSERT_EQ(arguments.size(), 3u);
    EXPECT_EQ(arguments[1].size(), 32000u);
    std::string many = "x";
    for (int i = 0; i < 16000; ++i) {
        many += " a";
    }
    EXPECT_EQ(Split(many.c_str()).size(), 16001u);
}

TEST(RoleNumber, FollowsTheRuntimeConversion) {
    EXPECT_LT(atoi("-1"), 0);
    EXPECT_EQ(atoi("-0"), 0);
    EXPECT_EQ(atoi("x"), 0);
    EXPECT_EQ(atoi(" 12"), 12);
    EXPECT_EQ(atoi("\t+7z"), 7);
}

TEST(FormatText, CutsWhatDoesNotFit) {
    char buffer[8];
    memset(buffer, '#', sizeof(buffer));
    EXPECT_FALSE(FormatText(buffer, sizeof(buffer), "%s=%d", "abcdef", 12));
    EXPECT_STREQ(buffer, "abcdef=");
    EXPECT_TRUE(FormatText(buffer, sizeof(buffer), "%s=%d", "ab", -3));
    EXPECT_STREQ(buffer, "ab=-3");
    EXPECT_TRUE(FormatText(buffer, sizeof(buffer), "%s", "1234567"));
    EXPECT_FALSE(FormatText(buffer, sizeof(buffer), "%s", "12345678"));
    EXPECT_STREQ(buffer, "1234567");
}

TEST(FormatSystemError, SystemTextEndsWithLineBreak) {
    char text[120];
    FormatSystemError(ERROR_FILE_NOT_FOUND, text, sizeof(text));
    std::string line = text;
    ASSERT_GE(line.size(), 3u);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
}

TEST(FormatSystemError, CodeWithoutTextOrWithInsertsStaysBounded) {
    char text[100];
    FormatSystemError(0x2AFFFFFF, text, sizeof(text));
    EXPECT_STREQ(text, "Error 721420287\r\n");
    // The text of this code has an insert and no argument is passed for it.
    char small[16];
    memset(small, '#', sizeof(small));
    FormatSystemError(ERROR_BAD_EXE_FORMAT, small, sizeof(small));
    EXPECT_LT(strlen(small), sizeof(small));
}
