#include "audio/WaveSource.h"

#include <algorithm>
#include <limits>

#include "app/Logger.h"
#include "audio/WaveSink.h"
#include "platform/Clock.h"

CWaveSourceBase::CWaveSourceBase() = default;

CWaveSourceBase::~CWaveSourceBase() {
    SinkTerminateAll();
    WaitForAllSinksToRemoveThemselves();
}

bool CWaveSourceBase::SinkAttach(CWaveSinkBase* sink) {
    if (!m_bReady)
        return false;
    VLOG(INFO, "CWaveSourceBase[%8.8x]::SinkAttach [%#x]", LogAddr(this), LogAddr(sink));
    std::lock_guard g(m_csSinks);
    m_SinkList.push_back(sink);
    m_uSinkCount.store(static_cast<uint32_t>(m_SinkList.size()));
    return true;
}

bool CWaveSourceBase::SinkRemove(CWaveSinkBase* sink) {
    VLOG(INFO, "CWaveSourceBase[%8.8x]::SinkRemove [%#x]", LogAddr(this), LogAddr(sink));
    return RemoveEntry(sink);
}

void CWaveSourceBase::SinkPurge(CWaveSinkBase* sink) {
    while (RemoveEntry(sink)) {
    }
}

bool CWaveSourceBase::RemoveEntry(CWaveSinkBase* sink) {
    std::lock_guard g(m_csSinks);
    const auto it = std::find(m_SinkList.begin(), m_SinkList.end(), sink);
    if (it == m_SinkList.end())
        return false;
    for (SinkList::iterator* cursor : m_vWalkCursors)
        if (*cursor == it)
            ++*cursor;
    m_SinkList.erase(it);
    // Count and wake-up under the waiter's mutex, so the waiter cannot see the count drop and
    // destroy the source before this notice is out.
    std::lock_guard d(m_mDetach);
    m_uSinkCount.store(static_cast<uint32_t>(m_SinkList.size()));
    m_cvDetach.notify_all();
    return true;
}

template <class F>
void CWaveSourceBase::WalkSinks(F&& call) {
    std::lock_guard g(m_csSinks);
    SinkList::iterator next = m_SinkList.begin();
    m_vWalkCursors.push_back(&next);
    while (next != m_SinkList.end()) {
        CWaveSinkBase* sink = *next;
        ++next;  // read before the call: the sink may leave the list during it
        call(sink);
    }
    m_vWalkCursors.erase(std::find(m_vWalkCursors.begin(), m_vWalkCursors.end(), &next));
}

void CWaveSourceBase::SinkWriteAll(const void* data, uint32_t len) {
    WalkSinks([&](CWaveSinkBase* sink) { sink->WriteBuffer(data, len); });
}

void CWaveSourceBase::SinkTerminateAll() {
    WalkSinks([](CWaveSinkBase* sink) { sink->Terminate(); });
}

void CWaveSourceBase::WaitForAllSinksToRemoveThemselves() {
    VLOG(INFO, "CWaveSourceBase[%8.8x]::WaitForAllSinksToRemoveThemselves", LogAddr(this));
    {
        std::unique_lock lk(m_mDetach);
        Clock().WaitUntil(lk, m_cvDetach, std::numeric_limits<uint64_t>::max(),
                          [this] { return m_uSinkCount.load() == 0; });
    }
    // The last sink to leave may still be on its way out of the list lock.
    std::lock_guard g(m_csSinks);
}
