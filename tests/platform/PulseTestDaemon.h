#pragma once
// A private PulseAudio daemon for one test: its own folder, its own socket, PULSE_SERVER pointed
// at it for the test's duration. Never the user's server.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TestEnv.h"
#include "TestFiles.h"

extern char** environ;

class CPulseTestDaemon {
public:
    CPulseTestDaemon() : m_dir("vokra_pulse") {}
    ~CPulseTestDaemon() { Kill(); }
    CPulseTestDaemon(const CPulseTestDaemon&) = delete;
    CPulseTestDaemon& operator=(const CPulseTestDaemon&) = delete;

    // Starts the daemon and waits until it says it is ready (or has died). False with a reason
    // in Error(): the daemon cannot run here at all.
    bool Start();
    // SIGKILL, as when the daemon crashes; waits for it to be gone.
    void Kill();
    const std::string& Error() const { return m_strError; }
    std::string Socket() const { return m_dir.Path("native"); }
    std::string Log() const { return ReadFileBytes(m_dir.Path("daemon.log")); }

private:
    bool WaitUntilReady();

    CTempDir m_dir;
    CEnvOverride m_env;
    pid_t m_pid = -1;
    std::string m_strError;
};

inline bool CPulseTestDaemon::Start() {
    if (!m_dir.Ok()) {
        m_strError = "no temporary folder";
        return false;
    }
    for (const char* sub : {"runtime", "state", "config"})
        ::mkdir(m_dir.Path(sub).c_str(), 0700);
    WriteFileBytes(m_dir.Path("daemon.pa"),
                   "load-module module-native-protocol-unix auth-anonymous=1 socket=" + Socket() +
                       "\nload-module module-null-sink sink_name=vokra_test_speakers\n");

    // The daemon's own environment: everything it keeps goes into the folder, never HOME.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        if (kv.rfind("PULSE_", 0) != 0 && kv.rfind("HOME=", 0) != 0 &&
            kv.rfind("XDG_RUNTIME_DIR=", 0) != 0 && kv.rfind("XDG_CONFIG_HOME=", 0) != 0)
            env.push_back(kv);
    }
    env.push_back("HOME=" + m_dir.Dir());
    env.push_back("XDG_RUNTIME_DIR=" + m_dir.Path("runtime"));
    env.push_back("XDG_CONFIG_HOME=" + m_dir.Path("config"));
    env.push_back("PULSE_RUNTIME_PATH=" + m_dir.Path("runtime"));
    env.push_back("PULSE_STATE_PATH=" + m_dir.Path("state"));
    std::vector<char*> envp;
    for (auto& kv : env)
        envp.push_back(kv.data());
    envp.push_back(nullptr);

    const std::string script = m_dir.Path("daemon.pa");
    std::vector<std::string> args = {"pulseaudio",
                                     "-n",
                                     "-F",
                                     script,
                                     "--daemonize=no",
                                     "--exit-idle-time=-1",
                                     "--system=false",
                                     "--use-pid-file=false",
                                     "--realtime=false",
                                     "--high-priority=false",
                                     "--log-target=stderr",
                                     "--log-level=info"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string log = m_dir.Path("daemon.log");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    const int rc = posix_spawnp(&m_pid, "pulseaudio", &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        m_pid = -1;
        m_strError = "cannot run pulseaudio (is it installed?)";
        return false;
    }
    if (!WaitUntilReady()) {
        Kill();
        return false;
    }
    m_env.Set("PULSE_SERVER", "unix:" + Socket());
    // Clients keep their cookie here instead of creating one in HOME.
    m_env.Set("PULSE_COOKIE", m_dir.Path("cookie"));
    return true;
}

inline bool CPulseTestDaemon::WaitUntilReady() {
    // The socket file exists a moment before the daemon listens on it, so readiness is the
    // daemon's own word in its log. Woken by writes to the folder or by the daemon's end.
    const int watch = ::inotify_init1(IN_CLOEXEC);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (watch >= 0)
        ::inotify_add_watch(watch, m_dir.Dir().c_str(), IN_CREATE | IN_MODIFY);
    bool bUp = false;
    for (;;) {
        if (Log().find("Daemon startup complete") != std::string::npos) {
            bUp = true;
            break;
        }
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            m_strError = "pulseaudio ended at start:\n" + Log();
            break;
        }
        pollfd fds[2] = {{watch, POLLIN, 0}, {pidfd, POLLIN, 0}};
        // The limit only ends a daemon that hangs before it listens; a working one is far faster.
        if (::poll(fds, 2, 60000) == 0) {
            m_strError = "pulseaudio did not get ready:\n" + Log();
            break;
        }
        char buf[4096];
        if (watch >= 0 && (fds[0].revents & POLLIN))
            (void)!::read(watch, buf, sizeof buf);
    }
    if (watch >= 0)
        ::close(watch);
    if (pidfd >= 0)
        ::close(pidfd);
    return bUp;
}

inline void CPulseTestDaemon::Kill() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}
