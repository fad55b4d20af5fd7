#pragma once
// The calls database: call id to CCall. It owns its calls: the live ones the handler creates
// and the ones rebuilt from saved voice messages (negative ids).
#include <memory>
#include <unordered_map>
#include <vector>

#include "calls/Call.h"

class CCallCollection {
public:
    CCallCollection();
    virtual ~CCallCollection();
    CCallCollection(const CCallCollection&) = delete;
    CCallCollection& operator=(const CCallCollection&) = delete;

    // Enters the call under its id and keeps it; returns it. An entry of the same id is
    // replaced. A voice message may still point at the replaced call, so it is kept (not
    // listed) until RemoveAll.
    CCall* Add(std::unique_ptr<CCall> pCall);
    // The same for a call made with a bare pointer; the collection owns it from here on.
    CCall* Add(CCall* pCall) { return Add(std::unique_ptr<CCall>(pCall)); }
    bool Get(int callId, CCall*& pCall) const;
    // Removes the entry and deletes its call.
    void Del(int callId);
    // Deletes every call.
    void RemoveAll();

    // For the pages; read under CCallsDataLock.
    size_t GetCount() const { return m_mapCalls.size(); }
    const std::unordered_map<int, std::unique_ptr<CCall>>& GetMap() const { return m_mapCalls; }

private:
    void DeleteAll();

    std::unordered_map<int, std::unique_ptr<CCall>> m_mapCalls;
    std::vector<std::unique_ptr<CCall>> m_vecReplaced;
};

extern CCallCollection gCallsDB;
