#pragma once
// Helpers for tests that read what a file handler wrote.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "app/Logger.h"

// A fresh folder per test for the log files.
class CTempLogDir : public CTempDir {
public:
    CTempLogDir() : CTempDir("vokra_log") {}
    std::string Base() const { return Path("Vokra debug log"); }
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
