#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/StrUtil.h"

namespace {

struct DecimalCase {
    std::string text;
    int64_t nMin;
    int64_t nMax;
    int64_t value;
    size_t digits;
    size_t end;
    bool clamped;
};

TEST(StrUtilTest, ParseDecimalClampsAndFlagsOutOfRange) {
    const std::vector<DecimalCase> cases = {
        {"42", 0, 100, 42, 2, 2, false},
        {"42abc", 0, 100, 42, 2, 2, false},
        {"007.5", 0, 10, 7, 3, 3, false},
        {"", 0, 100, 0, 0, 0, false},
        {"x1", 0, 100, 0, 0, 0, false},
        // An unsigned range takes no sign.
        {"-5", 0, 100, 0, 0, 0, false},
        {"+5", 0, 100, 0, 0, 0, false},
        {"-5", -10, 10, -5, 1, 2, false},
        {"+5", -10, 10, 5, 1, 2, false},
        {"-", -10, 10, 0, 0, 0, false},
        {"3", 5, 10, 5, 1, 1, true},
        {"11", 5, 10, 10, 2, 2, true},
        {"-11", -10, 10, -10, 2, 3, true},
        {"65535", 0, 0xFFFF, 65535, 5, 5, false},
        {"65536", 0, 0xFFFF, 65535, 5, 5, true},
        {"-2147483648", INT32_MIN, UINT32_MAX, INT32_MIN, 10, 11, false},
        {"-2147483649", INT32_MIN, UINT32_MAX, INT32_MIN, 10, 11, true},
        {"4294967295", INT32_MIN, UINT32_MAX, 4294967295, 10, 10, false},
        {"4294967296", INT32_MIN, UINT32_MAX, 4294967295, 10, 10, true},
        // Far more digits than any 64-bit value: clamped, never wrapped.
        {"99999999999999999999999999", INT_MIN, INT_MAX, INT_MAX, 26, 26, true},
        {"-99999999999999999999999999", INT_MIN, INT_MAX, INT_MIN, 26, 27, true},
        {"18446744073709551617", INT_MIN, INT_MAX, INT_MAX, 20, 20, true},
        {"9223372036854775807", INT64_MIN, INT64_MAX, INT64_MAX, 19, 19, false},
        {"9223372036854775808", INT64_MIN, INT64_MAX, INT64_MAX, 19, 19, true},
        {"-9223372036854775808", INT64_MIN, INT64_MAX, INT64_MIN, 19, 20, false},
        {"-9223372036854775809", INT64_MIN, INT64_MAX, INT64_MIN, 19, 20, true},
    };
    for (const DecimalCase& c : cases) {
        SCOPED_TRACE(c.text + " in [" + std::to_string(c.nMin) + ", " + std::to_string(c.nMax) +
                     "]");
        const SDecimal d = ParseDecimal(c.text, c.nMin, c.nMax);
        EXPECT_EQ(c.value, d.nValue);
        EXPECT_EQ(c.digits, d.nDigits);
        EXPECT_EQ(c.end, d.nEnd);
        EXPECT_EQ(c.clamped, d.bClamped);
    }
}

TEST(StrUtilTest, ReadLeadingIntReadsLikeStrtolAndStopsAtTheIntLimits) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"12", 12},
        {" \t\n12x", 12},
        {"-4", -4},
        {"+4", 4},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(value, ReadLeadingInt(text)) << text;
}

TEST(StrUtilTest, TrimRemovesBlanksAndLineEndsAtBothEnds) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},           {" \t\r\n", ""},  {"a", "a"},
        {"  a b  ", "a b"}, {"\ta\r\n", "a"}, {"\va\f", "\va\f"},  // only the four are blanks
    };
    for (const auto& [text, trimmed] : cases)
        EXPECT_EQ(trimmed, Trim(text)) << text;
}

TEST(StrUtilTest, EqualNoCaseFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(EqualNoCase("Settings", "sETTINGS"));
    EXPECT_TRUE(EqualNoCase("", ""));
    EXPECT_FALSE(EqualNoCase("a", "ab"));
    EXPECT_FALSE(EqualNoCase("[", "{"));  // 0x5B and 0x7B differ by the case bit but are no letters
    EXPECT_FALSE(EqualNoCase("\xc3\xbc", "\xc3\x9c"));  // ü and Ü
    EXPECT_TRUE(EqualNoCase("\xc3\xbc", "\xc3\xbc"));
}

}  // namespace
