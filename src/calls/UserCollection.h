#pragma once
// The users database: Skype user name (exact match) to CUser. It owns its users, except
// gCurrentUser, which is entered while a user is logged in.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "calls/User.h"

class CUserCollection {
public:
    CUserCollection();
    explicit CUserCollection(CProcessWide);
    virtual ~CUserCollection();
    CUserCollection(const CUserCollection&) = delete;
    CUserCollection& operator=(const CUserCollection&) = delete;

    // Enters the user under its user name and keeps it; returns it. An entry of the same name
    // is replaced. Calls may still point at the replaced user, so it is kept (not listed) until
    // the database goes.
    CUser* Add(std::unique_ptr<CUser> pUser);
    // Enters the logged-in user, which the collection lists but does not own.
    void Add(CUser* pUser);
    // Removes the entry without deleting the user (one of ours is kept, like a replaced one).
    bool Remove(const std::string& username);
    bool Get(const std::string& username, CUser*& pUser) const;
    // Get, or create, init and Add.
    CUser* GetOrCreate(const std::string& username);
    // Deletes every user but gCurrentUser. Only once no call points at them any more (process
    // end, tests).
    void DeleteAll();

    // For the pages; read under CCallsDataLock.
    size_t GetCount() const { return m_mapUsers.size(); }
    const std::unordered_map<std::string, CUser*>& GetMap() const { return m_mapUsers; }

private:
    void Enter(CUser* pUser);

    // Lookup only; the users themselves are owned below (all but gCurrentUser).
    std::unordered_map<std::string, CUser*> m_mapUsers;
    std::vector<std::unique_ptr<CUser>> m_vecOwned;
    bool m_bProcessWide = false;
};

extern CUserCollection gUsersDB;
