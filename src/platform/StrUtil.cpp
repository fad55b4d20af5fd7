#include "platform/StrUtil.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

std::string StrFormatV(const char* fmt, va_list ap) {
    char small[512];
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(small, sizeof small, fmt, ap2);
    va_end(ap2);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(out.data(), out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string StrFormat(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = StrFormatV(fmt, ap);
    va_end(ap);
    return s;
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

SDecimal ParseDecimal(std::string_view s, int64_t nMin, int64_t nMax) {
    SDecimal d;
    size_t i = 0;
    bool bNegative = false;
    if (nMin < 0 && i < s.size() && (s[i] == '+' || s[i] == '-'))
        bNegative = s[i++] == '-';
    // The magnitude stops growing past 2^63, which is beyond every bound.
    constexpr uint64_t kCap = uint64_t{1} << 63;
    uint64_t m = 0;
    const size_t nFirst = i;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (m > kCap / 10)
            m = kCap + 1;  // m * 10 would exceed the cap (and might wrap)
        else
            m = std::min(m * 10 + static_cast<uint64_t>(s[i] - '0'), kCap + 1);
    }
    d.nDigits = i - nFirst;
    if (d.nDigits == 0)
        return d;
    d.nEnd = i;
    if (bNegative) {
        // -m fits when m is at most the magnitude of nMin (computed without overflow).
        const uint64_t limit = 0 - static_cast<uint64_t>(nMin);
        if (m > limit) {
            d.nValue = nMin;
            d.bClamped = true;
            return d;
        }
        d.nValue = static_cast<int64_t>(0 - m);
    } else if (m > static_cast<uint64_t>(INT64_MAX)) {
        d.nValue = INT64_MAX;
        d.bClamped = true;
    } else {
        d.nValue = static_cast<int64_t>(m);
    }
    if (d.nValue > nMax) {
        d.nValue = nMax;
        d.bClamped = true;
    } else if (d.nValue < nMin) {
        d.nValue = nMin;
        d.bClamped = true;
    }
    return d;
}

int ReadLeadingInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
        ++i;
    return static_cast<int>(ParseDecimal(s.substr(i), INT_MIN, INT_MAX).nValue);
}

std::string_view Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlankChar(s[b]))
        ++b;
    while (e > b && IsBlankChar(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}
