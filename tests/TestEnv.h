#pragma once
// Environment variables set for one test and put back as they were afterwards.
#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class CEnvOverride {
public:
    CEnvOverride() = default;
    CEnvOverride(const CEnvOverride&) = delete;
    CEnvOverride& operator=(const CEnvOverride&) = delete;
    ~CEnvOverride() { Restore(); }

    void Set(const std::string& name, const std::string& value) {
        const char* old = getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }
    // Puts every variable back, latest first.
    void Restore() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
        m_saved.clear();
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};
