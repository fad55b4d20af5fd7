// scripts/cables and the program's own cable code make and find the same devices on a private
// PulseAudio daemon, make only what is missing, and say so clearly when no server runs.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "PulseTestDaemon.h"
#include "platform/audio/PulseCables.h"
#include "platform/audio/PulseWave.h"

namespace {

struct CRun {
    int rc = -1;
    std::string out;  // stdout and stderr
};

CRun RunShell(const std::string& command) {
    CRun r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int status = ::pclose(p);
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

CRun Cables(const char* what) {
    return RunShell(std::string(VOKRA_SOURCE_DIR) + "/scripts/cables " + what);
}

// How many devices of the kind carry the name.
int CountNamed(EWaveKind kind, const std::string& name) {
    std::string error;
    auto pBackend = CreatePulseWaveBackend(&error);
    if (!pBackend)
        return -1;
    int count = 0;
    for (UINT id = 0; id < pBackend->GetNumDevs(kind); ++id) {
        std::string got;
        count += pBackend->GetDevName(kind, id, got) == MMSYSERR_NOERROR && got == name;
    }
    return count;
}

class PulseCablesTest : public testing::Test {
protected:
    void SetUp() override {
        if (!m_daemon.Start())
            GTEST_SKIP() << "a private PulseAudio daemon cannot start here: " << m_daemon.Error();
    }
    void ExpectOneOfEach() {
        for (int n = 1; n <= kPulseCableCount; ++n) {
            SCOPED_TRACE(PulseCableDescription(n));
            EXPECT_EQ(CountNamed(EWaveKind::Out, PulseCableDescription(n)), 1);
            EXPECT_EQ(CountNamed(EWaveKind::In, PulseCableDescription(n)), 1);
        }
    }
    CPulseTestDaemon m_daemon;
};

TEST_F(PulseCablesTest, ScriptAndProgramMakeAndFindTheSameCables) {
    EXPECT_TRUE(PulseCablesStatus().None());
    CRun r = Cables("up");
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_TRUE(PulseCablesStatus().Complete());
    ExpectOneOfEach();
    r = Cables("up");  // again: nothing more
    EXPECT_EQ(r.rc, 0) << r.out;
    ExpectOneOfEach();

    r = Cables("down");
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_TRUE(PulseCablesStatus().None());
    EXPECT_EQ(CountNamed(EWaveKind::Out, PulseCableDescription(1)), 0);

    std::string error;
    ASSERT_TRUE(CreatePulseCables(&error)) << error;
    ASSERT_TRUE(CreatePulseCables(&error)) << error;
    r = Cables("status");
    EXPECT_EQ(r.rc, 0) << r.out;
    ExpectOneOfEach();

    ASSERT_TRUE(RemovePulseCables(&error)) << error;
    EXPECT_TRUE(RemovePulseCables(&error)) << error;
    r = Cables("status");
    EXPECT_NE(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("missing"), std::string::npos) << r.out;
}

TEST_F(PulseCablesTest, MakingThemAgainAddsOnlyTheMissingEnds) {
    CRun r = Cables("up");
    ASSERT_EQ(r.rc, 0) << r.out;
    r = RunShell("pactl unload-module module-remap-source");  // both recording ends
    ASSERT_EQ(r.rc, 0) << r.out;
    const CPulseCablesStatus half = PulseCablesStatus();
    for (const CPulseCableEnds& c : half.cables) {
        EXPECT_TRUE(c.bPlayback);
        EXPECT_FALSE(c.bRecording);
    }
    std::string error;
    ASSERT_TRUE(CreatePulseCables(&error)) << error;
    ExpectOneOfEach();
}

TEST(PulseCablesNoServerTest, ScriptSaysNoServerAnswers) {
    CTempDir dir("vokra_nopulse");
    CEnvOverride env;
    env.Set("PULSE_SERVER", "unix:" + dir.Path("no-such-socket"));
    env.Set("PULSE_COOKIE", dir.Path("cookie"));
    for (const char* what : {"up", "down", "status"}) {
        SCOPED_TRACE(what);
        const CRun r = Cables(what);
        EXPECT_NE(r.rc, 0);
        EXPECT_NE(r.out.find("no PulseAudio or PipeWire server answers"), std::string::npos)
            << r.out;
    }
}

}  // namespace
