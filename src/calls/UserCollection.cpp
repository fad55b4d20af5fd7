#include "calls/UserCollection.h"

#include <cassert>

#include "app/Logger.h"
#include "app/WindowMessages.h"
#include "calls/CallsLock.h"

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
    // gCurrentUser is not among the owned ones, so at process exit (when it may already be
    // gone) it is never touched.
    m_mapUsers.clear();
    m_vecOwned.clear();
}

CUser* CUserCollection::Add(std::unique_ptr<CUser> pUser) {
    if (!pUser)
        return nullptr;
    CUser* pAdded = pUser.get();
    m_vecOwned.push_back(std::move(pUser));
    Enter(pAdded);
    return pAdded;
}

void CUserCollection::Add(CUser* pUser) {
    if (pUser == nullptr)
        return;
    // Every other user comes with its owner (the unique_ptr form).
    assert(pUser == &gCurrentUser);
    Enter(pUser);
}

void CUserCollection::Enter(CUser* pUser) {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "CUserCollection::Add: %s", pUser->m_strUserName.c_str());
    m_mapUsers[pUser->m_strUserName] = pUser;
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
}

bool CUserCollection::Remove(const std::string& username) {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "CUserCollection::Remove: %s", username.c_str());
    // Only the entry goes: a user of ours stays alive for the calls that point at it.
    const bool bRemoved = m_mapUsers.erase(username) > 0;
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
    auto pNew = std::make_unique<CUser>();
    pNew->init(username);
    return Add(std::move(pNew));
}
