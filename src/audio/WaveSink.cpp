#include "audio/WaveSink.h"

#include "app/Logger.h"

CWaveSinkBase::~CWaveSinkBase() {
    if (m_pWaveSource.load() != nullptr)
        WaveSourceRemove();
}

bool CWaveSinkBase::WaveSourceAttach(CWaveSourceBase* source) {
    VLOG(INFO, "CWaveSinkBase[%8.8x]::WaveSourceAttach [hWvSrc: %#x]", LogAddr(this),
         LogAddr(source));
    // A sink feeds from one source: leaving the previous one keeps it from holding a pointer
    // to this sink after the sink is gone.
    CWaveSourceBase* previous = m_pWaveSource.exchange(source);
    if (previous != nullptr && previous != source) {
        previous->SinkRemove(this);
        previous->SinkPurge(this);
    }
    if (source == nullptr)
        return false;
    return source->SinkAttach(this);
}

void CWaveSinkBase::WaveSourceRemove() {
    CWaveSourceBase* source = m_pWaveSource.exchange(nullptr);
    VLOG(INFO, "CWaveSinkBase[%8.8x]::WaveSourceRemove [hWvSrc: %#x]", LogAddr(this),
         LogAddr(source));
    if (source != nullptr) {
        source->SinkRemove(this);
        source->SinkPurge(this);  // a sink listed twice leaves entirely
    }
}
