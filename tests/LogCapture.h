#pragma once
// Keeps every log record written while it is registered with the logger, for tests to read.
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/Logger.h"

class CLogCapture : public CLogHandler {
public:
    struct CEntry {
        int nLevel;
        std::string strMessage;
        uint32_t uThreadId;
    };

    CLogCapture() { g_Logger.AddHandler(this); }
    ~CLogCapture() override { g_Logger.RemoveHandler(this); }
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    int Publish(CLogRecord& record) override {
        std::lock_guard g(m_m);
        m_entries.push_back({record.m_nLevel, record.m_strMessage, record.m_uThreadId});
        return 1;
    }

    std::vector<CEntry> Entries() const {
        std::lock_guard g(m_m);
        return m_entries;
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> v;
        for (const CEntry& e : Entries())
            v.push_back(e.strMessage);
        return v;
    }
    // A record with exactly this text (at this level, unless -1).
    bool Has(const std::string& text, int level = -1) const {
        for (const CEntry& e : Entries())
            if (e.strMessage == text && (level < 0 || e.nLevel == level))
                return true;
        return false;
    }
    bool HasPrefix(const std::string& prefix) const {
        for (const CEntry& e : Entries())
            if (e.strMessage.rfind(prefix, 0) == 0)
                return true;
        return false;
    }
    // Index of the first record with exactly this text at or after from; -1 when none.
    int IndexOf(const std::string& text, int from = 0) const {
        const std::vector<std::string> v = Lines();
        for (size_t i = static_cast<size_t>(std::max(from, 0)); i < v.size(); ++i)
            if (v[i] == text)
                return static_cast<int>(i);
        return -1;
    }
    // Records whose text contains part.
    int Count(const std::string& part) const { return CountAt(-1, part); }
    // Records at this level (any level: -1) whose text contains part.
    int CountAt(int level, const std::string& part) const {
        int n = 0;
        for (const CEntry& e : Entries())
            n += (level < 0 || e.nLevel == level) && e.strMessage.find(part) != std::string::npos;
        return n;
    }
    int CountLevel(int level) const { return CountAt(level, ""); }
    // Records at WARNING or above whose text contains part.
    int Warnings(const std::string& part = "") const {
        int n = 0;
        for (const CEntry& e : Entries())
            n += e.nLevel >= WARNING && e.strMessage.find(part) != std::string::npos;
        return n;
    }
    std::vector<std::string> Matching(const std::string& part) const {
        std::vector<std::string> v;
        for (const CEntry& e : Entries())
            if (e.strMessage.find(part) != std::string::npos)
                v.push_back(e.strMessage);
        return v;
    }
    std::string Dump() const {
        std::string s;
        for (const CEntry& e : Entries())
            s += e.strMessage + "\n";
        return s;
    }
    void Clear() {
        std::lock_guard g(m_m);
        m_entries.clear();
    }

private:
    mutable std::mutex m_m;
    std::vector<CEntry> m_entries;
};
