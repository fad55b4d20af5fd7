// A process killed while it saves the settings never leaves a broken file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "TestFiles.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"

namespace {

constexpr int kKeys = 40;

// Every save writes one generation: all keys carry the same number. After each save the writer
// tells the parent through fdDone (one byte), so the parent kills it at a point it knows has
// come, whatever the machine's speed.
[[noreturn]] void SaveForever(const std::string& path, int fdDone) {
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
        if (write(fdDone, "s", 1) != 1)
            _exit(4);
    }
}

// Waits until the writer reports n more saves; false when it ended instead.
bool WaitForSaves(int fd, int n) {
    char c;
    for (int i = 0; i < n; ++i) {
        ssize_t r;
        do {
            r = read(fd, &c, 1);
        } while (r < 0 && errno == EINTR);
        if (r != 1)
            return false;
    }
    return true;
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
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            SaveForever(path, fds[1]);
        }
        close(fds[1]);
        // The kill lands somewhere in the saves after the ones reported: the first, or a few
        // more, so that rounds meet the writer at different points of a save.
        const bool bSaved = WaitForSaves(fds[0], 1 + round % 4);
        kill(pid, SIGKILL);
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(bSaved) << "the writer ended before its saves: " << status;
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
    EXPECT_EQ(nGenerationsSeen, 25) << "a round read the file of before its first save";
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
        // A hang ends the child (SIGALRM) long after any machine, however loaded, is done.
        alarm(120);
        CIniFile ini;
        std::string data;
        const bool bRefused = ReadWholeFile(path, 1024, data) == READ_FILE_ERROR &&
                              ini.Load(path) == CIniFile::INI_UNREADABLE;
        _exit(bRefused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << "reading the pipe blocked";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
