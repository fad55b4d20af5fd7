#include "platform/FileUtil.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_mProgramFolder;
std::string g_strProgramFolderOverride;

std::string WithoutTrailingSlashes(std::string s) {
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

// Reads one value of user-dirs.dirs: a double-quoted string that is "$HOME", "$HOME/..." or an
// absolute path, with backslash escapes. Empty when the value has any other form.
std::string ParseUserDirValue(const std::string& raw, const std::string& home) {
    size_t i = 0;
    while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t'))
        ++i;
    if (i >= raw.size() || raw[i] != '"')
        return std::string();
    ++i;
    std::string value;
    bool bClosed = false;
    for (; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\' && i + 1 < raw.size()) {
            value += raw[++i];
        } else if (c == '"') {
            bClosed = true;
            break;
        } else {
            value += c;
        }
    }
    if (!bClosed)
        return std::string();
    if (value.compare(0, 5, "$HOME") == 0) {
        std::string rest = value.substr(5);
        if (!rest.empty() && rest[0] != '/')
            return std::string();  // "$HOMEX" is not home
        return WithoutTrailingSlashes(home + rest);
    }
    if (!value.empty() && value[0] == '/')
        return WithoutTrailingSlashes(value);
    return std::string();
}

}  // namespace

std::string GetProgramPath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

std::string GetProgramFolder() {
    {
        std::lock_guard<std::mutex> lk(g_mProgramFolder);
        if (!g_strProgramFolderOverride.empty())
            return g_strProgramFolderOverride;
    }
    std::string path = GetProgramPath();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return "./";
    return path.substr(0, slash + 1);
}

void SetProgramFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lk(g_mProgramFolder);
    g_strProgramFolderOverride = folder;
    if (!folder.empty() && folder.back() != '/')
        g_strProgramFolderOverride += '/';
}

std::string GetHomeFolder() {
    const char* home = getenv("HOME");
    if (home && *home)
        return WithoutTrailingSlashes(home);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return WithoutTrailingSlashes(pw->pw_dir);
    return "/";
}

std::string GetXdgConfigHome() {
    // The base-directory rules ignore a relative value.
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return WithoutTrailingSlashes(xdg);
    std::string home = GetHomeFolder();
    return (home == "/" ? std::string() : home) + "/.config";
}

std::string GetXdgDocumentsFolder() {
    const std::string home = GetHomeFolder();
    const std::string fallback = (home == "/" ? std::string() : home) + "/Documents";
    std::string text;
    if (ReadWholeFile(GetXdgConfigHome() + "/user-dirs.dirs", 64 * 1024, text) != READ_FILE_OK)
        return fallback;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#')
            continue;
        static const std::string kKey = "XDG_DOCUMENTS_DIR";
        if (line.compare(i, kKey.size(), kKey) != 0)
            continue;
        i += kKey.size();
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size() || line[i] != '=')
            continue;
        std::string dir = ParseUserDirValue(line.substr(i + 1), home == "/" ? "" : home);
        if (!dir.empty())
            return dir;
    }
    return fallback;
}

bool MakeFolders(const std::string& folder) {
    if (folder.empty())
        return false;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    std::string path;
    size_t pos = 0;
    while (pos <= folder.size()) {
        size_t slash = folder.find('/', pos);
        if (slash == std::string::npos)
            slash = folder.size();
        path = folder.substr(0, slash);
        pos = slash + 1;
        if (path.empty())
            continue;  // the root
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

EReadFile ReadWholeFile(const std::string& path, size_t maxBytes, std::string& data, int* pErrno) {
    data.clear();
    // Non-blocking open: a pipe with the file's name would otherwise block until someone writes
    // to it. Only regular files are read, where the flag changes nothing.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (pErrno)
            *pErrno = errno;
        return errno == ENOENT ? READ_FILE_MISSING : READ_FILE_ERROR;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (pErrno)
            *pErrno = S_ISDIR(st.st_mode) ? EISDIR : errno;
        close(fd);
        return READ_FILE_ERROR;
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        if (pErrno)
            *pErrno = EFBIG;
        close(fd);
        return READ_FILE_TOO_LARGE;
    }
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    // The file may change size while it is read: stop at the end, refuse to go past the limit.
    for (;;) {
        if (got == data.size()) {
            if (data.size() >= maxBytes)
                break;
            data.resize(std::min(maxBytes, data.size() + 4096));
        }
        ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (pErrno)
                *pErrno = errno;
            close(fd);
            data.clear();
            return READ_FILE_ERROR;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    data.resize(got);
    return READ_FILE_OK;
}

bool WriteFileAtomic(const std::string& path, const std::string& data, int* pErrno) {
    const std::string tmp = path + ".tmp";
    mode_t mode = 0666;
    struct stat st {};
    bool bKeepMode = stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (bKeepMode)
        mode = st.st_mode & 07777;

    auto fail = [&](int fd) {
        int err = errno;
        if (fd >= 0)
            close(fd);
        unlink(tmp.c_str());
        if (pErrno)
            *pErrno = err;
        return false;
    };

    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return fail(-1);
    if (bKeepMode && fchmod(fd, mode) != 0)
        return fail(fd);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(fd);
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0)
        return fail(fd);
    if (close(fd) != 0)
        return fail(-1);
    if (rename(tmp.c_str(), path.c_str()) != 0)
        return fail(-1);
    // Make the rename itself durable.
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}
