#pragma once
// Temporary folders and whole-file reads and writes for tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// A fresh folder, removed with everything in it when the object goes.
class CTempDir {
public:
    explicit CTempDir(const std::string& tag = "vokra") {
        std::string tmpl = testing::TempDir() + tag + "_XXXXXX";
        if (::mkdtemp(tmpl.data()) != nullptr)
            m_strDir = tmpl + "/";
    }
    ~CTempDir() {
        std::error_code ec;
        if (!m_strDir.empty())
            std::filesystem::remove_all(m_strDir, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    bool Ok() const { return !m_strDir.empty(); }
    // The folder, with a trailing "/".
    const std::string& Dir() const { return m_strDir; }
    std::string Path(const std::string& name) const { return m_strDir + name; }

private:
    std::string m_strDir;
};

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}
