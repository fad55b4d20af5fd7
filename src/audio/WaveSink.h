#pragma once
// What every sink of PCM blocks shares: its state, the notice target of its current stop
// request and the source it is attached to.
#include <atomic>
#include <cstdint>

#include "audio/WaveSource.h"

class CWaveSinkBase {
public:
    CWaveSinkBase() = default;
    // Detaches from the source if still attached. A derived sink that can receive blocks on
    // another thread detaches in its own destructor, before its part of the object is gone.
    virtual ~CWaveSinkBase();
    CWaveSinkBase(const CWaveSinkBase&) = delete;
    CWaveSinkBase& operator=(const CWaveSinkBase&) = delete;

    // One block in the source's format, valid only during the call; called on the source's
    // delivering thread with its sink-list lock held.
    virtual void WriteBuffer(const void* data, uint32_t len) = 0;
    // The source is being destroyed: detach now.
    virtual void Terminate() = 0;
    virtual bool Start() = 0;
    virtual bool Stop(CWaveNotify* notify) = 0;

    // The pointer is kept even when the source refuses the sink.
    bool WaveSourceAttach(CWaveSourceBase* source);
    // Leaves the source entirely (every entry of this sink in its list).
    void WaveSourceRemove();
    CWaveSourceBase* GetWaveSource() const { return m_pWaveSource.load(); }
    int GetState() const { return m_nState.load(); }

protected:
    std::atomic<int> m_nState{ST_IDLE};
    CWaveNotify* m_pNotify = nullptr;
    std::atomic<CWaveSourceBase*> m_pWaveSource{nullptr};
};
