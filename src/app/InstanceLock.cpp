#include "app/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/Logger.h"

namespace {
bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

std::string GetRuntimeFolder() {
    const char* env = std::getenv("XDG_RUNTIME_DIR");
    if (env != nullptr && env[0] == '/' && IsFolder(env)) {
        std::string folder = env;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        return folder;
    }
    const std::string folder = "/tmp/vokra-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "";
    // Someone else's folder (or a link planted in /tmp) must not hold our lock.
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 0077) != 0) {
        VLOG(WARNING, "GetRuntimeFolder: '%s' is not a private folder of this user",
             folder.c_str());
        return "";
    }
    return folder;
}

CSingleInstanceLock::~CSingleInstanceLock() {
    Release();
}

CSingleInstanceLock::EResult CSingleInstanceLock::Acquire(const std::string& folder) {
    Release();
    const std::string dir = folder.empty() ? GetRuntimeFolder() : folder;
    if (dir.empty())
        return LOCK_FAILED;
    const std::string path = dir + "/" + kLockFileName;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        VLOG(WARNING, "CSingleInstanceLock: cannot open '%s': %s", path.c_str(),
             std::strerror(errno));
        return LOCK_FAILED;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        if (err == EWOULDBLOCK)
            return LOCK_HELD;
        VLOG(WARNING, "CSingleInstanceLock: cannot lock '%s': %s", path.c_str(),
             std::strerror(err));
        return LOCK_FAILED;
    }
    m_nFd = fd;
    return LOCK_TAKEN;
}

void CSingleInstanceLock::Release() {
    if (m_nFd >= 0) {
        close(m_nFd);  // drops the lock; the file stays for the next start
        m_nFd = -1;
    }
}
