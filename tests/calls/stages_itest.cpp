// The answering stages on their thread, with a player and recorder that only keep what they are
// asked: the order beep, greeting, beep, recording; a stop at each point; the seconds recorded on
// the manual clock; sounds that cannot play are left out.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "TestFiles.h"
#include "app/Settings.h"
#include "app/WindowMessages.h"
#include "messages/MessageAudioStages.h"
#include "platform/Clock.h"
#include "platform/FileUtil.h"
#include "platform/MsgLoop.h"

namespace {

constexpr auto kGuard = std::chrono::seconds(20);

// Keeps every request as a line: "play <path> spkr=<0|1>", "stop play", "record <path>",
// "stop record". Plays of the paths in m_failing fail, as a missing file does.
class CAudioDouble : public IStagesAudio {
public:
    bool PlayFile(const std::string& path, bool toSpeaker, uint32_t threadId, UINT msg) override {
        std::lock_guard g(m_m);
        m_uThreadId = threadId;
        m_uMsg = msg;
        const bool ok = m_failing.count(path) == 0;
        m_bPlaying = ok;
        Add("play " + path + " spkr=" + (toSpeaker ? "1" : "0"));
        return ok;
    }
    bool StopPlay() override {
        std::lock_guard g(m_m);
        m_bPlaying = false;
        Add("stop play");
        return true;
    }
    bool IsPlaying() const override {
        std::lock_guard g(m_m);
        return m_bPlaying;
    }
    bool StartRecording(const std::string& path, bool) override {
        std::lock_guard g(m_m);
        Add("record " + path);
        return m_bRecordOk;
    }
    bool StopRecording() override {
        std::lock_guard g(m_m);
        Add("stop record");
        return true;
    }

    // The current play ends, as the player reports it: posted to the thread it was given.
    void EndPlay() {
        uint32_t tid;
        UINT msg;
        {
            std::lock_guard g(m_m);
            m_bPlaying = false;
            tid = m_uThreadId;
            msg = m_uMsg;
        }
        ASSERT_TRUE(PostThreadMessage(tid, msg, 0, 0));
    }
    // Waits (real time) until n requests have been made.
    bool WaitFor(size_t n) {
        std::unique_lock lk(m_m);
        return m_cv.wait_for(lk, kGuard, [&] { return m_vLines.size() >= n; });
    }
    std::vector<std::string> Lines() const {
        std::lock_guard g(m_m);
        return m_vLines;
    }

    std::set<std::string> m_failing;
    bool m_bRecordOk = true;

private:
    void Add(const std::string& line) {
        m_vLines.push_back(line);
        m_cv.notify_all();
    }
    mutable std::mutex m_m;
    std::condition_variable m_cv;
    std::vector<std::string> m_vLines;
    bool m_bPlaying = false;
    uint32_t m_uThreadId = 0;
    UINT m_uMsg = 0;
};

class StagesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.Ok());
        SetProgramFolder(m_tmp.Dir());
        ResetSettingsForTests();
        auto audio = std::make_unique<CAudioDouble>();
        m_pAudio = audio.get();
        m_pStages = std::make_unique<CMessageAudioStages>(std::move(audio));
        ASSERT_TRUE(m_pStages->CreateThread());
    }
    void TearDown() override {
        m_pStages.reset();
        ResetSettingsForTests();
        SetProgramFolder("");
    }
    std::string Prog(const std::string& name) const { return m_tmp.Dir() + name; }
    // Ends the plays of stages 1 to 3 one by one, each once it has begun.
    void EndPlays(int n) {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(m_pAudio->WaitFor(static_cast<size_t>(2 * i + 1)));
            m_pAudio->EndPlay();
        }
    }

    CManualClock m_clock;
    CScopedClock m_scoped{m_clock};
    CTempDir m_tmp{"vokra_stages"};
    CLogCapture m_log;
    CAudioDouble* m_pAudio = nullptr;
    std::unique_ptr<CMessageAudioStages> m_pStages;
};

TEST_F(StagesTest, BeepGreetingBeepThenRecordingAndAStopReturnsTheSecondsRecorded) {
    m_pStages->MsgAudioStageStart("greeting.wav", "/msgs/lastvoicemsg.wav");
    EndPlays(3);
    ASSERT_TRUE(m_pAudio->WaitFor(7));  // the recording has begun
    m_clock.Advance(30400);  // the greeting's time is not counted; part seconds are dropped
    EXPECT_EQ(m_pStages->MsgAudioStageStop(), 30);
    EXPECT_EQ(m_pAudio->Lines(), (std::vector<std::string>{
                                     "play " + Prog("beep1.wav") + " spkr=1",
                                     "stop play",
                                     "play " + Prog("greeting.wav") + " spkr=1",
                                     "stop play",
                                     "play " + Prog("beep2.wav") + " spkr=1",
                                     "stop play",
                                     "record /msgs/lastvoicemsg.wav",
                                     "stop record",
                                 }));
    // A second stop of the same sequence does not count on.
    m_clock.Advance(5000);
    EXPECT_EQ(m_pStages->MsgAudioStageStop(), 30);
}

TEST_F(StagesTest, AStopDuringTheGreetingStopsThePlayAndNothingIsRecorded) {
    m_pStages->MsgAudioStageStart("greeting.wav", "/msgs/lastvoicemsg.wav");
    EndPlays(1);
    ASSERT_TRUE(m_pAudio->WaitFor(3));  // the greeting plays
    m_clock.Advance(2000);
    EXPECT_EQ(m_pStages->MsgAudioStageStop(), 0);
    // The end of the stopped play may still arrive: it starts nothing.
    m_pAudio->EndPlay();
    m_pStages->MsgAudioStageStart("greeting.wav", "/msgs/next.wav");  // a marker behind it
    ASSERT_TRUE(m_pAudio->WaitFor(6));
    const std::vector<std::string> lines = m_pAudio->Lines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 6),
              (std::vector<std::string>{"play " + Prog("greeting.wav") + " spkr=1", "stop play",
                                        "stop play", "play " + Prog("beep1.wav") + " spkr=1"}));
    EXPECT_EQ(m_log.Count("RunStage"), 0) << m_log.Dump();
}

TEST_F(StagesTest, TheGreetingSettingNamesTheProgramsFileOrAPath) {
    struct Case {
        const char* setting;
        std::string played;
    } cases[] = {
        {"greeting.wav", Prog("greeting.wav")},
        {"/home/me/hello.mp3", "/home/me/hello.mp3"},
        {"Greeting.wav", "Greeting.wav"},  // not the program's own: a path as given
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        const size_t before = m_pAudio->Lines().size();
        m_pStages->MsgAudioStageStart(c.setting, "/msgs/lastvoicemsg.wav");
        ASSERT_TRUE(m_pAudio->WaitFor(before + 1));
        m_pAudio->EndPlay();
        ASSERT_TRUE(m_pAudio->WaitFor(before + 3));
        EXPECT_EQ(m_pAudio->Lines()[before + 2], "play " + c.played + " spkr=1");
        EXPECT_EQ(m_pStages->MsgAudioStageStop(), 0);
    }
}

TEST_F(StagesTest, ASoundThatCannotPlayIsLeftOutAndTheCallerIsStillRecorded) {
    MuteVolumeOnAnswer = 1;
    m_pAudio->m_failing = {"/gone/greeting.wav"};
    m_pStages->MsgAudioStageStart("/gone/greeting.wav", "/msgs/lastvoicemsg.wav");
    EndPlays(1);
    // The greeting fails and the second beep follows at once.
    ASSERT_TRUE(m_pAudio->WaitFor(4));
    m_pAudio->EndPlay();
    ASSERT_TRUE(m_pAudio->WaitFor(6));
    m_clock.Advance(3000);
    EXPECT_EQ(m_pStages->MsgAudioStageStop(), 3);
    EXPECT_EQ(m_pAudio->Lines(), (std::vector<std::string>{
                                     "play " + Prog("beep1.wav") + " spkr=0",
                                     "stop play",
                                     "play /gone/greeting.wav spkr=0",
                                     "play " + Prog("beep2.wav") + " spkr=0",
                                     "stop play",
                                     "record /msgs/lastvoicemsg.wav",
                                     "stop record",
                                 }));
    EXPECT_EQ(m_log.Warnings("could not be played, skipped"), 1);
}

TEST_F(StagesTest, ARecordingThatCannotStartCountsNoSeconds) {
    m_pAudio->m_bRecordOk = false;
    m_pStages->MsgAudioStageStart("greeting.wav", "/msgs/lastvoicemsg.wav");
    EndPlays(3);
    ASSERT_TRUE(m_pAudio->WaitFor(7));  // the recording has begun
    m_clock.Advance(10000);
    EXPECT_EQ(m_pStages->MsgAudioStageStop(), 0);
}

TEST_F(StagesTest, AStopWithoutAStartReturnsAtOnceWithNothing) {
    EXPECT_EQ(m_pStages->MsgAudioStageStop(), 0);
    EXPECT_TRUE(m_pAudio->Lines().empty());
}

TEST_F(StagesTest, EndingTheThreadFinishesARecordingStillRunning) {
    m_pStages->MsgAudioStageStart("greeting.wav", "/msgs/lastvoicemsg.wav");
    EndPlays(3);
    ASSERT_TRUE(m_pAudio->WaitFor(7));  // the recording has begun
    CAudioDouble* audio = m_pAudio;
    m_pStages->StopThread();
    EXPECT_EQ(audio->Lines().back(), "stop record");
}

}  // namespace
