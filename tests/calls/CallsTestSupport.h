#pragma once
// Test support for users, calls, voice messages and the handler: a private home and messages
// folder, a manual clock, the log lines written meanwhile, a recorder in place of the transport,
// answering stages that write a small WAV file, and a main window that forwards the call timer
// and keeps the requests posted to it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "TestEnv.h"
#include "TestFiles.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "app/WindowMessages.h"
#include "calls/CallsLock.h"
#include "calls/SkypeCmdQueue.h"
#include "messages/MessageAudioStages.h"
#include "messages/MessageCollection.h"
#include "platform/Clock.h"
#include "platform/FileUtil.h"
#include "platform/MsgLoop.h"

namespace callstest {

using CLogLines = CLogCapture;

// Takes the commands in place of the transport and keeps their texts.
class CCmdRecorder : public ISkypeCmdQueue {
public:
    CCmdRecorder() { SetSkypeCmdQueue(this); }
    ~CCmdRecorder() override { SetSkypeCmdQueue(nullptr); }
    int QueueCtrlAckCmd(const DeviceToSkypeCmd& cmd) override {
        std::lock_guard<std::mutex> lk(m_m);
        m_vecTexts.push_back(cmd.m_szText);
        return 1;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> lk(m_m);
        return m_vecTexts;
    }
    // The texts since the last Take.
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lk(m_m);
        std::vector<std::string> v;
        v.swap(m_vecTexts);
        return v;
    }
    bool Sent(const std::string& text) const {
        const std::vector<std::string> v = Texts();
        return std::find(v.begin(), v.end(), text) != v.end();
    }

private:
    mutable std::mutex m_m;
    std::vector<std::string> m_vecTexts;
};

inline void WriteWav(const std::string& path, uint32_t samples) {
    auto le32 = [](std::string& s, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    auto le16 = [](std::string& s, uint16_t v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>(v >> 8);
    };
    std::string b = "RIFF";
    le32(b, 36 + samples * 2);
    b += "WAVEfmt ";
    le32(b, 16);
    le16(b, 1);
    le16(b, 1);
    le32(b, 16000);
    le32(b, 32000);
    le16(b, 2);
    le16(b, 16);
    b += "data";
    le32(b, samples * 2);
    b.append(samples * 2, '\0');
    std::ofstream(path, std::ios::binary | std::ios::trunc) << b;
}

// Answering stages that take no sound: the greeting lasts m_uGreetingMs of the process clock,
// then "recording" begins; a stop writes a small WAV file at the recording path and returns
// the whole seconds recorded (0 and no file when stopped during the greeting).
class CStagesDouble : public IMessageAudioStages {
public:
    CStagesDouble() { g_pMessageAudioStages = this; }
    ~CStagesDouble() override { g_pMessageAudioStages = nullptr; }
    void MsgAudioStageStart(const std::string& greeting, const std::string& recordPath) override {
        std::lock_guard<std::mutex> lk(m_m);
        ++m_nStarts;
        m_bRunning = true;
        m_strGreeting = greeting;
        m_strRecordPath = recordPath;
        m_uStartMs = Clock().NowMs();
    }
    int MsgAudioStageStop() override {
        std::lock_guard<std::mutex> lk(m_m);
        ++m_nStops;
        if (!m_bRunning)
            return 0;
        m_bRunning = false;
        const uint64_t uElapsed = Clock().NowMs() - m_uStartMs;
        if (uElapsed < m_uGreetingMs)
            return 0;
        WriteWav(m_strRecordPath, 1600);
        return static_cast<int>((uElapsed - m_uGreetingMs) / 1000);
    }
    bool Running() const {
        std::lock_guard<std::mutex> lk(m_m);
        return m_bRunning;
    }

    mutable std::mutex m_m;
    uint64_t m_uGreetingMs = 5000;
    int m_nStarts = 0;
    int m_nStops = 0;
    bool m_bRunning = false;
    std::string m_strGreeting;
    std::string m_strRecordPath;
    uint64_t m_uStartMs = 0;
};

// A private home, documents and messages root; settings at their defaults; an empty calls
// database before and after each test.
class CCallsEnv : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.Ok());
        m_strRoot = m_tmp.Dir();
        std::filesystem::create_directories(m_strRoot + "prog");
        std::filesystem::create_directories(m_strRoot + "home");
        SaveEnv("HOME", m_strRoot + "home");
        SaveEnv("XDG_CONFIG_HOME", m_strRoot + "config");
        SetProgramFolder(m_strRoot + "prog/");
        ResetSettingsForTests();
        m_strMsgRoot = m_strRoot + "msgs/";
        RcvdMsgsFolderPath = m_strMsgRoot;
        ResetCallsDataForTests();
    }
    void TearDown() override {
        ResetCallsDataForTests();
        ResetSettingsForTests();
        SetProgramFolder("");
        m_env.Restore();
    }
    void SaveEnv(const std::string& name, const std::string& value) { m_env.Set(name, value); }
    // The messages folder of a user, as the program lays it out.
    std::string UserFolder(const std::string& user) const {
        return m_strMsgRoot + "My Received Voice Messages/" + user + "/";
    }
    // File names in a folder, sorted; folders marked with a trailing "/".
    static std::vector<std::string> FilesIn(const std::string& folder) {
        std::vector<std::string> v;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder, ec))
            v.push_back(e.path().filename().string() + (e.is_directory() ? "/" : ""));
        std::sort(v.begin(), v.end());
        return v;
    }
    // Every regular file below the temporary root, relative to it.
    std::vector<std::string> AllFiles() const {
        std::vector<std::string> v;
        std::error_code ec;
        for (const auto& e : std::filesystem::recursive_directory_iterator(m_strRoot, ec))
            if (e.is_regular_file())
                v.push_back(e.path().string().substr(m_strRoot.size()));
        std::sort(v.begin(), v.end());
        return v;
    }

    std::string m_strRoot, m_strMsgRoot;
    CTempDir m_tmp{"vokra_calls"};
    CEnvOverride m_env;
    CLogLines m_log;
};

// With a manual clock and a recorder in place of the transport.
class CCallsTest : public CCallsEnv {
protected:
    CManualClock m_clock{CWallTime{1136279107, 0}};  // 2006-01-03 09:05:07 UTC
    CScopedClock m_scopedClock{m_clock};
    CCmdRecorder m_cmds;
};

// For tests that change users, calls and messages directly on the test's thread: the calls lock
// is held throughout, as the handler holds it for each message.
class CCallsLockedTest : public CCallsTest {
protected:
    CCallsDataLock m_lock;
};

// What the main window receives, recorded; timer 2 goes to the handler's PostCallTimerElapse.
struct CPosted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const CPosted&) const = default;
};

template <class THandler>
class CMainWndDouble : public CWindow {
public:
    explicit CMainWndDouble(THandler* pHandler) : m_pHandler(pHandler) {}
    ~CMainWndDouble() override { DestroyWindow(); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_TIMER && wParam == MAIN_WND_TIMER_CALL)
            m_pHandler->PostCallTimerElapse();
        else
            m_vecPosted.push_back({message, wParam, lParam});
        return 0;
    }
    int Count(UINT message, WPARAM wParam) const {
        return static_cast<int>(std::count_if(
            m_vecPosted.begin(), m_vecPosted.end(),
            [&](const CPosted& p) { return p.message == message && p.wParam == wParam; }));
    }
    THandler* m_pHandler;
    std::vector<CPosted> m_vecPosted;
};

}  // namespace callstest
