#include "calls/CallCollection.h"

#include "app/Logger.h"
#include "app/WindowMessages.h"
#include "calls/CallsLock.h"

CCallCollection gCallsDB;

CCallCollection::CCallCollection() : m_mapCalls(257) {}

CCallCollection::~CCallCollection() {
    DeleteAll();
}

CCall* CCallCollection::Add(std::unique_ptr<CCall> pCall) {
    VOKRA_ASSERT_CALLS_LOCKED();
    if (!pCall)
        return nullptr;
    CCall* pAdded = pCall.get();
    VLOG(INFO, "CCallCollection::Add callId: %d, p=%p", pAdded->m_nCallId,
         static_cast<void*>(pAdded));
    std::unique_ptr<CCall>& pEntry = m_mapCalls[pAdded->m_nCallId];
    if (pEntry && pEntry.get() != pAdded)
        m_vecReplaced.push_back(std::move(pEntry));
    else if (pEntry)
        static_cast<void>(pCall.release());  // the same call entered twice: it is ours already
    if (pCall)
        pEntry = std::move(pCall);
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
    return pAdded;
}

bool CCallCollection::Get(int callId, CCall*& pCall) const {
    VLOG(INFO, "CCallCollection::Get callId: %d", callId);
    auto it = m_mapCalls.find(callId);
    if (it == m_mapCalls.end())
        return false;
    pCall = it->second.get();
    return true;
}

void CCallCollection::Del(int callId) {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "CCallCollection::Del");
    auto it = m_mapCalls.find(callId);
    if (it != m_mapCalls.end()) {
        // Out of the map before it goes: nothing may find it half gone.
        std::unique_ptr<CCall> pCall = std::move(it->second);
        m_mapCalls.erase(it);
        pCall->Unlink();
    }
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
}

void CCallCollection::RemoveAll() {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "Removing all Calls from CallCollection DB");
    DeleteAll();
}

void CCallCollection::DeleteAll() {
    // Taken out first: no call that goes may find itself, or another one going, still listed.
    std::unordered_map<int, std::unique_ptr<CCall>> mapCalls;
    mapCalls.swap(m_mapCalls);
    std::vector<std::unique_ptr<CCall>> vecReplaced;
    vecReplaced.swap(m_vecReplaced);
    for (auto& [id, pCall] : mapCalls)
        pCall->Unlink();
    for (auto& pCall : vecReplaced)
        pCall->Unlink();
}
