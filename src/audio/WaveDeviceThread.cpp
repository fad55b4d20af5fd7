#include "audio/WaveDeviceThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {
std::mutex g_mAlive;
std::condition_variable g_cvAlive;
size_t g_uAlive = 0;

// Waits for each handed-over thread to end, then deletes its object. Plain waits throughout:
// it must not depend on a test's manual clock.
class CReaper {
public:
    ~CReaper() {
        {
            std::lock_guard g(m_m);
            m_bQuit = true;
            m_cv.notify_all();
        }
        if (m_thread.joinable())
            m_thread.join();
    }
    void Add(CMsgThread* p) {
        std::lock_guard g(m_m);
        m_queue.push_back(p);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
        m_cv.notify_all();
    }

private:
    void Run() {
        std::unique_lock lk(m_m);
        for (;;) {
            m_cv.wait(lk, [this] { return m_bQuit || !m_queue.empty(); });
            if (m_queue.empty())
                return;  // quitting, and everything handed over is gone
            CMsgThread* p = m_queue.front();
            m_queue.pop_front();
            lk.unlock();
            p->WaitForExit();
            delete p;
            lk.lock();
        }
    }

    std::mutex m_m;
    std::condition_variable m_cv;
    std::deque<CMsgThread*> m_queue;
    bool m_bQuit = false;
    std::thread m_thread;
};

CReaper& Reaper() {
    static CReaper s_reaper;
    return s_reaper;
}
}  // namespace

CWaveDeviceThread::CWaveDeviceThread() {
    std::lock_guard g(g_mAlive);
    ++g_uAlive;
}

CWaveDeviceThread::~CWaveDeviceThread() {
    std::lock_guard g(g_mAlive);
    --g_uAlive;
    g_cvAlive.notify_all();
}

void CWaveDeviceThread::WaitAlive(size_t n) {
    std::unique_lock lk(g_mAlive);
    g_cvAlive.wait(lk, [n] { return g_uAlive <= n; });
}

void CWaveDeviceThread::EndThreadAndDispose() {
    Quit();
    Reaper().Add(this);
}
