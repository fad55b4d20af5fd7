#include "app/Languages.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "app/Logger.h"
#include "app/StringTable.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/StrUtil.h"

std::vector<CLanguageEntry> g_LanguageList;

namespace {

constexpr size_t kMaxTextBytes = 511;  // a 512-character buffer with its terminator
constexpr const char* kPackPrefix = "Vokra_";
constexpr const char* kPackSuffix = ".lang";

struct CLanguagePack {
    std::string m_strPath;
    std::unordered_map<UINT, std::string> m_mapTexts;
};

std::mutex g_mPack;
std::unique_ptr<CLanguagePack> g_pPack;
bool g_bLanguagesInitDone = false;

std::string Unescape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[i + 1];
            if (c == 'n' || c == 't' || c == '\\') {
                out += c == 'n' ? '\n' : c == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// The printf directives of a text, reduced to what decides which arguments are read and how:
// '*' widths, length modifiers and the conversion. "%%" is no directive.
std::string FormatSignature(const std::string& s) {
    std::string sig;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%')
            continue;
        if (i + 1 < s.size() && s[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < s.size() && std::string_view("-+ #0'").find(s[j]) != std::string_view::npos)
            ++j;
        std::string one = "%";
        while (j < s.size() &&
               ((s[j] >= '0' && s[j] <= '9') || s[j] == '.' || s[j] == '*' || s[j] == '$')) {
            if (s[j] == '*' || s[j] == '$')
                one += s[j];
            ++j;
        }
        while (j < s.size() && std::string_view("hlLqjzt").find(s[j]) != std::string_view::npos)
            one += s[j++];
        one += j < s.size() ? s[j] : '?';
        sig += one;
        i = j;
    }
    return sig;
}

// Major number of "ProductVersion=major.minor...", 0 when there is none or it is unusable.
unsigned PackMajorVersion(const CIniFile& ini) {
    std::string v;
    if (ini.GetString("Version", "ProductVersion", v, std::string::npos) == CIniFile::VALUE_MISSING)
        return 0;
    // A major number beyond 16 bits does not fit a version field.
    const SDecimal major = ParseDecimal(v, 0, 0xFFFF);
    if (major.nDigits == 0 || major.bClamped)
        return 0;
    if (major.nEnd < v.size() && v[major.nEnd] != '.' && v[major.nEnd] != ',')
        return 0;
    return static_cast<unsigned>(major.nValue);
}

bool IsPackFileName(const std::string& name) {
    const size_t p = std::char_traits<char>::length(kPackPrefix);
    const size_t s = std::char_traits<char>::length(kPackSuffix);
    return name.size() >= p + s && name.compare(0, p, kPackPrefix) == 0 &&
           name.compare(name.size() - s, s, kPackSuffix) == 0;
}

// Reads the pack at path; null (with a WARNING naming the reason) when it cannot be used.
std::unique_ptr<CLanguagePack> ReadPack(const std::string& path) {
    CIniFile ini;
    CIniFile::ELoad r = ini.Load(path);
    if (r != CIniFile::INI_LOADED) {
        VLOG(WARNING, "LoadLanguageLibrary: cannot read %s (%s)", path.c_str(),
             r == CIniFile::INI_MISSING     ? "no such file"
             : r == CIniFile::INI_TOO_LARGE ? "too large"
                                            : "unreadable");
        return nullptr;
    }
    for (const std::string& p : ini.Problems()) {
        VLOG(WARNING, "LoadLanguageLibrary: %s %s", path.c_str(), p.c_str());
    }
    if (ini.IsBinary()) {
        VLOG(WARNING, "LoadLanguageLibrary: %s is not a language pack", path.c_str());
        return nullptr;
    }
    if (!ini.HasSection("Strings")) {
        VLOG(WARNING, "LoadLanguageLibrary: %s has no [Strings] section", path.c_str());
        return nullptr;
    }
    auto pack = std::make_unique<CLanguagePack>();
    pack->m_strPath = path;
    int nBadIds = 0;
    for (const auto& [key, raw] : ini.GetSection("Strings")) {
        const SDecimal parsed = ParseDecimal(key, 0, 0xFFFF);
        const unsigned long id = static_cast<unsigned long>(parsed.nValue);
        if (parsed.nDigits == 0 || parsed.nEnd != key.size() || parsed.bClamped) {
            ++nBadIds;
            continue;
        }
        std::string text = Utf8Cut(Unescape(raw), kMaxTextBytes);
        if (text.empty())
            continue;
        const char* builtIn = BuiltInText(static_cast<UINT>(id));
        if (FormatSignature(text) != FormatSignature(builtIn ? builtIn : "")) {
            VLOG(WARNING,
                 "LoadLanguageLibrary: %s text %lu has other %% directives than the "
                 "built-in text; the built-in text is used",
                 path.c_str(), id);
            continue;
        }
        pack->m_mapTexts.emplace(static_cast<UINT>(id), std::move(text));
    }
    if (nBadIds > 0) {
        VLOG(WARNING,
             "LoadLanguageLibrary: %s has %d lines in [Strings] whose key is not a "
             "text id",
             path.c_str(), nBadIds);
    }
    return pack;
}

}  // namespace

std::string GetLanguageFolder() {
    return GetProgramFolder() + "Language/";
}

void UnloadLanguageLibrary() {
    std::lock_guard<std::mutex> lk(g_mPack);
    g_pPack.reset();
}

bool LoadLanguageLibrary(const std::string& path) {
    UnloadLanguageLibrary();
    if (path.empty())
        return true;
    VLOG(INFO, "LoadLanguageLibrary( %s )", path.c_str());
    std::unique_ptr<CLanguagePack> pack = ReadPack(path);
    std::lock_guard<std::mutex> lk(g_mPack);
    g_pPack = std::move(pack);
    return true;
}

std::string CurrentLanguageLibrary() {
    std::lock_guard<std::mutex> lk(g_mPack);
    return g_pPack ? g_pPack->m_strPath : std::string();
}

std::string LoadText(UINT id) {
    {
        std::lock_guard<std::mutex> lk(g_mPack);
        if (g_pPack) {
            auto it = g_pPack->m_mapTexts.find(id);
            if (it != g_pPack->m_mapTexts.end())
                return it->second;
        }
    }
    const char* builtIn = BuiltInText(id);
    return builtIn ? Utf8Cut(builtIn, kMaxTextBytes) : std::string();
}

void LanguagesInit(const std::string& folderIn, bool bForce) {
    if (g_bLanguagesInitDone && !bForce)
        return;
    g_bLanguagesInitDone = true;
    g_LanguageList.clear();
    UnloadLanguageLibrary();
    g_LanguageList.push_back({std::string(), LoadText(IDS_LANGUAGE_NAME)});

    std::string folder = folderIn;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.empty() ? "." : folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (IsPackFileName(name))
                names.push_back(name);
        }
        closedir(d);
    }
    // Directory order is arbitrary; take the files in name order so equal display names always
    // end up in the same order.
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        const std::string path = folder + name;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        CIniFile ini;
        if (ini.Load(path) != CIniFile::INI_LOADED || !ini.HasSection("Version")) {
            VLOG(WARNING, "LanguagesInit: %s has no readable [Version] section; not listed",
                 path.c_str());
            continue;
        }
        if (PackMajorVersion(ini) < 1) {
            VLOG(INFO, "LanguagesInit: %s has no product version 1 or above; not listed",
                 path.c_str());
            continue;
        }
        LoadLanguageLibrary(path);
        CLanguageEntry entry{path, LoadText(IDS_LANGUAGE_NAME)};
        UnloadLanguageLibrary();
        if (entry.m_strDisplayName.empty())
            continue;
        auto pos = std::find_if(g_LanguageList.begin(), g_LanguageList.end(),
                                [&](const CLanguageEntry& e) {
                                    return e.m_strDisplayName.compare(entry.m_strDisplayName) > 0;
                                });
        g_LanguageList.insert(pos, std::move(entry));
    }
}

bool GetLanguagePackComments(const std::string& path, std::string& strComments) {
    strComments.clear();
    CIniFile ini;
    if (ini.Load(path) != CIniFile::INI_LOADED || !ini.HasSection("Version"))
        return false;
    std::string raw;
    if (ini.GetString("Version", "Comments", raw, std::string::npos) != CIniFile::VALUE_MISSING)
        strComments = Utf8Cut(Unescape(raw), kMaxTextBytes);
    return true;
}

void ResetLanguagesForTests() {
    g_LanguageList.clear();
    g_bLanguagesInitDone = false;
    UnloadLanguageLibrary();
}
