#pragma once
// Helpers for tests that read what a file handler wrote.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Logger.h"

// A fresh folder per test, removed with everything in it afterwards.
class CTempLogDir {
public:
    CTempLogDir() {
        std::string strTemplate = testing::TempDir() + "vokra_log_XXXXXX";
        if (::mkdtemp(strTemplate.data()))
            m_strPath = strTemplate;
    }
    ~CTempLogDir() {
        std::error_code ec;
        if (!m_strPath.empty())
            std::filesystem::remove_all(m_strPath, ec);
    }
    std::string Base() const { return m_strPath + "/Vokra debug log"; }
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

// Keeps a handler registered with g_Logger for one scope, so no test leaves it behind.
class CScopedHandler {
public:
    explicit CScopedHandler(CLogHandler& h) : m_pHandler(&h) { g_Logger.AddHandler(m_pHandler); }
    ~CScopedHandler() { g_Logger.RemoveHandler(m_pHandler); }

private:
    CLogHandler* m_pHandler;
};

inline bool FileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The file split into records; each element starts with the record's leading CR LF.
inline std::vector<std::string> SplitRecords(const std::string& text) {
    static const std::string kStart = "\r\nLogger name: ";
    std::vector<std::string> records;
    size_t pos = text.find(kStart);
    while (pos != std::string::npos) {
        size_t next = text.find(kStart, pos + kStart.size());
        records.push_back(text.substr(pos, next == std::string::npos ? next : next - pos));
        pos = next;
    }
    return records;
}

// The number after "Sequence: " in a record, -1 when there is none.
inline int SequenceOf(const std::string& record) {
    size_t pos = record.find("\tSequence: ");
    if (pos == std::string::npos)
        return -1;
    return std::atoi(record.c_str() + pos + 11);
}

inline std::string FieldOf(const std::string& record, const std::string& name) {
    size_t pos = record.find(name + ": ");
    if (pos == std::string::npos)
        return std::string();
    pos += name.size() + 2;
    size_t end = record.find_first_of("\t\r", pos);
    return record.substr(pos, end - pos);
}
