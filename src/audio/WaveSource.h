#pragma once
// What every source of PCM blocks shares: its format and buffer period, the list of sinks it
// feeds, the completion notice and the state scale used by sources and sinks alike.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/WaveFormat.h"
#include "platform/Sync.h"

enum : int {
    ST_IDLE = 0,     // nothing open
    ST_RUNNING = 1,  // delivering (source) or consuming (sink)
    ST_READY = 3,    // initialised or stopped
};

class CWaveSinkBase;

// Told when a source has delivered its last block, or a playback sink has played its last
// buffer. Called on the finishing object's thread.
class CWaveNotify {
public:
    virtual ~CWaveNotify() = default;
    virtual void NotifyStopped(void* who) = 0;
};

class CWaveSourceBase {
public:
    CWaveSourceBase();
    virtual ~CWaveSourceBase();
    CWaveSourceBase(const CWaveSourceBase&) = delete;
    CWaveSourceBase& operator=(const CWaveSourceBase&) = delete;

    virtual bool Start(CWaveNotify* notify) = 0;
    virtual bool Stop() = 0;

    // Refused (false, silently) until the concrete source is initialised.
    bool SinkAttach(CWaveSinkBase* sink);
    // Removes the first entry equal to sink; false when it is not listed.
    bool SinkRemove(CWaveSinkBase* sink);
    // Removes every remaining entry of sink, without a log line; for a sink that leaves.
    void SinkPurge(CWaveSinkBase* sink);
    // Delivers one block to every sink in attach order, holding the sink-list lock. A sink may
    // detach itself (or another sink) during its call.
    void SinkWriteAll(const void* data, uint32_t len);
    void SinkTerminateAll();
    // Returns once every sink has detached itself; relies on each sink doing so in Terminate.
    void WaitForAllSinksToRemoveThemselves();
    uint32_t GetSinkCount() const { return m_uSinkCount.load(); }

    const CWaveFormat* GetFormat() const { return m_pFormat.get(); }
    // Takes ownership and frees the record it replaces.
    void SetFormat(std::unique_ptr<CWaveFormat> format) { m_pFormat = std::move(format); }
    uint32_t GetBufferPeriod() const { return m_uBufferPeriod; }
    void SetBufferPeriod(uint32_t period) { m_uBufferPeriod = period; }
    void SetReady() { m_bReady = 1; }

protected:
    // Read by the delivering thread, written by the owner's thread.
    std::atomic<int> m_nState{ST_IDLE};
    std::atomic<CWaveNotify*> m_pNotify{nullptr};
    std::unique_ptr<CWaveFormat> m_pFormat;
    uint32_t m_uBufferPeriod = 0;
    std::atomic<int> m_bReady{0};

private:
    using SinkList = std::list<CWaveSinkBase*>;
    template <class F>
    void WalkSinks(F&& call);
    bool RemoveEntry(CWaveSinkBase* sink);

    SinkList m_SinkList;
    CCriticalSection m_csSinks;
    // Cursors of the walks in progress on the thread that holds m_csSinks; SinkRemove moves a
    // cursor off the entry it erases so the walk never touches a freed node.
    std::vector<SinkList::iterator*> m_vWalkCursors;
    std::atomic<uint32_t> m_uSinkCount{0};
    // Wakes WaitForAllSinksToRemoveThemselves when a sink leaves.
    std::mutex m_mDetach;
    std::condition_variable m_cvDetach;
};
