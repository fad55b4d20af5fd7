#pragma once
// Initialisation files: "[Section]" headers and "key=value" lines, read and written with the
// semantics the settings file has always had.
//
// Reading: section and key names match without regard to ASCII case; blanks around names and
// values are ignored; the first occurrence of a section or key wins; one enclosing pair of double
// quotes is stripped from a value; strings are cut at a byte limit (255 by default) without
// splitting a UTF-8 character; integers are decimal and wrap to 32 bits, so "4294967295" reads
// as -1. Lines that are neither headers nor keys (comments, garbage) are ignored.
//
// Writing: a key is replaced in place, or added at the end of its section, or its section is
// added at the end of the file; every other line stays byte for byte. Integers are written as
// "%u". A value that begins with a double quote, or begins or ends with a blank, is written
// inside one more pair of quotes so that it reads back unchanged. The file is replaced
// atomically (WriteFileAtomic).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The longest prefix of s of at most maxBytes bytes that does not end inside a UTF-8 sequence.
std::string Utf8Cut(std::string_view s, size_t maxBytes);

class CIniFile {
public:
    static constexpr size_t kMaxFileBytes = 16u << 20;
    // Lines longer than this are still read, but reported as a problem.
    static constexpr size_t kLongLineBytes = 4096;
    static constexpr size_t kMaxStringBytes = 255;

    enum ELoad {
        INI_LOADED,
        INI_MISSING,     // no file: every key is missing
        INI_TOO_LARGE,   // larger than kMaxFileBytes: not read
        INI_UNREADABLE,  // exists but cannot be read
    };
    enum EValue {
        VALUE_MISSING,  // no such section or key: the caller's default applies
        VALUE_OK,
        VALUE_CUT,        // a string longer than the limit, cut
        VALUE_MALFORMED,  // an integer key whose value is not a 32-bit decimal number
    };

    // Replaces the contents with the file's. On anything but INI_LOADED the contents are empty
    // (and pErrno receives errno).
    ELoad Load(const std::string& path, int* pErrno = nullptr);
    // Replaces the contents with text (as if it had been read from a file).
    void SetText(std::string text);
    // The file's bytes as they would be written.
    std::string GetText() const;
    // Atomic replacement of the file; false (with errno in pErrno) when it could not be written,
    // in which case the old file is untouched.
    bool Save(const std::string& path, int* pErrno = nullptr) const;

    // What looked wrong in the text read: bytes that are not UTF-8 text (NUL, invalid
    // sequences), over-long lines. Empty for a clean file.
    const std::vector<std::string>& Problems() const { return m_vecProblems; }
    // True when the text holds NUL bytes or is not valid UTF-8: not a text file at all.
    bool IsBinary() const { return m_bBinary; }

    bool HasSection(std::string_view section) const;
    // value is set only for VALUE_OK and VALUE_CUT.
    EValue GetString(std::string_view section, std::string_view key, std::string& value,
                     size_t maxBytes = kMaxStringBytes) const;
    // value is set only for VALUE_OK. Accepts an optional sign and digits after leading blanks
    // and stops at the first other character; values outside the 32-bit range, or without any
    // digit, are VALUE_MALFORMED.
    EValue GetInt(std::string_view section, std::string_view key, int32_t& value) const;
    // The keys of a section in file order (first occurrence of each), values unquoted, uncut.
    std::vector<std::pair<std::string, std::string>> GetSection(std::string_view section) const;

    // Stores a string. CR, LF and NUL cannot live in a line: each is written as a blank, and the
    // result is false to say the value was changed. A key or section name that cannot be
    // written (empty, or holding '=', '[', ']', CR, LF, NUL) is refused: false, nothing stored.
    bool SetString(std::string_view section, std::string_view key, std::string_view value);
    // Stores an integer as "%u".
    bool SetInt(std::string_view section, std::string_view key, int32_t value);

private:
    // Index of the header line of the first matching section, or npos.
    size_t FindSection(std::string_view section) const;
    // Index of the first key line of the section that starts at header, or npos.
    size_t FindKey(size_t header, std::string_view key) const;
    // One past the last line that belongs to the section starting at header.
    size_t SectionEnd(size_t header) const;
    void CheckProblems(const std::string& text);
    std::string LineEnd() const;

    std::vector<std::string> m_vecLines;  // as in the file, without '\n' (a '\r' stays)
    bool m_bFinalNewline = true;
    bool m_bBinary = false;
    std::vector<std::string> m_vecProblems;
};
