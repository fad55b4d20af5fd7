#pragma once
// One Vokra per user: a lock held on a file in the user's runtime folder for as long as the
// program runs. The kernel drops the lock when the process ends, however it ends, so a crash
// never leaves a stale lock behind.
#include <string>

// $XDG_RUNTIME_DIR when it is an absolute path to a folder; else "/tmp/vokra-<uid>", made with
// mode 0700 and used only when it is a folder of ours that nobody else can enter. No trailing
// "/"; empty when no such folder can be had.
std::string GetRuntimeFolder();

class CSingleInstanceLock {
public:
    static constexpr const char* kLockFileName = "Vokra.lock";

    CSingleInstanceLock() = default;
    ~CSingleInstanceLock();
    CSingleInstanceLock(const CSingleInstanceLock&) = delete;
    CSingleInstanceLock& operator=(const CSingleInstanceLock&) = delete;

    enum EResult {
        LOCK_TAKEN,   // this is the only instance
        LOCK_HELD,    // another instance holds it
        LOCK_FAILED,  // no lock could be made (no folder, no file): the start goes on
    };
    // Takes the lock on kLockFileName in folder (empty: GetRuntimeFolder()).
    EResult Acquire(const std::string& folder = "");
    void Release();
    bool IsHeld() const { return m_nFd >= 0; }

private:
    int m_nFd = -1;
};
