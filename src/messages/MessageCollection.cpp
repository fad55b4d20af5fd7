#include "messages/MessageCollection.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "app/Logger.h"
#include "app/Settings.h"
#include "app/WindowMessages.h"
#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/CallsLock.h"
#include "calls/UserCollection.h"
#include "platform/FileUtil.h"

CMessageCollection gMessagesDB{CProcessWide{}};

namespace {

constexpr const char* kAllUsersFolder = "My Received Voice Messages";

void EnsureFolder(const std::string& folder) {
    if (!MakeFolders(folder))
        VLOG(WARNING, "CMessageCollection: cannot create the folder %s: %s", folder.c_str(),
             strerror(errno));
}

// The plain files of the folder (symbolic links, folders and devices are no messages), sorted,
// so that the ids given to them do not depend on the file system's order.
std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* pDir = opendir(folder.c_str());
    if (pDir == nullptr) {
        VLOG(WARNING, "CMessageCollection: cannot read the folder %s: %s", folder.c_str(),
             strerror(errno));
        return names;
    }
    while (const dirent* pEntry = readdir(pDir)) {
        const std::string name = pEntry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (lstat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.push_back(name);
    }
    closedir(pDir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

CMessageCollection::CMessageCollection() = default;

CMessageCollection::CMessageCollection(CProcessWide) : m_bProcessWide(true) {}

CMessageCollection::~CMessageCollection() {
    if (m_bProcessWide)
        DeleteMessages();
    else
        deleteAll();
}

std::string CMessageCollection::GetMessagesFolderPath() const {
    if (m_strUserName.empty())
        return "";
    const std::string strAll = GetMessagesFolderRoot() + kAllUsersFolder;
    EnsureFolder(strAll);
    const std::string strUser = strAll + "/" + EncodeFolderName(m_strUserName);
    EnsureFolder(strUser);
    return strUser + "/";
}

bool CMessageCollection::init(const std::string& username) {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "CMessageCollection::init username: %s", username.c_str());
    m_strUserName = username;
    if (username.empty()) {
        VLOG(INFO, "CMessageCollection::init username.IsEmpty");
        return false;
    }
    ReadSavedMessages();
    return true;
}

void CMessageCollection::ReadSavedMessages() {
    VLOG(INFO, "CMessageCollection: Reading saved messages from username: %s",
         m_strUserName.c_str());
    const std::string strFolder = GetMessagesFolderPath();
    VLOG(INFO, "%s", strFolder.c_str());
    if (strFolder.empty())
        return;
    int nCallId = -1;
    for (const std::string& name : ListFiles(strFolder)) {
        VLOG(INFO, "CMessageCollection Reading: %s", name.c_str());
        CVoiceMessageName parsed;
        if (!ParseVoiceMessageFileName(name, parsed))
            continue;
        struct stat st;
        if (stat((strFolder + name).c_str(), &st) != 0) {
            VLOG(WARNING, "CMessageCollection: cannot read %s: %s", name.c_str(), strerror(errno));
            continue;
        }
        CUser* pUser = gUsersDB.GetOrCreate(parsed.m_strUserName);
        auto pNewCall = std::make_unique<CCall>();
        pNewCall->init(--nCallId, pUser, parsed.m_tStart, parsed.m_nDuration);
        CCall* pCall = gCallsDB.Add(std::move(pNewCall));
        auto pMessage = std::make_unique<CMessage>();
        pMessage->m_pCall = pCall;
        pMessage->m_bHeard = parsed.m_bHeard;
        pMessage->m_nFileSize = st.st_size > INT_MAX ? INT_MAX : static_cast<int>(st.st_size);
        pMessage->m_strFileName = name;
        pCall->m_pMessage = pMessage.get();
        m_Messages.push_front(std::move(pMessage));
        PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
    }
}

bool CMessageCollection::add(std::unique_ptr<CMessage> pMessage) {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "CMessageCollection::add");
    if (m_strUserName.empty() || !pMessage) {
        if (pMessage)
            Discard(std::move(pMessage));
        return false;
    }
    m_Messages.push_front(std::move(pMessage));
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
    return true;
}

void CMessageCollection::del(CMessage* pMessage) {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "CMessageCollection::del");
    auto it = std::find_if(m_Messages.begin(), m_Messages.end(),
                           [&](const std::unique_ptr<CMessage>& p) { return p.get() == pMessage; });
    if (it != m_Messages.end()) {
        std::unique_ptr<CMessage> pOwned = std::move(*it);
        m_Messages.erase(it);
        // Only the message's own call: another one may have taken its id meanwhile. The call
        // still going on (taken over by the user, or being hung up) stays until Skype ends it:
        // it keeps the machine from answering over it and may have Skype's devices to give back.
        CCall* pListed = nullptr;
        if (pMessage->m_pCall != nullptr && pMessage->m_pCall != g_pCurrentCall &&
            gCallsDB.Get(pMessage->m_pCall->m_nCallId, pListed) && pListed == pMessage->m_pCall)
            gCallsDB.Del(pListed->m_nCallId);
        Discard(std::move(pOwned));
    }
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
}

void CMessageCollection::deleteAll() {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "CMessageCollection::deleteAll - Removing all Messages from MessageCollection DB");
    DeleteMessages();
}

void CMessageCollection::DeleteMessages() {
    std::list<std::unique_ptr<CMessage>> messages;
    messages.swap(m_Messages);
    for (std::unique_ptr<CMessage>& pMessage : messages)
        Discard(std::move(pMessage));
    m_strUserName.clear();
}

void CMessageCollection::Discard(std::unique_ptr<CMessage> pMessage) {
    if (pMessage->m_pCall != nullptr && pMessage->m_pCall->m_pMessage == pMessage.get())
        pMessage->m_pCall->m_pMessage = nullptr;
    // The message's destructor stops a recording still running for it.
}

std::vector<CMessage*> CMessageCollection::GetMessages() const {
    std::vector<CMessage*> vec;
    vec.reserve(m_Messages.size());
    for (const std::unique_ptr<CMessage>& pMessage : m_Messages)
        vec.push_back(pMessage.get());
    return vec;
}

uint64_t CMessageCollection::GetMessagesFolderSizeBytes() const {
    uint64_t uTotal = 0;
    for (const std::unique_ptr<CMessage>& pMessage : m_Messages)
        uTotal += static_cast<uint64_t>(std::max(0, pMessage->m_nFileSize));
    VLOG(INFO, "GetMessagesFolderSizeBytes: Total of %llu bytes in %d files",
         static_cast<unsigned long long>(uTotal), static_cast<int>(m_Messages.size()));
    return uTotal;
}

int CMessageCollection::GetNumNewSavedVoiceMessages() const {
    int nNew = 0;
    for (const std::unique_ptr<CMessage>& pMessage : m_Messages)
        nNew += pMessage->m_bHeard ? 0 : 1;
    VLOG(INFO, "GetNumNewSavedVoiceMessages: Total %d new messages out of %d", nNew,
         static_cast<int>(m_Messages.size()));
    return nNew;
}
