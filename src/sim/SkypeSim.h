#pragma once
// A substitute Skype client: the peer that the program, its tests, the demo and manual testing
// talk to. It has a window on the desktop that answers the discover broadcast with the attach
// reply, exchanges copy-data lines with the one attached client, keeps a model of a Skype
// client (the logged-in user, contacts, audio devices, calls, chat messages), answers commands
// in the real client's forms, and plays scripted events and faults.
//
// Like the real client it never answers inside the delivery of a line: a received line is
// posted to the simulator's own loop, and replies and notifications go out from there, each
// as a synchronous copy-data message to the attached client.
//
// Threads: the window runs on the loop given to Start (a test pumps it, under a manual clock if
// it likes) or on a thread of its own. Every public function may be called from any thread.
//
// A scenario in a few lines:
//   CSkypeSim sim;                        // logged in as "echo123"
//   sim.AddContact("alice", "Alice Smith");
//   sim.Start();                          // its own thread; the program discovers it
//   const int id = sim.IncomingCall("alice");  // CALL id CONF_ID 0, CALL id STATUS RINGING
//   ...                                   // the program answers: SET CALL id STATUS INPROGRESS
//   sim.CallerHangsUp(id);                // CALL id DURATION n, CALL id STATUS FINISHED
//
// Calls carry sound when a CSimCallAudio (sim/SkypeSimAudio.h) is plugged in with SetCallAudio:
// the caller's voice plays into AUDIO_OUT and what the caller hears is recorded from AUDIO_IN.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/MsgLoop.h"

inline constexpr const char* g_szSkypeSimTitle = "Vokra Skype Substitute";

// How the client answers a discover broadcast from a program it has not let in yet.
enum SimAttachMode {
    SIM_ATTACH_ALLOW = 0,     // attach at once (status 0)
    SIM_ATTACH_ASK_USER = 1,  // status 1; then 0 or 2 when the user decides
    SIM_ATTACH_REFUSE = 2,    // status 2
};

// What a contact does when it is called.
enum SimCalleeAction {
    SIM_CALLEE_ANSWERS = 0,  // rings, then answers
    SIM_CALLEE_REFUSES,      // rings, then refuses
    SIM_CALLEE_BUSY,         // busy at once
    SIM_CALLEE_NO_ANSWER,    // rings until the call is hung up
};

// Buddy status of a user, as the client reports it.
enum SimBuddyStatus {
    SIM_BUDDY_NEVER = 0,    // never a contact
    SIM_BUDDY_DELETED = 1,  // was a contact, deleted
    SIM_BUDDY_PENDING = 2,  // waiting for authorisation
    SIM_BUDDY_FRIEND = 3,   // in the contact list
};

struct CSimUser {
    std::string m_strHandle;
    std::string m_strFullName;
    std::string m_strDisplayName;  // empty unless the user set one for the contact
    int m_nOnlineStatus = 2;       // USERSTATUS_* (2 = ONLINE)
    int m_nBuddyStatus = SIM_BUDDY_FRIEND;
    int64_t m_nLastOnline = 0;  // seconds since 1970
    int m_nCalleeAction = SIM_CALLEE_ANSWERS;
    std::map<std::string, std::string> m_mapOther;  // further properties by upper-case name
};

struct CSimCall {
    int m_nId = 0;
    std::string m_strPartner;
    int m_nType = 2;    // CALLTYPE_* (2 = INCOMING_P2P)
    int m_nStatus = 0;  // CALLSTATUS_*
    int m_nDuration = 0;
    int64_t m_nTimestamp = 0;
    bool m_bAudio = false;  // the call's sound is on (ISimCallAudio told)
};

struct CSimChatMessage {
    int m_nId = 0;
    std::string m_strPartner;
    std::string m_strBody;
    std::string m_strStatus;  // SENDING, SENT, RECEIVED, READ
    bool m_bIncoming = false;
    int64_t m_nTimestamp = 0;
};

// Where the sound of calls plugs in. Called on the simulator's loop when a call starts carrying
// sound (it goes in progress) and when it stops (hold, hang-up), with the devices the client
// uses at that moment.
class ISimCallAudio {
public:
    virtual ~ISimCallAudio() = default;
    virtual void OnCallAudioStart(int nCallId, const std::string& strAudioIn,
                                  const std::string& strAudioOut) = 0;
    virtual void OnCallAudioStop(int nCallId) = 0;
};

class CSkypeSim : public CWindow {
public:
    // The highest API protocol this client speaks.
    static constexpr int kDefaultMaxProtocol = 8;

    CSkypeSim();
    ~CSkypeSim() override;

    // Creates the window titled g_szSkypeSimTitle on pLoop (the caller's thread must own or be
    // about to own it), or with nullptr on a thread of its own. False when already started.
    bool Start(CMsgLoop* pLoop = nullptr);
    // Closes the window (and ends its thread). Lines not yet sent are dropped.
    void Stop();
    HWND GetHwnd() const { return m_hWndSelf.load(); }
    // The kernel id of its own thread; 0 when it runs on a given loop.
    uint32_t ThreadId() const;

    // ---- Attaching ----
    void SetAttachMode(int mode);
    // The user's answer to the pending request (SIM_ATTACH_ASK_USER): allowed programs attach
    // now and at every later discover; a refused one gets status 2.
    void UserAllowsAccess();
    void UserRefusesAccess();
    // Unavailable: discovers get status 3 and the attached program is dropped. Available again:
    // "SkypeControlAPIAttach" 0x8001 goes to every top-level window.
    void SetApiAvailable(bool bAvailable);
    void SetMaxProtocol(int nProtocol);
    HWND AttachedClient() const;

    // ---- The client's state ----
    // Sets the logged-in user quietly (before a program attaches).
    void SetCurrentUser(const std::string& strHandle, const std::string& strFullName = "");
    std::string CurrentUser() const;
    // Someone logs in: CONNSTATUS CONNECTING, CURRENTUSERHANDLE, USERSTATUS ONLINE, CONNSTATUS
    // ONLINE.
    void LogIn(const std::string& strHandle, const std::string& strFullName = "");
    // USERSTATUS LOGGEDOUT, CONNSTATUS LOGGEDOUT; calls in progress end.
    void LogOut();
    void SetUserStatus(int nUserStatus);  // USERSTATUS_*, notified
    int UserStatus() const;
    // Adds or replaces a user quietly.
    void AddContact(const CSimUser& user);
    void AddContact(const std::string& strHandle, const std::string& strFullName,
                    const std::string& strDisplayName = "", int nOnlineStatus = 2,
                    int nBuddyStatus = SIM_BUDDY_FRIEND);
    // Changes a property of a user and tells the attached program ("USER h P v"). A user not
    // yet known is added first. Properties: FULLNAME, DISPLAYNAME, ONLINESTATUS (a status
    // word), BUDDYSTATUS, LASTONLINETIMESTAMP, or any other (kept as text).
    void SetContactProperty(const std::string& strHandle, const std::string& strProperty,
                            const std::string& strValue);
    std::optional<CSimUser> GetUser(const std::string& strHandle) const;
    void SetCalleeAction(const std::string& strHandle, int nAction);
    // The devices the client may use, and the ones it uses now (the first of each when empty).
    void SetAudioDevices(const std::vector<std::string>& in, const std::vector<std::string>& out,
                         const std::string& strCurrentIn = "",
                         const std::string& strCurrentOut = "");
    std::string AudioIn() const;
    std::string AudioOut() const;

    // ---- Calls ----
    // A call comes in: "CALL n CONF_ID 0", "CALL n STATUS RINGING". Returns its id. The caller
    // becomes a known user if it was not.
    int IncomingCall(const std::string& strPartner, int nType = 2 /* INCOMING_P2P */);
    // The ringing goes on: "CALL n STATUS RINGING" once more.
    void RingAgain(int nCallId);
    // The partner hangs up: a call in progress or on hold sends its last DURATION and FINISHED;
    // a ringing call becomes MISSED.
    void CallerHangsUp(int nCallId);
    // A ringing call stops ringing unanswered: MISSED.
    void MissCall(int nCallId);
    // On hold (REMOTEHOLD when the partner holds it) and back in progress.
    void HoldCall(int nCallId, bool bByPartner = false);
    void ResumeCall(int nCallId);
    std::optional<CSimCall> GetCall(int nCallId) const;
    void SetCallAudio(ISimCallAudio* pAudio);

    // ---- Chat ----
    // A chat message arrives: "MESSAGE n STATUS RECEIVED". Returns its id.
    int ReceiveChatMessage(const std::string& strPartner, const std::string& strBody);
    std::optional<CSimChatMessage> GetChatMessage(int nId) const;
    // Chat messages sent by the program, oldest first.
    std::vector<CSimChatMessage> SentChatMessages() const;

    // ---- Raw lines ----
    // An unasked line to the attached program, as it stands.
    void Notify(const std::string& strLine);
    // Exactly these bytes as one copy-data block (no NUL added): for garbled input.
    void SendRaw(const std::string& strBytes);

    // ---- Faults (each counts down over the commands it hits) ----
    // Commands whose text begins with strPrefix (upper/lower case alike; empty: every command).
    // No reply at all.
    void DropReplies(int nCount, const std::string& strPrefix = "");
    // Replies go out nDelayMs late.
    void DelayReplies(int nCount, uint32_t nDelayMs, const std::string& strPrefix = "");
    // "ERROR 68 Access denied" instead of the reply; the program is no longer attached.
    void AnswerError68(int nCount, const std::string& strPrefix = "");
    // The next notifications (not replies) go out twice.
    void DuplicateNotifications(int nCount);
    // The next copy-data deliveries are answered with 0 and not taken.
    void RefuseCopyData(int nCount);
    // Every delivery to this client takes this long (process clock) before it is answered.
    void SetDeliveryDelay(uint32_t nDelayMs);
    // Before each reply, a line the program did not ask for (CHATMESSAGE ..., USER x
    // NROF_AUTHED_BUDDIES 80, CALL n VIDEO_STATUS ...), as the real client interleaved them.
    void SetUnrelatedLines(bool bOn);

    // ---- What happened ----
    // Lines received from the attached program, oldest first (refused deliveries not included).
    std::vector<std::string> ReceivedLines() const;
    // Copy-data blocks sent to the program, oldest first, as sent (the line without its NUL).
    std::vector<std::string> SentLines() const;
    // Copy-data deliveries the program answered with 0 (or that found no window).
    int RefusedByClient() const;
    void ClearHistory();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    class CThread;
    struct COutgoing {
        uint64_t m_uDueMs = 0;
        uint64_t m_uSeq = 0;
        std::string m_strBytes;  // the whole block
        bool m_bDetachAfter = false;
        std::function<void()> m_fnAction;  // instead of a line: a scheduled event
    };
    struct CFault {
        int m_nCount = 0;
        std::string m_strPrefix;
        uint32_t m_nDelayMs = 0;
        bool Hits(const std::string& strLine);
    };

    // All below: with m_m held.
    void InsertOut(COutgoing out);
    void QueueLine(const std::string& strLine, uint32_t nDelayMs = 0, bool bDetachAfter = false);
    void QueueNotification(const std::string& strLine, uint32_t nDelayMs = 0);
    void QueueAction(uint32_t nDelayMs, std::function<void()> fn);
    void Kick();
    void OnDiscover(HWND hWndClient);
    void PostAttach(HWND hWndClient, LPARAM status);
    LRESULT OnCopyData(HWND hWndFrom, const COPYDATASTRUCT* pBlock);
    void OnCommand(const std::string& strLine);
    void Execute(const std::string& strLine, std::vector<std::string>& replies);
    void CmdGet(const std::vector<std::string>& words, const std::string& strLine,
                std::vector<std::string>& replies);
    void CmdSet(const std::vector<std::string>& words, const std::string& strLine,
                std::vector<std::string>& replies);
    void CmdSetCall(const std::vector<std::string>& words, std::vector<std::string>& replies);
    void CmdCall(const std::string& strTarget, std::vector<std::string>& replies);
    void CmdMessage(const std::string& strHandle, const std::string& strText,
                    std::vector<std::string>& replies);
    std::optional<std::string> UserProperty(const CSimUser& user, const std::string& strProp) const;
    std::optional<std::string> CallProperty(const CSimCall& call, const std::string& strProp) const;
    std::optional<std::string> MessageProperty(const CSimChatMessage& msg,
                                               const std::string& strProp) const;
    CSimUser* FindUser(const std::string& strHandle);
    const CSimUser* FindUser(const std::string& strHandle) const;
    CSimUser& UserFor(const std::string& strHandle);
    void SetCallStatus(CSimCall& call, int nStatus);
    void PlaceCallStep(int nCallId, int nExpectStatus, int nNewStatus);
    std::string UnrelatedLine();
    int NextId() { return m_nNextId++; }

    void Flush();
    void OnCallTick(int nCallId);

    // Recursive: the call-audio hook runs under it and may read the model back.
    mutable std::recursive_mutex m_m;
    std::unique_ptr<CThread> m_pThread;
    std::atomic<HWND> m_hWndSelf{0};
    UINT m_uMsgDiscover = 0;
    UINT m_uMsgAttach = 0;

    int m_nAttachMode = SIM_ATTACH_ALLOW;
    bool m_bApiAvailable = true;
    int m_nMaxProtocol = kDefaultMaxProtocol;
    HWND m_hWndClient = 0;
    HWND m_hWndPending = 0;
    std::set<HWND> m_setAllowed;

    std::string m_strCurrentUser;
    int m_nUserStatus = 2;                       // ONLINE
    int m_nConnStatus = 3;                       // ONLINE
    std::map<std::string, CSimUser> m_mapUsers;  // by lower-case handle
    std::vector<std::string> m_vecAudioIn;
    std::vector<std::string> m_vecAudioOut;
    std::string m_strAudioIn;
    std::string m_strAudioOut;
    std::map<int, CSimCall> m_mapCalls;
    std::map<int, CSimChatMessage> m_mapMessages;
    int m_nNextId = 11;
    ISimCallAudio* m_pAudio = nullptr;

    CFault m_faultDrop;
    CFault m_faultDelay;
    CFault m_faultError68;
    int m_nDuplicate = 0;
    int m_nRefuseCopyData = 0;
    uint32_t m_nDeliveryDelayMs = 0;
    bool m_bUnrelated = false;
    int m_nUnrelated = 0;

    std::deque<COutgoing> m_qOut;  // kept in (due, seq) order
    uint64_t m_uOutSeq = 0;
    std::vector<std::string> m_vecReceived;
    std::vector<std::string> m_vecSent;
    int m_nRefusedByClient = 0;
};
