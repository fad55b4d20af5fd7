// A process killed while it saves the settings never leaves a broken file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "TestFiles.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"

namespace {

constexpr int kKeys = 40;

// Every save writes one generation: all keys carry the same number.
[[noreturn]] void SaveForever(const std::string& path) {
    CIniFile ini;
    if (ini.Load(path) != CIniFile::INI_LOADED)
        _exit(2);
    for (int32_t gen = 1;; ++gen) {
        for (int k = 0; k < kKeys; ++k)
            ini.SetInt("Settings", "Key" + std::to_string(k), gen);
        // Padding makes each save long enough to be caught in the middle.
        ini.SetString("Settings", "Padding", std::string(200, static_cast<char>('a' + gen % 26)));
        if (!ini.Save(path))
            _exit(3);
    }
}

TEST(IniFileKill, KilledWhileSavingLeavesOneWholeGeneration) {
    CTempDir tmp("vokra_inikill");
    ASSERT_TRUE(tmp.Ok());
    const std::string path = tmp.Path("Vokra.ini");
    {
        CIniFile ini;
        ini.SetText("; the user's own line\n[Other]\nKeep=1\n");
        for (int k = 0; k < kKeys; ++k)
            ini.SetInt("Settings", "Key" + std::to_string(k), 0);
        ASSERT_TRUE(ini.Save(path));
    }
    int nGenerationsSeen = 0;
    for (int round = 0; round < 25; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            SaveForever(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + (round * 7) % 23));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;

        CIniFile ini;
        ASSERT_EQ(ini.Load(path), CIniFile::INI_LOADED) << "round " << round;
        ASSERT_TRUE(ini.Problems().empty()) << ini.Problems()[0];
        int32_t gen = -1;
        ASSERT_EQ(ini.GetInt("Settings", "Key0", gen), CIniFile::VALUE_OK) << ini.GetText();
        for (int k = 1; k < kKeys; ++k) {
            int32_t v = -1;
            ASSERT_EQ(ini.GetInt("Settings", "Key" + std::to_string(k), v), CIniFile::VALUE_OK);
            ASSERT_EQ(v, gen) << "key " << k << " of a torn file, round " << round;
        }
        int32_t keep = 0;
        ASSERT_EQ(ini.GetInt("Other", "Keep", keep), CIniFile::VALUE_OK);
        ASSERT_EQ(ini.GetText().rfind("; the user's own line\n", 0), 0u);
        if (gen > 0)
            ++nGenerationsSeen;
    }
    EXPECT_GT(nGenerationsSeen, 0) << "the writer never got a save done";
}

}  // namespace

namespace {

// A pipe named like a settings file or a language pack has no writer: reading it must fail at
// once rather than wait forever for one. The read runs in a child so that a hang is seen.
TEST(ReadWholeFilePipe, APipeIsRefusedWithoutWaitingForAWriter) {
    CTempDir tmp("vokra_inififo");
    ASSERT_TRUE(tmp.Ok());
    const std::string path = tmp.Path("Vokra.ini");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CIniFile ini;
        std::string data;
        const bool bRefused = ReadWholeFile(path, 1024, data) == READ_FILE_ERROR &&
                              ini.Load(path) == CIniFile::INI_UNREADABLE;
        _exit(bRefused ? 0 : 1);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 500 && done == 0; ++i) {
        done = waitpid(pid, &status, WNOHANG);
        if (done == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "reading the pipe blocked";
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

}  // namespace
