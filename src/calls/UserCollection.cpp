#include "calls/UserCollection.h"

#include "app/Logger.h"
#include "app/WindowMessages.h"

CUserCollection gUsersDB{CProcessWide{}};

CUserCollection::CUserCollection() : m_mapUsers(257) {
    VLOG(INFO, "CUserCollection::CUserCollection");
}

CUserCollection::CUserCollection(CProcessWide) : m_mapUsers(257), m_bProcessWide(true) {}

CUserCollection::~CUserCollection() {
    if (!m_bProcessWide)
        VLOG(INFO, "CUserCollection::~CUserCollection");
    DeleteAll();
}

void CUserCollection::DeleteAll() {
    // gCurrentUser is not ours; it is recognised by its address, since at process exit it may
    // already be gone.
    for (auto& [name, pUser] : m_mapUsers)
        if (pUser != &gCurrentUser)
            delete pUser;
    m_mapUsers.clear();
    m_vecReplaced.clear();
}

void CUserCollection::Add(CUser* pUser) {
    if (pUser == nullptr)
        return;
    VLOG(INFO, "CUserCollection::Add: %s", pUser->m_strUserName.c_str());
    CUser*& pEntry = m_mapUsers[pUser->m_strUserName];
    if (pEntry != nullptr && pEntry != pUser && pEntry != &gCurrentUser)
        m_vecReplaced.emplace_back(pEntry);
    pEntry = pUser;
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
}

bool CUserCollection::Remove(const std::string& username) {
    VLOG(INFO, "CUserCollection::Remove: %s", username.c_str());
    auto it = m_mapUsers.find(username);
    const bool bRemoved = it != m_mapUsers.end();
    if (bRemoved) {
        // Only the logged-in user is ever removed; anything else stays alive for its calls.
        if (it->second != &gCurrentUser)
            m_vecReplaced.emplace_back(it->second);
        m_mapUsers.erase(it);
    }
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
    return bRemoved;
}

bool CUserCollection::Get(const std::string& username, CUser*& pUser) const {
    VLOG(INFO, "CUserCollection::Get: %s", username.c_str());
    auto it = m_mapUsers.find(username);
    if (it == m_mapUsers.end())
        return false;
    pUser = it->second;
    return true;
}

CUser* CUserCollection::GetOrCreate(const std::string& username) {
    CUser* pUser = nullptr;
    if (Get(username, pUser))
        return pUser;
    pUser = new CUser();
    pUser->init(username);
    Add(pUser);
    return pUser;
}
