#pragma once
// The Skype transmission layer: the program's only link to the Skype client. A hidden window
// that finds Skype and attaches to it, keeps the attachment alive, attaches again when the link
// is lost, and carries acknowledged commands (at most "window size" of them wait for their reply
// at any time) and Skype's lines, which it parses and hands to the command sink.
//
// Threads: the window, its timers and both command queues live on one loop, the user-interface
// loop of the program. Init creates the window on the loop it is given, or, when given none, on
// the loop bound to the calling thread (CMsgLoop::Current()). Init and End run on that loop's
// thread; Connect, Disconnect, QueueCtrlAckCmd and GetConnectionState may be called from any
// thread. The sinks are called on the transport's loop and must not block it.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "platform/MsgLoop.h"
#include "skype/SkypeAccessAPI.h"

class CSTLSndr;

// Connection states: the value told to the state sink. The stored state (GetConnectionState)
// keeps only 0, 1, 5 and 6; 2 to 4 are stored as 1.
enum {
    STL_NOT_STARTED = 0,
    STL_DISCONNECTED = 1,
    STL_REFUSED = 2,
    STL_API_NOT_AVAILABLE = 3,  // also: 20 discover broadcasts went unanswered
    STL_API_AVAILABLE = 4,      // Skype announced its API again
    STL_CONNECTING = 5,
    STL_CONNECTED = 6,
};

// Told every change of the connection state, on the transport's loop.
class IConnectionStateSink {
public:
    virtual ~IConnectionStateSink() = default;
    virtual void OnConnectionState(int state) = 0;
};

// Given every parsed line from Skype, replies included, on the transport's loop. The record is
// only lent for the call: a sink that keeps it copies it. The result is ignored.
class ISkypeCmdSink {
public:
    virtual ~ISkypeCmdSink() = default;
    virtual bool OnSkypeCmd(const SkypeToDeviceCmd& cmd) = 0;
};

// Window messages of the transport window.
constexpr UINT WM_STL_CONNECT = WM_USER + 900;
constexpr UINT WM_STL_DISCONNECT = WM_USER + 901;
constexpr UINT WM_STL_QUEUE_CMD = WM_USER + 902;  // owns a DeviceToSkypeCmd (TakePayload)

// Timers of the transport window.
enum : UINT {
    STL_TIMER_DISCOVER_FAILED = 101,   // 3000 ms after a discover broadcast
    STL_TIMER_TRY_RECONNECT = 102,     // 5000 ms, or 0 ms for an immediate retry
    STL_TIMER_KEEPALIVE = 103,         // 4800 ms, repeating, restarted by every line received
    STL_TIMER_KEEPALIVE_FAILED = 104,  // 2000 ms after a PING
    STL_TIMER_REPLY_TIMEOUT = 105,     // 200 ms, repeating: checks the waiting command's age
};

// Indexes of the debug counters, in the order GetDebugCounters gives them.
enum {
    STL_CNT_DISCOVER_FAILED = 0,
    STL_CNT_RECONNECT_ATTEMPTS,
    STL_CNT_KEEPALIVE_FAILED,
    STL_CNT_ERROR_68,
    STL_CNT_REPLY_TIMEOUTS,
    STL_CNT_LINES_RECEIVED,
    STL_CNT_LINES_SENT,  // the sender's count
    STL_CNT_COUNT,
};

class CSTL : public CWindow {
public:
    static constexpr uint32_t kDiscoverFailedMs = 3000;
    static constexpr uint32_t kReconnectMs = 5000;
    static constexpr uint32_t kKeepAliveMs = 4800;
    static constexpr uint32_t kKeepAliveFailedMs = 2000;
    static constexpr uint32_t kReplyCheckMs = 200;
    static constexpr uint32_t kReplyTimeoutMs = 3000;
    static constexpr int kMaxDiscoverAttempts = 20;
    static constexpr int kMaxInQueue = 200;  // QueueCtrlAckCmd waits while the IN queue is larger

    CSTL();
    ~CSTL() override;

    // Creates the hidden window on pLoop (nullptr: the calling thread's loop), starts the sender
    // thread and the reply time-out check. 1 on success or when already initialised, 0 when the
    // window cannot be created.
    int Init(int nWindowSize, IConnectionStateSink* pStateSink, ISkypeCmdSink* pCmdSink,
             CMsgLoop* pLoop = nullptr);
    // Start attaching (and re-attach after losses from now on). Any thread.
    void Connect();
    // Detach, stop reconnecting, drop every queued command. Any thread.
    void Disconnect();
    // Shutdown: disconnects, stops the sender thread, closes the window. 1, or 0 when not
    // initialised. On the transport's loop.
    int End();
    // The stored state, or -1 when not initialised. Any thread.
    int GetConnectionState() const;
    // Queues a copy of cmd for delivery; it leaves the queues when its reply arrives. Non-zero
    // when the copy was handed to the transport window. Any thread; may wait (up to 100 s on
    // the process clock) while more than kMaxInQueue commands are queued.
    int QueueCtrlAckCmd(const DeviceToSkypeCmd& cmd);
    // Indexed by STL_CNT_*.
    std::array<int, STL_CNT_COUNT> GetDebugCounters() const;
    void ResetDebugCounters();
    // Commands not yet sent, and sent ones waiting for their reply. On the transport's loop.
    int GetInQueueCount() const { return static_cast<int>(m_qIn.size()); }
    int GetWaitQueueCount() const { return static_cast<int>(m_qWait.size()); }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void SetConnectionState(int state);
    void Discover();
    void StartReconnectTimer(uint32_t ms);
    void SendNextAckCmdIfPossible();
    void ReQueAllWaitAckCmds();
    void ClearAllCmdQueues();
    void CheckIfTimeoutOnWaitingAckCmd();
    void OnConnect();
    void OnDisconnect();
    void OnAttach(HWND hWndSkype, LPARAM status);
    void OnTimer(UINT id);
    LRESULT OnCopyData(HWND hWndFrom, const COPYDATASTRUCT* pBlock);
    void OnQueueCmd(std::unique_ptr<DeviceToSkypeCmd> pCmd);

    std::atomic<int> m_nState{STL_NOT_STARTED};
    // The window's own handle, for the threads that post to it (CWindow's is the loop's alone).
    std::atomic<HWND> m_hWndSelf{0};
    CMsgLoop* m_pLoop = nullptr;
    bool m_bSenderStarted = false;
    std::unique_ptr<CSTLSndr> m_pSender;
    std::atomic<bool> m_bInitialised{false};
    std::atomic<bool> m_bReconnect{false};
    IConnectionStateSink* m_pStateSink = nullptr;
    ISkypeCmdSink* m_pCmdSink = nullptr;
    HWND m_hWndSkypeAPI = 0;
    int m_nWindowSize = 1;
    std::atomic<int> m_nDiscoverAttempts{0};
    DeviceToSkypeCmd m_cmdKeepAlive;
    std::deque<std::unique_ptr<DeviceToSkypeCmd>> m_qIn;
    std::deque<std::unique_ptr<DeviceToSkypeCmd>> m_qWait;
    std::atomic<int> m_nInQueueCount{0};  // read by QueueCtrlAckCmd on other threads
    UINT m_uMsgDiscover = 0;
    UINT m_uMsgAttach = 0;
    std::array<int, STL_CNT_LINES_SENT> m_anCounters{};
};

// The one transport of the program, published by the call handler.
extern CSTL* g_pSTL;
