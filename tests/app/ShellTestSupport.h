#pragma once
// Test support for the settings and language tests: a private program folder and XDG home,
// the log lines written meanwhile, and a message-box service that answers.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "TestEnv.h"
#include "TestFiles.h"
#include "app/Languages.h"
#include "app/Logger.h"
#include "app/MessageBox.h"
#include "app/Settings.h"
#include "platform/FileUtil.h"

class CAnsweringMessageBox : public IMessageBoxService {
public:
    struct CShown {
        std::string caption, text;
        UINT type;
    };
    int MessageBox(const std::string& caption, const std::string& text, UINT uType) override {
        m_vecShown.push_back({caption, text, uType});
        return m_nAnswer;
    }
    std::vector<CShown> m_vecShown;
    int m_nAnswer = IDOK;
};

// A temporary folder that stands in for the program folder, $HOME and $XDG_CONFIG_HOME; the
// settings and languages are back at their defaults before and after each test.
class CShellTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.Ok());
        m_strRoot = m_tmp.Dir();
        m_strProgram = m_strRoot + "prog/";
        m_strHome = m_strRoot + "home";
        m_strConfig = m_strRoot + "config";
        std::filesystem::create_directories(m_strProgram);
        std::filesystem::create_directories(m_strHome);
        SaveEnv("HOME", m_strHome);
        SaveEnv("XDG_CONFIG_HOME", m_strConfig);
        SetProgramFolder(m_strProgram);
        ResetSettingsForTests();
        ResetLanguagesForTests();
    }
    void TearDown() override {
        ResetSettingsForTests();
        ResetLanguagesForTests();
        SetProgramFolder("");
        m_env.Restore();
    }
    void SaveEnv(const std::string& name, const std::string& value) { m_env.Set(name, value); }
    std::string IniPath() const { return m_strProgram + "Vokra.ini"; }

    std::string m_strRoot, m_strProgram, m_strHome, m_strConfig;
    CTempDir m_tmp{"vokra_shell"};
    CEnvOverride m_env;
    CLogCapture m_log;
};
