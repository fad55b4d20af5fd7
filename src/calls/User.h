#pragma once
// What the program knows about one Skype user: a caller, the sender of a saved voice message, or
// the user logged in to Skype here (gCurrentUser). Filled from Skype's USER answers.
//
// Changed on the Skype message handler thread only; read elsewhere under CCallsDataLock.
#include <string>

// Selects the constructor of a process-wide instance: those are built before main, when
// nothing can log yet (the clock that stamps log records may not even exist), and destroyed
// after it, when nothing should.
struct CProcessWide {};

class CUser {
public:
    CUser();
    explicit CUser(CProcessWide);
    virtual ~CUser();

    // Takes the user name and asks Skype for the user's full name, display name, online status
    // and buddy status.
    void init(const std::string& username);
    void SetFullName(const std::string& name);
    void SetDisplayName(const std::string& name);
    void SetUserStatus(int status);
    void SetBuddyStatus(int status);
    void SetLastOnlineTimestamp(int timestamp);
    // Back to the empty user; sends nothing.
    void Reset();

    // Display name, else full name, else user name.
    std::string GetName() const;
    // "Name (handle)", or the handle alone when there is no name or it is the handle.
    std::string GetNameAndHandle() const;
    // A SkypeOut telephone number: the user name begins with "+" or "00".
    bool IsPhoneNumber() const;

    std::string m_strUserName;
    std::string m_strFullName;
    std::string m_strDisplayName;
    int m_nOnlineStatus = 0;
    int m_nBuddyStatus = -1;
    bool m_bIsBuddy = false;
    int m_nLastOnlineTimestamp = 0;
};

// A SkypeOut telephone number rather than a Skype name: it begins with "+" or "00" (a Skype
// name begins with a letter). The one rule for callers and for the entries of a users list.
bool IsPhoneNumber(const std::string& username);

// The user logged in to Skype on this computer; empty user name while none is known.
extern CUser gCurrentUser;
