#include "messages/Message.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <vector>

#include "app/Logger.h"
#include "app/Settings.h"
#include "calls/Call.h"
#include "calls/User.h"
#include "messages/MessageAudioStages.h"
#include "messages/MessageCollection.h"
#include "platform/Clock.h"
#include "platform/StrUtil.h"

namespace {

// The file name must stay below the usual 255-byte limit with the other nine fields added.
constexpr size_t kMaxUserFieldBytes = 200;
// How far the start time may be moved on to find a free name.
constexpr int kMaxNameAttempts = 1000;

bool NeedsEscape(unsigned char c, bool bFolder) {
    return c == '%' || c == '/' || c < 0x20 || c == 0x7F || (!bFolder && c == '.');
}

std::string Escape(const std::string& s, bool bFolder) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        std::string piece(1, static_cast<char>(c));
        if (NeedsEscape(c, bFolder))
            piece = {'%', kHex[c >> 4], kHex[c & 15]};
        if (out.size() + piece.size() > kMaxUserFieldBytes)
            break;
        out += piece;
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// rename() that fails instead of replacing an existing file.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    // A file system without the flag: a hard link cannot replace either.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP)
        return false;
    // Nor hard links (FAT): only this program writes the folder, so look, then move.
    if (FileExists(to)) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::string EncodeFileNameUser(const std::string& username) {
    if (username.empty())
        return "%";
    return Escape(username, false);
}

std::string DecodeFileNameUser(const std::string& field) {
    if (field == "%")
        return "";
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '%' && i + 2 < field.size() && HexValue(field[i + 1]) >= 0 &&
            HexValue(field[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(field[i + 1]) * 16 + HexValue(field[i + 2]));
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::string EncodeFolderName(const std::string& username) {
    if (username == "." || username == "..")
        return username == "." ? "%2E" : "%2E%2E";
    return Escape(username, true);
}

std::string FormatVoiceMessageFileName(const std::string& username, int64_t tStart, int duration,
                                       bool bHeard) {
    const std::tm tm = LocalTime(tStart);
    return StrFormat("%s.%04d.%02d.%02d.%02d.%02d.%02d.%d.%s.wav",
                     EncodeFileNameUser(username).c_str(), tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, duration, bHeard ? "s" : "n");
}

bool ParseVoiceMessageFileName(const std::string& fileName, CVoiceMessageName& out) {
    // Runs of full stops are one separator; leading and trailing ones separate nothing.
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < fileName.size()) {
        if (fileName[pos] == '.') {
            ++pos;
            continue;
        }
        const size_t end = fileName.find('.', pos);
        fields.push_back(fileName.substr(pos, end == std::string::npos ? end : end - pos));
        pos = end == std::string::npos ? fileName.size() : end;
    }
    if (fields.size() < 10 || fields[9] != "wav")
        return false;
    out.m_strUserName = DecodeFileNameUser(fields[0]);
    // Leading digits; none give 0, and too many stop at the largest int.
    auto leadingNumber = [](const std::string& s) {
        return static_cast<int>(ParseDecimal(s, 0, INT_MAX).nValue);
    };
    for (int i = 0; i < 6; ++i)
        out.m_anTime[i] = leadingNumber(fields[1 + i]);
    out.m_nDuration = leadingNumber(fields[7]);
    out.m_bHeard = fields[8] != "n";
    std::tm tm{};
    tm.tm_year = out.m_anTime[0] - 1900;
    tm.tm_mon = out.m_anTime[1] - 1;
    tm.tm_mday = out.m_anTime[2];
    tm.tm_hour = out.m_anTime[3];
    tm.tm_min = out.m_anTime[4];
    tm.tm_sec = out.m_anTime[5];
    tm.tm_isdst = -1;  // the time library decides daylight saving time for that date
    out.m_tStart = static_cast<int64_t>(mktime(&tm));
    return true;
}

CMessage::CMessage() = default;

CMessage::~CMessage() {
    if (m_bAudioTaken)
        AudioCtrlBreak();
}

std::string CMessage::GetFileName() const {
    if (!m_strFileName.empty())
        return m_strFileName;
    if (m_pCall == nullptr)
        return "";
    return FormatVoiceMessageFileName(m_pCall->m_pUser ? m_pCall->m_pUser->m_strUserName : "",
                                      m_pCall->m_tStart, m_pCall->m_nDuration, m_bHeard);
}

bool CMessage::HasFile() const {
    // A file found in the folder is the message's own whatever its duration field says (it
    // may read 0); otherwise only a recording that lasted has a file.
    if (m_pCall == nullptr)
        return false;
    return !m_strFileName.empty() || m_pCall->m_nDuration > 0;
}

std::string CMessage::FolderOrWarn(const char* pszWho) const {
    std::string strFolder = gMessagesDB.GetMessagesFolderPath();
    // Without a logged-in user there is no folder; a bare file name would land wherever the
    // program happens to run.
    if (strFolder.empty())
        VLOG(WARNING, "%s: no messages folder (nobody logged in)", pszWho);
    return strFolder;
}

void CMessage::AudioCtrlTake() {
    VLOG(INFO, "CMessage::AudioCtrlTake");
    if (m_bAudioTaken)
        return;
    if (g_pMessageAudioStages == nullptr) {
        VLOG(WARNING, "CMessage::AudioCtrlTake: no answering audio stages, nothing is recorded");
        return;
    }
    const std::string strFolder = FolderOrWarn("CMessage::AudioCtrlTake");
    if (strFolder.empty())
        return;
    m_bAudioTaken = true;
    const std::string strRecordPath = strFolder + g_szLastVoiceMsgFileName;
    VLOG(INFO, "%s", strRecordPath.c_str());
    const CUser* pCaller = m_pCall ? m_pCall->m_pUser : nullptr;
    const bool bNonAuth =
        UseNonAuthorizedCallerSettings && (pCaller == nullptr || !pCaller->m_bIsBuddy);
    const std::string strGreeting =
        bNonAuth ? GreetingSoundMsgPathForNonAuth.Get() : GreetingSoundMsgPath.Get();
    g_pMessageAudioStages->MsgAudioStageStart(strGreeting, strRecordPath);
}

int CMessage::AudioCtrlBreak() {
    VLOG(INFO, "CMessage::AudioCtrlBreak");
    if (!m_bAudioTaken)
        return 0;
    const int nSeconds = g_pMessageAudioStages ? g_pMessageAudioStages->MsgAudioStageStop() : 0;
    m_bAudioTaken = false;
    return nSeconds;
}

bool CMessage::AudioCtrlDetach() {
    if (!m_bAudioTaken)
        return false;
    m_bAudioTaken = false;
    return true;
}

int CMessage::AudioCtrlStopDetached() {
    VLOG(INFO, "CMessage::AudioCtrlBreak");
    return g_pMessageAudioStages ? g_pMessageAudioStages->MsgAudioStageStop() : 0;
}

bool CMessage::RenameVoiceMessageFileName() {
    VLOG(INFO, "CMessage::RenameVoiceMessageFileName");
    const std::string strFolder = FolderOrWarn("CMessage::RenameVoiceMessageFileName");
    VLOG(INFO, "%s", strFolder.c_str());
    if (strFolder.empty() || m_pCall == nullptr)
        return false;
    const std::string strFrom = strFolder + g_szLastVoiceMsgFileName;
    for (int nAttempt = 0; nAttempt < kMaxNameAttempts; ++nAttempt) {
        m_strFileName.clear();
        const std::string strName = GetFileName();
        if (ChangeFileName(strFrom, strFolder + strName)) {
            m_strFileName = strName;
            return true;
        }
        // Only a taken name is worth another try; anything else fails every name alike.
        if (!FileExists(strFolder + strName) || !FileExists(strFrom))
            return false;
        VLOG(WARNING, "CMessage::RenameVoiceMessageFileName: '%s' is taken, trying the next second",
             strName.c_str());
        ++m_pCall->m_tStart;
    }
    VLOG(WARNING, "CMessage::RenameVoiceMessageFileName: no free name, the recording stays in %s",
         strFrom.c_str());
    return false;
}

bool CMessage::ChangeFileName(const std::string& from, const std::string& to) {
    if (!FileExists(from))
        return false;
    VLOG(INFO, "CMessage changing file name to: '%s' from '%s'", to.c_str(), from.c_str());
    if (!RenameNoReplace(from, to)) {
        VLOG(WARNING, "CMessage::ChangeFileName: cannot rename '%s' to '%s': %s", from.c_str(),
             to.c_str(), strerror(errno));
        return false;
    }
    struct stat st;
    if (stat(to.c_str(), &st) == 0)
        m_nFileSize = st.st_size > INT_MAX ? INT_MAX : static_cast<int>(st.st_size);
    return true;
}

bool CMessage::SetHeard(bool bHeard) {
    const std::string strOld = GetFileName();
    const bool bChanged = m_bHeard != bHeard;
    m_bHeard = bHeard;
    if (!bChanged || !HasFile())
        return true;
    const std::string strFolder = FolderOrWarn("CMessage::SetHeard");
    const std::string strNew =
        FormatVoiceMessageFileName(m_pCall->m_pUser ? m_pCall->m_pUser->m_strUserName : "",
                                   m_pCall->m_tStart, m_pCall->m_nDuration, bHeard);
    if (strFolder.empty() || !ChangeFileName(strFolder + strOld, strFolder + strNew)) {
        VLOG(WARNING, "CMessage::SetHeard: '%s' keeps its name and its mark", strOld.c_str());
        m_bHeard = !bHeard;
        return false;
    }
    m_strFileName = strNew;
    return true;
}

bool CMessage::DeleteVoiceMessageFile() {
    if (!HasFile())
        return true;
    const std::string strFolder = FolderOrWarn("CMessage::DeleteVoiceMessageFile");
    if (strFolder.empty())
        return false;
    const std::string strPath = strFolder + GetFileName();
    if (unlink(strPath.c_str()) != 0) {
        VLOG(WARNING, "CMessage::DeleteVoiceMessageFile: cannot remove '%s': %s", strPath.c_str(),
             strerror(errno));
        return false;
    }
    return true;
}
