#pragma once
// Small string helpers shared by every layer.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// printf-style formatting into a std::string.
std::string StrFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string StrFormatV(const char* fmt, va_list ap);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view s);

// A decimal number at the start of s: a sign (only when nMin < 0), then digits up to the first
// non-digit. The one overflow rule of the program: a value outside [nMin, nMax] is clamped to
// the nearer bound and flagged, never wrapped; a reader that must refuse it checks bClamped.
struct SDecimal {
    int64_t nValue = 0;
    size_t nDigits = 0;  // 0: s does not start with a number, and nValue is 0
    size_t nEnd = 0;     // index just past the last digit (0 without digits)
    bool bClamped = false;
};
SDecimal ParseDecimal(std::string_view s, int64_t nMin, int64_t nMax);

// An int the way strtol reads one: C white space and a sign first, then digits up to the first
// non-digit; no digits give 0, and values beyond the int range stop at its limits.
int ReadLeadingInt(std::string_view s);

// Blank, tab, carriage return and line feed: what Trim removes.
constexpr bool IsBlankChar(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
std::string_view Trim(std::string_view s);

// Equal when only the case of the ASCII letters differs; other bytes (UTF-8) compare exactly.
bool EqualNoCase(std::string_view a, std::string_view b);

// The file name part of a path (after the last '/').
constexpr const char* FileBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/')
            base = p + 1;
    return base;
}
