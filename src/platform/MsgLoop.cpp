#include "platform/MsgLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/Clock.h"
#include "platform/Sync.h"

namespace {
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr uint32_t kMinTimerRepeatMs = 10;

// The message being handled on this thread (for TakePayload), and the loop bound to it.
thread_local MSG* t_pCurrentMsg = nullptr;
thread_local CMsgLoop* t_pCurrentLoop = nullptr;
// Every loop this thread has bound. A thread may drive several (tests do): a send to a window of
// any of them runs at once, and while the thread waits in a send it serves sends to all of them.
// Weak: a loop destroyed by another thread simply drops out.
thread_local std::vector<std::weak_ptr<CLoopCore>> t_boundCores;

struct CSendRequest {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::mutex m;
    std::condition_variable cv;
    bool bDone = false;
    bool bOk = false;
    LRESULT result = 0;

    void Complete(bool ok, LRESULT r) {
        std::lock_guard g(m);
        bDone = true;
        bOk = ok;
        result = r;
        cv.notify_all();
    }
};
}  // namespace

namespace detail {
CPayload* CurrentPayload() {
    return t_pCurrentMsg ? t_pCurrentMsg->payload.get() : nullptr;
}
}  // namespace detail

struct CLoopCore {
    struct Timer {
        HWND hwnd;
        UINT id;
        uint32_t period;
        uint64_t due;
        uint64_t seq;  // order among timers due at the same moment
    };

    mutable std::mutex m;
    std::condition_variable cv;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<CSendRequest>> sent;
    std::atomic<int> nIncomingSends{0};
    std::shared_ptr<CSendRequest> waitingOn;  // the send the owner thread is blocked in
    std::vector<Timer> timers;
    uint64_t timerSeq = 0;
    bool bClosed = false;
    bool bQuit = false;
    int nExitCode = 0;
    std::thread::id owner;
    uint32_t uOwnerTid = 0;  // kernel id of the owner, the key of the thread-id registry
    bool bBound = false;
    std::function<void(UINT, WPARAM, LPARAM)> threadHandler;
    int wakeFd = -1;
    std::atomic<bool> bWakePending{false};

    CLoopCore() { wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
    ~CLoopCore() {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    // Called with m held, after queueing something.
    void WakeLocked() {
        cv.notify_all();
        if (wakeFd >= 0 && !bWakePending.exchange(true)) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t r = ::write(wakeFd, &one, sizeof one);
        }
    }

    void DrainWake() {
        bWakePending.store(false);
        if (wakeFd >= 0) {
            uint64_t v;
            while (::read(wakeFd, &v, sizeof v) > 0) {
            }
        }
    }

    bool Post(MSG&& msg) {
        std::unique_lock lk(m);
        if (bClosed) {
            lk.unlock();
            MSG dropped = std::move(msg);  // frees its object outside the lock
            return false;
        }
        posted.push_back(std::move(msg));
        WakeLocked();
        return true;
    }

    bool QueueSend(const std::shared_ptr<CSendRequest>& req) {
        std::shared_ptr<CSendRequest> waiter;
        {
            std::lock_guard g(m);
            if (bClosed)
                return false;
            sent.push_back(req);
            nIncomingSends.fetch_add(1);
            waiter = waitingOn;
            WakeLocked();
        }
        // The owner may itself be blocked in a send: wake it so it can handle ours meanwhile.
        if (waiter) {
            std::lock_guard g(waiter->m);
            waiter->cv.notify_all();
        }
        return true;
    }

    bool IsOwner() const {
        std::lock_guard g(m);
        return bBound && owner == std::this_thread::get_id();
    }
};

// ---------------------------------------------------------------------------------------------
// Window registry

namespace {
struct WndEntry {
    CWindow* pWnd;
    std::shared_ptr<CLoopCore> core;
    std::string title;
    bool bTopLevel;
};

std::mutex g_mRegistry;
std::map<HWND, WndEntry> g_windows;
HWND g_nextHwnd = 0x10000;  // above HWND_BROADCAST; never reused
std::map<std::string, UINT> g_registeredMessages;

// Thread messages by thread id: the loop each thread bound last. Weak, so a loop destroyed
// without closing (it always closes) could never be posted to.
std::map<uint32_t, std::weak_ptr<CLoopCore>> g_threadLoops;

void RegisterThreadLoop(uint32_t tid, const std::shared_ptr<CLoopCore>& core) {
    std::lock_guard g(g_mRegistry);
    g_threadLoops[tid] = core;
}

void UnregisterThreadLoop(uint32_t tid, const CLoopCore* core) {
    std::lock_guard g(g_mRegistry);
    auto it = g_threadLoops.find(tid);
    if (it != g_threadLoops.end() && it->second.lock().get() == core)
        g_threadLoops.erase(it);
}

bool LookupWindow(HWND hwnd, CWindow** ppWnd, std::shared_ptr<CLoopCore>* core) {
    std::lock_guard g(g_mRegistry);
    auto it = g_windows.find(hwnd);
    if (it == g_windows.end())
        return false;
    if (ppWnd)
        *ppWnd = it->second.pWnd;
    if (core)
        *core = it->second.core;
    return true;
}

void UnregisterWindowsOf(const CLoopCore* core) {
    std::lock_guard g(g_mRegistry);
    for (auto it = g_windows.begin(); it != g_windows.end();) {
        if (it->second.core.get() == core)
            it = g_windows.erase(it);
        else
            ++it;
    }
}

// Runs a message on the current (owner) thread.
LRESULT Dispatch(CLoopCore& core, MSG& msg) {
    MSG* saved = t_pCurrentMsg;
    t_pCurrentMsg = &msg;
    LRESULT r = 0;
    if (msg.hwnd == 0) {
        std::function<void(UINT, WPARAM, LPARAM)> handler;
        {
            std::lock_guard g(core.m);
            handler = core.threadHandler;
        }
        if (handler)
            handler(msg.message, msg.wParam, msg.lParam);
    } else {
        CWindow* pWnd = nullptr;
        std::shared_ptr<CLoopCore> owner;
        if (LookupWindow(msg.hwnd, &pWnd, &owner) && owner.get() == &core)
            r = pWnd->WindowProc(msg.message, msg.wParam, msg.lParam);
    }
    t_pCurrentMsg = saved;
    return r;
}

// Handles every message sent to this loop; returns how many.
int ProcessSent(CLoopCore& core) {
    int n = 0;
    for (;;) {
        std::shared_ptr<CSendRequest> req;
        {
            std::lock_guard g(core.m);
            if (core.sent.empty())
                break;
            req = std::move(core.sent.front());
            core.sent.pop_front();
            core.nIncomingSends.fetch_sub(1);
        }
        MSG msg;
        msg.hwnd = req->hwnd;
        msg.message = req->message;
        msg.wParam = req->wParam;
        msg.lParam = req->lParam;
        CWindow* pWnd = nullptr;
        std::shared_ptr<CLoopCore> owner;
        if (LookupWindow(req->hwnd, &pWnd, &owner) && owner.get() == &core)
            req->Complete(true, Dispatch(core, msg));
        else
            req->Complete(false, 0);
        ++n;
    }
    return n;
}

// The live loops this thread owns now.
std::vector<std::shared_ptr<CLoopCore>> CoresOfThisThread() {
    std::vector<std::shared_ptr<CLoopCore>> mine;
    for (auto it = t_boundCores.begin(); it != t_boundCores.end();) {
        std::shared_ptr<CLoopCore> core = it->lock();
        if (!core) {
            it = t_boundCores.erase(it);
            continue;
        }
        if (core->IsOwner())
            mine.push_back(std::move(core));
        ++it;
    }
    return mine;
}

// Waits until req is done, handling meanwhile what is sent to this thread's loops: a thread
// that sends to us while we wait for it would otherwise wait for us for ever.
void WaitServingSends(const std::shared_ptr<CSendRequest>& req) {
    const std::vector<std::shared_ptr<CLoopCore>> mine = CoresOfThisThread();
    // The sends we are nested in, while handling a send.
    std::vector<std::shared_ptr<CSendRequest>> outer(mine.size());
    for (size_t i = 0; i < mine.size(); ++i) {
        std::lock_guard g(mine[i]->m);
        outer[i] = std::exchange(mine[i]->waitingOn, req);
    }
    for (;;) {
        {
            std::unique_lock lk(req->m);
            Clock().WaitUntil(lk, req->cv, kNever, [&] {
                return req->bDone || std::any_of(mine.begin(), mine.end(), [](const auto& c) {
                           return c->nIncomingSends.load() > 0;
                       });
            });
            if (req->bDone)
                break;
        }
        // Someone sent to us while we wait: handle it, or two threads sending to each other
        // would wait forever.
        for (const auto& c : mine)
            ProcessSent(*c);
    }
    for (size_t i = 0; i < mine.size(); ++i) {
        std::lock_guard g(mine[i]->m);
        mine[i]->waitingOn = outer[i];
    }
}

void CloseCore(const std::shared_ptr<CLoopCore>& core) {
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<CSendRequest>> sent;
    uint32_t tid = 0;
    {
        std::lock_guard g(core->m);
        if (core->bClosed)
            return;
        core->bClosed = true;
        posted.swap(core->posted);
        sent.swap(core->sent);
        core->nIncomingSends.store(0);
        core->timers.clear();
        core->threadHandler = nullptr;
        tid = core->uOwnerTid;
        core->WakeLocked();
    }
    UnregisterWindowsOf(core.get());
    if (tid != 0)
        UnregisterThreadLoop(tid, core.get());
    for (auto& req : sent)
        req->Complete(false, 0);
    // `posted` frees the undelivered messages and their objects here.
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// CMsgLoop

CMsgLoop::CMsgLoop() : m_core(std::make_shared<CLoopCore>()) {}

CMsgLoop::~CMsgLoop() {
    Close();
    if (t_pCurrentLoop == this)
        t_pCurrentLoop = nullptr;
}

bool CMsgLoop::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    return m_core->Post(std::move(m));
}

bool CMsgLoop::Post(MSG&& msg) {
    return m_core->Post(std::move(msg));
}

void CMsgLoop::SetThreadMessageHandler(std::function<void(UINT, WPARAM, LPARAM)> handler) {
    std::lock_guard g(m_core->m);
    m_core->threadHandler = std::move(handler);
}

void CMsgLoop::Bind() {
    const uint32_t tid = GetCurrentThreadId();
    uint32_t previousTid = 0;
    bool bClosed = false;
    {
        std::lock_guard g(m_core->m);
        m_core->owner = std::this_thread::get_id();
        previousTid = std::exchange(m_core->uOwnerTid, tid);
        m_core->bBound = true;
        bClosed = m_core->bClosed;
    }
    if (previousTid != 0 && previousTid != tid)
        UnregisterThreadLoop(previousTid, m_core.get());
    if (!bClosed)
        RegisterThreadLoop(tid, m_core);
    t_pCurrentLoop = this;
    const bool known = std::any_of(t_boundCores.begin(), t_boundCores.end(),
                                   [this](const auto& w) { return w.lock() == m_core; });
    if (!known)
        t_boundCores.push_back(m_core);
}

int CMsgLoop::Pump() {
    CLoopCore& core = *m_core;
    if (!core.IsOwner())
        Bind();
    core.DrainWake();
    int n = ProcessSent(core);

    // Posted messages that were queued when we began; later ones wait for the next pump.
    size_t budget;
    {
        std::lock_guard g(core.m);
        budget = core.posted.size();
    }
    while (budget-- > 0) {
        MSG msg;
        {
            std::lock_guard g(core.m);
            if (core.posted.empty() || core.bQuit)
                break;
            msg = std::move(core.posted.front());
            core.posted.pop_front();
        }
        if (msg.hwnd == 0 && msg.message == WM_QUIT) {
            std::lock_guard g(core.m);
            core.bQuit = true;
            core.nExitCode = static_cast<int>(msg.wParam);
            ++n;
            break;
        }
        Dispatch(core, msg);
        ++n;
        n += ProcessSent(core);
    }

    // Timers due now, earliest first, each at most once per pump. A handler may kill or re-arm
    // any timer, so each one is looked up again before it fires.
    struct Due {
        uint64_t due, seq;
        HWND hwnd;
        UINT id;
    };
    std::vector<Due> due;
    {
        std::lock_guard g(core.m);
        if (core.bQuit)
            return n;
        const uint64_t now = Clock().NowMs();
        for (const auto& t : core.timers)
            if (t.due <= now)
                due.push_back({t.due, t.seq, t.hwnd, t.id});
    }
    std::sort(due.begin(), due.end(), [](const Due& a, const Due& b) {
        return a.due != b.due ? a.due < b.due : a.seq < b.seq;
    });
    for (const Due& d : due) {
        {
            std::lock_guard g(core.m);
            if (core.bQuit || core.bClosed)
                break;
            const uint64_t now = Clock().NowMs();
            auto it = std::find_if(core.timers.begin(), core.timers.end(),
                                   [&](const auto& t) { return t.hwnd == d.hwnd && t.id == d.id; });
            // Killed or re-armed by an earlier handler of this pump: not this firing.
            if (it == core.timers.end() || it->due > now || it->seq != d.seq)
                continue;
            const uint64_t step = std::max(it->period, kMinTimerRepeatMs);
            it->due += step;
            if (it->due <= now)
                it->due = now + step;
        }
        MSG msg;
        msg.hwnd = d.hwnd;
        msg.message = WM_TIMER;
        msg.wParam = d.id;
        Dispatch(core, msg);
        ++n;
        n += ProcessSent(core);
    }
    return n;
}

int CMsgLoop::PumpUntilIdle() {
    int total = 0;
    for (;;) {
        const int n = Pump();
        total += n;
        if (QuitReceived())
            break;
        if (n == 0 && NextDeadlineMs() > Clock().NowMs())
            break;
    }
    return total;
}

int CMsgLoop::Run() {
    CLoopCore& core = *m_core;
    Bind();
    for (;;) {
        Pump();
        std::unique_lock lk(core.m);
        if (core.bQuit || core.bClosed) {
            core.bQuit = false;  // a loop may be run again after it returned
            return core.nExitCode;
        }
        uint64_t deadline = kNever;
        for (const auto& t : core.timers)
            deadline = std::min(deadline, t.due);
        // A timer set from another thread changes the deadline: wake up and recompute it.
        const uint64_t timerSeq = core.timerSeq;
        Clock().WaitUntil(lk, core.cv, deadline, [&core, timerSeq] {
            return !core.posted.empty() || !core.sent.empty() || core.bClosed ||
                   core.timerSeq != timerSeq;
        });
    }
}

void CMsgLoop::Quit(int exitCode) {
    PostThreadMessage(WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

bool CMsgLoop::QuitReceived() const {
    std::lock_guard g(m_core->m);
    return m_core->bQuit;
}

int CMsgLoop::WakeFd() const {
    return m_core->wakeFd;
}

uint64_t CMsgLoop::NextDeadlineMs() const {
    std::lock_guard g(m_core->m);
    if (!m_core->sent.empty())
        return Clock().NowMs();
    // After WM_QUIT a pump runs nothing but sends: a driver waiting for the rest would spin.
    if (m_core->bQuit)
        return kNever;
    if (!m_core->posted.empty())
        return Clock().NowMs();
    uint64_t deadline = kNever;
    for (const auto& t : m_core->timers)
        deadline = std::min(deadline, t.due);
    return deadline;
}

bool CMsgLoop::IsOwnerThread() const {
    return m_core->IsOwner();
}

void CMsgLoop::Close() {
    CloseCore(m_core);
}

bool CMsgLoop::IsClosed() const {
    std::lock_guard g(m_core->m);
    return m_core->bClosed;
}

CMsgLoop* CMsgLoop::Current() {
    return t_pCurrentLoop;
}

// ---------------------------------------------------------------------------------------------
// CMsgThread

struct CMsgThread::Impl {
    std::thread thread;
    CEvent evStarted{true, false};
    CEvent evExited{true, false};
    std::atomic<bool> bRunning{false};
    bool bInitOk = false;
    std::shared_ptr<CSendRequest> exited;  // done when the thread ends; StopThread waits on it
};

CMsgThread::CMsgThread() : m_impl(std::make_unique<Impl>()) {}

CMsgThread::~CMsgThread() {
    StopThread();
}

void CMsgThread::OnThreadMessage(UINT, WPARAM, LPARAM) {}

bool CMsgThread::CreateThread() {
    if (m_impl->thread.joinable())
        return false;
    m_impl->bRunning = true;
    m_impl->exited = std::make_shared<CSendRequest>();
    m_impl->thread = std::thread([this, exited = m_impl->exited] {
        m_loop.Bind();
        m_uThreadId = GetCurrentThreadId();
        m_loop.SetThreadMessageHandler(
            [this](UINT msg, WPARAM w, LPARAM l) { OnThreadMessage(msg, w, l); });
        m_impl->bInitOk = InitInstance();
        m_impl->evStarted.Set();
        if (m_impl->bInitOk) {
            m_loop.Run();
            ExitInstance();
        }
        m_loop.Close();
        m_impl->bRunning = false;
        m_impl->evExited.Set();
        exited->Complete(true, 0);
    });
    // Waiting for the start cannot depend on a manual clock: use no time limit.
    m_impl->evStarted.Wait(INFINITE);
    return m_impl->bInitOk;
}

bool CMsgThread::WaitForExit(uint32_t ms) {
    if (!m_impl->thread.joinable())
        return true;
    if (!m_impl->evExited.Wait(ms))
        return false;
    m_impl->thread.join();
    return true;
}

void CMsgThread::StopThread() {
    if (!m_impl->thread.joinable())
        return;
    if (m_impl->thread.get_id() == std::this_thread::get_id()) {
        m_impl->thread.detach();  // ending itself: nothing to wait for
        return;
    }
    m_loop.Quit();
    // The thread may be sending to this one as it ends: serve that send while waiting.
    WaitServingSends(m_impl->exited);
    m_impl->thread.join();
}

bool CMsgThread::IsRunning() const {
    return m_impl->bRunning.load();
}

// ---------------------------------------------------------------------------------------------
// CWindow

CWindow::~CWindow() {
    DestroyWindow();
}

bool CWindow::CreateWindowOn(CMsgLoop& loop, const std::string& title, bool bTopLevel) {
    if (m_hWnd != 0 || loop.IsClosed())
        return false;
    // As with any window system, a window belongs to the thread that creates it: a loop nobody
    // runs yet becomes that thread's.
    bool bBound;
    {
        std::lock_guard g(loop.Core()->m);
        bBound = loop.Core()->bBound;
    }
    if (!bBound)
        loop.Bind();
    std::lock_guard g(g_mRegistry);
    m_hWnd = g_nextHwnd++;
    m_core = loop.Core();
    g_windows[m_hWnd] = WndEntry{this, m_core, title, bTopLevel};
    return true;
}

void CWindow::DestroyWindow() {
    if (m_hWnd == 0)
        return;
    {
        std::lock_guard g(g_mRegistry);
        g_windows.erase(m_hWnd);
    }
    {
        std::lock_guard g(m_core->m);
        auto& t = m_core->timers;
        t.erase(
            std::remove_if(t.begin(), t.end(), [this](const auto& x) { return x.hwnd == m_hWnd; }),
            t.end());
    }
    m_hWnd = 0;
    m_core.reset();
}

bool CWindow::SetTimer(UINT id, uint32_t periodMs) {
    return ::SetTimer(m_hWnd, id, periodMs);
}

bool CWindow::KillTimer(UINT id) {
    return ::KillTimer(m_hWnd, id);
}

bool CWindow::IsTimerSet(UINT id) const {
    if (m_hWnd == 0)
        return false;
    std::lock_guard g(m_core->m);
    return std::any_of(m_core->timers.begin(), m_core->timers.end(),
                       [&](const auto& t) { return t.hwnd == m_hWnd && t.id == id; });
}

bool CWindow::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessage(m_hWnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// Registry operations

bool PostOwnedMessage(MSG&& msg) {
    if (msg.hwnd == HWND_BROADCAST) {
        // A broadcast carries no object: each window gets the same parameters.
        const MSG dropped = std::move(msg);
        bool any = false;
        for (HWND h : TopLevelWindows())
            any |= PostMessage(h, dropped.message, dropped.wParam, dropped.lParam);
        return any;
    }
    std::shared_ptr<CLoopCore> core;
    if (msg.hwnd == 0 || !LookupWindow(msg.hwnd, nullptr, &core)) {
        const MSG dropped = std::move(msg);
        return false;
    }
    return core->Post(std::move(msg));
}

bool PostThreadMessage(uint32_t threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<CLoopCore> core;
    {
        std::lock_guard g(g_mRegistry);
        auto it = g_threadLoops.find(threadId);
        if (it != g_threadLoops.end())
            core = it->second.lock();
    }
    if (!core)
        return false;
    MSG m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    return core->Post(std::move(m));
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m;
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    return PostOwnedMessage(std::move(m));
}

std::optional<LRESULT> SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWindow* pWnd = nullptr;
    std::shared_ptr<CLoopCore> core;
    if (!LookupWindow(hwnd, &pWnd, &core))
        return std::nullopt;

    if (core->IsOwner()) {
        MSG msg;
        msg.hwnd = hwnd;
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        return Dispatch(*core, msg);
    }

    auto req = std::make_shared<CSendRequest>();
    req->hwnd = hwnd;
    req->message = message;
    req->wParam = wParam;
    req->lParam = lParam;
    if (!core->QueueSend(req))
        return std::nullopt;

    WaitServingSends(req);
    if (!req->bOk)
        return std::nullopt;
    return req->result;
}

bool IsWindow(HWND hwnd) {
    return LookupWindow(hwnd, nullptr, nullptr);
}

bool SetTimer(HWND hwnd, UINT id, uint32_t periodMs) {
    std::shared_ptr<CLoopCore> core;
    if (!LookupWindow(hwnd, nullptr, &core))
        return false;
    std::lock_guard g(core->m);
    // Checked again under the loop's lock: a window destroyed meanwhile must not leave a timer.
    if (core->bClosed || !LookupWindow(hwnd, nullptr, nullptr))
        return false;
    const uint64_t due = Clock().NowMs() + periodMs;
    const uint64_t seq = ++core->timerSeq;
    auto& timers = core->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const auto& t) { return t.hwnd == hwnd && t.id == id; });
    if (it != timers.end())
        *it = CLoopCore::Timer{hwnd, id, periodMs, due, seq};
    else
        timers.push_back(CLoopCore::Timer{hwnd, id, periodMs, due, seq});
    core->WakeLocked();
    return true;
}

bool KillTimer(HWND hwnd, UINT id) {
    std::shared_ptr<CLoopCore> core;
    if (!LookupWindow(hwnd, nullptr, &core))
        return false;
    std::lock_guard g(core->m);
    auto& timers = core->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const auto& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end())
        return false;
    timers.erase(it);
    return true;
}

HWND FindWindowByTitle(const std::string& title) {
    std::lock_guard g(g_mRegistry);
    for (const auto& [h, e] : g_windows)
        if (e.bTopLevel && e.title == title)
            return h;
    return 0;
}

std::vector<HWND> TopLevelWindows() {
    std::lock_guard g(g_mRegistry);
    std::vector<HWND> v;
    for (const auto& [h, e] : g_windows)
        if (e.bTopLevel)
            v.push_back(h);
    return v;
}

UINT RegisterWindowMessage(const std::string& name) {
    std::lock_guard g(g_mRegistry);
    auto [it, inserted] = g_registeredMessages.try_emplace(
        name, static_cast<UINT>(0xC000 + g_registeredMessages.size()));
    return it->second;
}

void PumpFor(CManualClock& clock, std::initializer_list<CMsgLoop*> loops, uint64_t ms) {
    const uint64_t target = clock.NowMs() + ms;
    for (;;) {
        for (bool busy = true; busy;) {
            busy = false;
            for (CMsgLoop* l : loops)
                busy |= l->Pump() > 0;
        }
        uint64_t next = kNever;
        for (CMsgLoop* l : loops)
            next = std::min(next, l->NextDeadlineMs());
        const uint64_t now = clock.NowMs();
        if (next <= now)
            continue;
        if (next > target) {
            if (target > now)
                clock.Advance(target - now);
            for (CMsgLoop* l : loops)
                l->PumpUntilIdle();
            return;
        }
        clock.Advance(next - now);
    }
}
