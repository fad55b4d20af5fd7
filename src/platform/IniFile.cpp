#include "platform/IniFile.h"

#include <cstring>

#include "platform/FileUtil.h"
#include "platform/StrUtil.h"

namespace {

enum ELineKind { LINE_OTHER, LINE_HEADER, LINE_KEY };

struct CParsedLine {
    ELineKind kind = LINE_OTHER;
    std::string_view name;   // section name or key
    std::string_view value;  // raw value of a key line (blanks trimmed, quotes kept)
};

CParsedLine ParseLine(std::string_view line) {
    CParsedLine p;
    std::string_view t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return p;
    if (t[0] == '[') {
        size_t close = t.find(']');
        p.kind = LINE_HEADER;
        p.name =
            Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return p;
    }
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return p;
    p.name = Trim(t.substr(0, eq));
    if (p.name.empty())
        return p;
    p.kind = LINE_KEY;
    p.value = Trim(t.substr(eq + 1));
    return p;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        return v.substr(1, v.size() - 2);
    return v;
}

bool IsWritableName(std::string_view name) {
    if (Trim(name).empty() || Trim(name).size() != name.size())
        return false;
    for (char c : name)
        if (c == '=' || c == '[' || c == ']' || c == '\r' || c == '\n' || c == '\0')
            return false;
    return name[0] != ';' && name[0] != '#';
}

}  // namespace

std::string Utf8Cut(std::string_view s, size_t maxBytes) {
    if (s.size() <= maxBytes)
        return std::string(s);
    size_t cut = maxBytes;
    // Walk back from the first dropped byte over continuation bytes to the sequence's lead byte.
    size_t lead = cut;
    int back = 0;
    while (lead > 0 && back < 3 && (static_cast<unsigned char>(s[lead]) & 0xC0) == 0x80) {
        --lead;
        ++back;
    }
    if (back > 0) {
        const auto c = static_cast<unsigned char>(s[lead]);
        size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (len != 0 && lead + len > cut)
            cut = lead;
    }
    return std::string(s.substr(0, cut));
}

CIniFile::ELoad CIniFile::Load(const std::string& path, int* pErrno) {
    std::string text;
    EReadFile r = ReadWholeFile(path, kMaxFileBytes, text, pErrno);
    SetText(r == READ_FILE_OK ? std::move(text) : std::string());
    switch (r) {
        case READ_FILE_OK:
            return INI_LOADED;
        case READ_FILE_MISSING:
            return INI_MISSING;
        case READ_FILE_TOO_LARGE:
            return INI_TOO_LARGE;
        default:
            return INI_UNREADABLE;
    }
}

void CIniFile::SetText(std::string text) {
    m_vecLines.clear();
    m_vecProblems.clear();
    m_bFinalNewline = true;
    m_bBinary = false;
    CheckProblems(text);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            m_vecLines.emplace_back(text, pos);
            m_bFinalNewline = false;
            break;
        }
        m_vecLines.emplace_back(text, pos, nl - pos);
        pos = nl + 1;
    }
}

void CIniFile::CheckProblems(const std::string& text) {
    if (text.find('\0') != std::string::npos) {
        m_bBinary = true;
        m_vecProblems.push_back("holds NUL bytes (binary data)");
    } else if (!IsValidUtf8(text)) {
        m_bBinary = true;
        m_vecProblems.push_back("is not UTF-8 text");
    }
    size_t pos = 0, line = 1, nLong = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t len = (nl == std::string::npos ? text.size() : nl) - pos;
        if (len > kLongLineBytes && ++nLong <= 3)
            m_vecProblems.push_back(StrFormat("line %zu is %zu bytes long", line, len));
        if (nl == std::string::npos)
            break;
        pos = nl + 1;
        ++line;
    }
    if (nLong > 3)
        m_vecProblems.push_back(StrFormat("%zu more over-long lines", nLong - 3));
}

std::string CIniFile::GetText() const {
    std::string out;
    size_t total = 0;
    for (const auto& l : m_vecLines)
        total += l.size() + 1;
    out.reserve(total);
    for (size_t i = 0; i < m_vecLines.size(); ++i) {
        out += m_vecLines[i];
        if (i + 1 < m_vecLines.size() || m_bFinalNewline)
            out += '\n';
    }
    return out;
}

bool CIniFile::Save(const std::string& path, int* pErrno) const {
    return WriteFileAtomic(path, GetText(), pErrno);
}

size_t CIniFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < m_vecLines.size(); ++i) {
        CParsedLine p = ParseLine(m_vecLines[i]);
        if (p.kind == LINE_HEADER && EqualNoCase(p.name, section))
            return i;
    }
    return std::string::npos;
}

size_t CIniFile::SectionEnd(size_t header) const {
    for (size_t i = header + 1; i < m_vecLines.size(); ++i)
        if (ParseLine(m_vecLines[i]).kind == LINE_HEADER)
            return i;
    return m_vecLines.size();
}

size_t CIniFile::FindKey(size_t header, std::string_view key) const {
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        CParsedLine p = ParseLine(m_vecLines[i]);
        if (p.kind == LINE_KEY && EqualNoCase(p.name, key))
            return i;
    }
    return std::string::npos;
}

bool CIniFile::HasSection(std::string_view section) const {
    return FindSection(section) != std::string::npos;
}

CIniFile::EValue CIniFile::GetString(std::string_view section, std::string_view key,
                                     std::string& value, size_t maxBytes) const {
    size_t header = FindSection(section);
    if (header == std::string::npos)
        return VALUE_MISSING;
    size_t at = FindKey(header, key);
    if (at == std::string::npos)
        return VALUE_MISSING;
    std::string_view v = Unquote(ParseLine(m_vecLines[at]).value);
    value = Utf8Cut(v, maxBytes);
    return value.size() < v.size() ? VALUE_CUT : VALUE_OK;
}

CIniFile::EValue CIniFile::GetInt(std::string_view section, std::string_view key,
                                  int32_t& value) const {
    std::string s;
    if (GetString(section, key, s, std::string::npos) == VALUE_MISSING)
        return VALUE_MISSING;
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    // Up to 0xFFFFFFFF: "%u" of a negative number, whose unsigned value maps back onto it.
    const SDecimal d = ParseDecimal(std::string_view(s).substr(i), INT32_MIN, UINT32_MAX);
    if (d.nDigits == 0 || d.bClamped)
        return VALUE_MALFORMED;
    value = static_cast<int32_t>(static_cast<uint32_t>(d.nValue));
    return VALUE_OK;
}

std::vector<std::pair<std::string, std::string>> CIniFile::GetSection(
    std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> out;
    size_t header = FindSection(section);
    if (header == std::string::npos)
        return out;
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        CParsedLine p = ParseLine(m_vecLines[i]);
        if (p.kind != LINE_KEY)
            continue;
        bool bSeen = false;
        for (const auto& kv : out)
            bSeen = bSeen || EqualNoCase(kv.first, p.name);
        if (!bSeen)
            out.emplace_back(std::string(p.name), std::string(Unquote(p.value)));
    }
    return out;
}

std::string CIniFile::LineEnd() const {
    return !m_vecLines.empty() && !m_vecLines[0].empty() && m_vecLines[0].back() == '\r' ? "\r"
                                                                                         : "";
}

bool CIniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    if (!IsWritableName(section) || !IsWritableName(key))
        return false;
    std::string v(value);
    bool bIntact = true;
    for (char& c : v) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
            bIntact = false;
        }
    }
    // The reader strips blanks and one enclosing pair of quotes: protect what would be lost.
    if (!v.empty() && (v.front() == '"' || IsBlankChar(v.front()) || IsBlankChar(v.back())))
        v = '"' + v + '"';
    std::string line = std::string(key) + "=" + v;

    size_t header = FindSection(section);
    if (header == std::string::npos) {
        if (!m_vecLines.empty() && !Trim(m_vecLines.back()).empty())
            m_vecLines.push_back(LineEnd());
        m_vecLines.push_back("[" + std::string(section) + "]" + LineEnd());
        m_vecLines.push_back(line + LineEnd());
        m_bFinalNewline = true;
        return bIntact;
    }
    size_t at = FindKey(header, key);
    if (at != std::string::npos) {
        bool bCr = !m_vecLines[at].empty() && m_vecLines[at].back() == '\r';
        m_vecLines[at] = line + (bCr ? "\r" : "");
    } else {
        size_t end = SectionEnd(header);
        at = header + 1;
        for (size_t i = header + 1; i < end; ++i)
            if (!Trim(m_vecLines[i]).empty())
                at = i + 1;
        m_vecLines.insert(m_vecLines.begin() + static_cast<std::ptrdiff_t>(at), line + LineEnd());
    }
    if (at + 1 == m_vecLines.size())
        m_bFinalNewline = true;
    return bIntact;
}

bool CIniFile::SetInt(std::string_view section, std::string_view key, int32_t value) {
    return SetString(section, key, StrFormat("%u", static_cast<uint32_t>(value)));
}
