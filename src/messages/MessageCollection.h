#pragma once
// The voice messages of the user logged in to Skype, and the folder where they lie:
// root + "My Received Voice Messages" + "/" + user name + "/". It owns its messages; their calls
// belong to gCallsDB.
//
// The handler thread reads the folder, adds and drops messages; the user interface lists,
// marks and deletes them. Both do so under CCallsDataLock.
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "calls/User.h"
#include "messages/Message.h"

class CMessageCollection {
public:
    CMessageCollection();
    explicit CMessageCollection(CProcessWide);
    virtual ~CMessageCollection();
    CMessageCollection(const CMessageCollection&) = delete;
    CMessageCollection& operator=(const CMessageCollection&) = delete;

    // The user's folder, ending with "/", both folders created if missing; empty while nobody
    // is logged in.
    std::string GetMessagesFolderPath() const;
    // Takes the user name and reads that user's saved messages; false for an empty name.
    bool init(const std::string& username);
    void ReadSavedMessages();
    // Puts the message in front and keeps it; false while nobody is logged in (the message is
    // then dropped).
    bool add(std::unique_ptr<CMessage> pMessage);
    // Drops the message and its call. The caller deletes the file first.
    void del(CMessage* pMessage);
    // Deletes every message (stopping a recording in progress) and forgets the user name.
    void deleteAll();
    // The sizes of the listed messages' files, summed; the disk is not looked at.
    uint64_t GetMessagesFolderSizeBytes() const;
    int GetNumNewSavedVoiceMessages() const;
    // The messages, newest insertion first. Read under CCallsDataLock.
    std::vector<CMessage*> GetMessages() const;

    std::string m_strUserName;

private:
    void DeleteMessages();
    // A message leaving the list: its call lets go of it; its recording, if any, stops.
    static void Discard(std::unique_ptr<CMessage> pMessage);

    std::list<std::unique_ptr<CMessage>> m_Messages;
    bool m_bProcessWide = false;
};

extern CMessageCollection gMessagesDB;
