#include "calls/CallCollection.h"

#include "app/Logger.h"
#include "app/WindowMessages.h"

CCallCollection gCallsDB;

CCallCollection::CCallCollection() : m_mapCalls(257) {}

CCallCollection::~CCallCollection() {
    DeleteAll();
}

void CCallCollection::Add(CCall* pCall) {
    if (pCall == nullptr)
        return;
    VLOG(INFO, "CCallCollection::Add callId: %d, p=%p", pCall->m_nCallId,
         static_cast<void*>(pCall));
    CCall*& pEntry = m_mapCalls[pCall->m_nCallId];
    if (pEntry != nullptr && pEntry != pCall)
        m_vecReplaced.emplace_back(pEntry);
    pEntry = pCall;
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
}

bool CCallCollection::Get(int callId, CCall*& pCall) const {
    VLOG(INFO, "CCallCollection::Get callId: %d", callId);
    auto it = m_mapCalls.find(callId);
    if (it == m_mapCalls.end())
        return false;
    pCall = it->second;
    return true;
}

void CCallCollection::Del(int callId) {
    VLOG(INFO, "CCallCollection::Del");
    auto it = m_mapCalls.find(callId);
    if (it != m_mapCalls.end()) {
        CCall* pCall = it->second;
        m_mapCalls.erase(it);
        delete pCall;
    }
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
}

void CCallCollection::RemoveAll() {
    VLOG(INFO, "Removing all Calls from CallCollection DB");
    DeleteAll();
}

void CCallCollection::DeleteAll() {
    // Taken out first: a call's destructor must never find itself still listed.
    std::unordered_map<int, CCall*> mapCalls;
    mapCalls.swap(m_mapCalls);
    for (auto& [id, pCall] : mapCalls)
        delete pCall;
    m_vecReplaced.clear();
}
