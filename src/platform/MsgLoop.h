#pragma once
// Message loops, threads with message queues, windows and window timers.
//
// A CMsgLoop is a queue of posted messages, a queue of sent (synchronous) messages and a table
// of window timers, handled one at a time on the loop's owner thread. It runs either on its own
// thread (CMsgThread, or Run()) or is driven from outside: WakeFd() becomes readable when there
// is work, Pump() runs what is due, NextDeadlineMs() says when the next timer falls due. That is
// how the tray program drives the user-interface loop from Qt, and how tests drive it under a
// manual clock.
//
// Ownership of posted objects: an object posted with a message (the unique_ptr overloads)
// belongs to the message. Its address travels in wParam; the handler takes it with
// TakePayload<T>(wParam). Whatever is not taken is freed after the handler returns, and a
// message that is never handled (its loop closed, its window gone) frees it too.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"

class CPayload {
public:
    virtual ~CPayload() = default;
    virtual void* Get() const = 0;
};

template <class T>
class TPayload final : public CPayload {
public:
    explicit TPayload(std::unique_ptr<T> p) : m_p(std::move(p)) {}
    void* Get() const override { return m_p.get(); }
    std::unique_ptr<T> Take() { return std::move(m_p); }

private:
    std::unique_ptr<T> m_p;
};

struct MSG {
    HWND hwnd = 0;  // 0: a thread message
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::unique_ptr<CPayload> payload;  // owned object, its address in wParam
};

namespace detail {
CPayload* CurrentPayload();  // payload of the message being handled on this thread
}

// Takes ownership of the object that came with the message now being handled on this thread.
// Null when the message carried no object of type T at address wParam (or it was taken).
template <class T>
std::unique_ptr<T> TakePayload(WPARAM wParam) {
    auto* p = dynamic_cast<TPayload<T>*>(detail::CurrentPayload());
    if (!p || p->Get() != reinterpret_cast<void*>(wParam))
        return nullptr;
    return p->Take();
}

template <class T>
MSG MakeOwnedMsg(HWND hwnd, UINT message, std::unique_ptr<T> obj, LPARAM lParam) {
    MSG m;
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = reinterpret_cast<WPARAM>(obj.get());
    m.lParam = lParam;
    if (obj)
        m.payload = std::make_unique<TPayload<T>>(std::move(obj));
    return m;
}

struct CLoopCore;

class CMsgLoop {
public:
    CMsgLoop();
    // Closes the loop (see Close).
    virtual ~CMsgLoop();
    CMsgLoop(const CMsgLoop&) = delete;
    CMsgLoop& operator=(const CMsgLoop&) = delete;

    // Any thread. False when the loop is closed; the message (and its object) is then freed.
    bool PostThreadMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    template <class T>
    bool PostThreadMessage(UINT message, std::unique_ptr<T> obj, LPARAM lParam = 0) {
        return Post(MakeOwnedMsg(0, message, std::move(obj), lParam));
    }
    bool Post(MSG&& msg);

    // Receives the thread messages (hwnd 0) other than WM_QUIT.
    void SetThreadMessageHandler(std::function<void(UINT, WPARAM, LPARAM)> handler);

    // The calling thread becomes the owner. Run and Pump bind on first use.
    void Bind();
    // Handles messages and timers until WM_QUIT; returns its wParam. Waits on the process clock.
    int Run();
    // Posts WM_QUIT.
    void Quit(int exitCode = 0);
    // Runs the sent messages, the posted messages that were queued when it began, and every
    // timer that is due (each at most once). Returns how many were handled.
    int Pump();
    // Pumps until nothing is left that is due now.
    int PumpUntilIdle();
    bool QuitReceived() const;
    int WakeFd() const;
    // When something is next due, on the process clock: now if messages wait, UINT64_MAX if
    // nothing is pending at all. After WM_QUIT only sent messages count (nothing else will run).
    uint64_t NextDeadlineMs() const;
    bool IsOwnerThread() const;
    // Stops accepting messages, frees those still queued, fails the senders waiting on it and
    // unregisters its windows (a send to them then fails at once). Idempotent.
    void Close();
    bool IsClosed() const;

    // The loop bound to the calling thread, if any.
    static CMsgLoop* Current();

    const std::shared_ptr<CLoopCore>& Core() const { return m_core; }

private:
    std::shared_ptr<CLoopCore> m_core;
};

// A worker thread that runs its own CMsgLoop. Derived classes handle thread messages in
// OnThreadMessage, and must call StopThread() in their own destructor if the thread may still
// run then (the loop calls their virtual functions).
class CMsgThread {
public:
    CMsgThread();
    virtual ~CMsgThread();
    CMsgThread(const CMsgThread&) = delete;
    CMsgThread& operator=(const CMsgThread&) = delete;

    // Starts the thread; returns once its loop accepts messages. False if already started or
    // InitInstance failed.
    bool CreateThread();
    bool PostThreadMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return m_loop.PostThreadMessage(message, wParam, lParam);
    }
    template <class T>
    bool PostThreadMessage(UINT message, std::unique_ptr<T> obj, LPARAM lParam = 0) {
        return m_loop.PostThreadMessage(message, std::move(obj), lParam);
    }
    void Quit(int exitCode = 0) { m_loop.Quit(exitCode); }
    // Waits (process clock) for the thread to end; true if it has.
    bool WaitForExit(uint32_t ms = INFINITE);
    // Quit and join.
    void StopThread();
    bool IsRunning() const;
    uint32_t ThreadId() const { return m_uThreadId; }
    CMsgLoop& Loop() { return m_loop; }

protected:
    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }
    virtual void OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    CMsgLoop m_loop;
    uint32_t m_uThreadId = 0;
};

// A window: a handle in the process's window registry, a title, a window procedure run on the
// owning loop's thread, and window timers. Create and destroy it on the loop's owner thread (or
// after that loop has ended).
class CWindow {
public:
    CWindow() = default;
    virtual ~CWindow();
    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;

    bool CreateWindowOn(CMsgLoop& loop, const std::string& title, bool bTopLevel = true);
    void DestroyWindow();
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Starts timer id with the period, or restarts it when it runs. It first fires period ms
    // from now, then every period ms (at least 10 ms apart) until killed, as WM_TIMER with
    // wParam = id. Any thread.
    bool SetTimer(UINT id, uint32_t periodMs);
    bool KillTimer(UINT id);
    bool IsTimerSet(UINT id) const;

    bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Called for every message the window receives. Public so the loop can dispatch; not for
    // direct calls.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    HWND m_hWnd = 0;
    std::shared_ptr<CLoopCore> m_core;
};

// Window registry operations (any thread).
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
template <class T>
bool PostMessage(HWND hwnd, UINT message, std::unique_ptr<T> obj, LPARAM lParam = 0);
bool PostOwnedMessage(MSG&& msg);
template <class T>
bool PostMessage(HWND hwnd, UINT message, std::unique_ptr<T> obj, LPARAM lParam) {
    return PostOwnedMessage(MakeOwnedMsg(hwnd, message, std::move(obj), lParam));
}
// Posts a thread message to the loop that the thread with this id (GetCurrentThreadId) bound
// last. False, and the message dropped, when no live loop belongs to that thread: an unknown id,
// or a thread whose loop has been closed (a CMsgThread closes its loop as it ends).
bool PostThreadMessage(uint32_t threadId, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// Synchronous: runs the window procedure on its owner thread and returns its result; blocks the
// caller until then, while handling messages sent to the caller's own loop. No value when the
// window does not exist or its loop has ended (also while waiting): never a hang.
std::optional<LRESULT> SendMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
bool IsWindow(HWND hwnd);
// Window timers by handle, for code that holds only another window's handle (any thread).
bool SetTimer(HWND hwnd, UINT id, uint32_t periodMs);
bool KillTimer(HWND hwnd, UINT id);
HWND FindWindowByTitle(const std::string& title);
std::vector<HWND> TopLevelWindows();
// Registered messages: the same name always gives the same number (0xC000 and up).
UINT RegisterWindowMessage(const std::string& name);

// Test helper: with a manual clock installed, advances time by ms in steps from one due timer
// to the next, pumping the given loops at each step until they are idle.
class CManualClock;
void PumpFor(CManualClock& clock, std::initializer_list<CMsgLoop*> loops, uint64_t ms);
