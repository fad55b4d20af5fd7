#include "platform/audio/WaveDevice.h"

#include <mutex>
#include <utility>

#include "platform/audio/VirtualWave.h"

namespace {
std::mutex g_mBackend;
std::unique_ptr<IWaveBackend> g_pBackend;
}  // namespace

std::string WaveErrorText(MMRESULT code) {
    switch (code) {
        case MMSYSERR_NOERROR:
            return "The operation succeeded.";
        case MMSYSERR_ERROR:
            return "The audio device reported an unspecified error.";
        case MMSYSERR_BADDEVICEID:
            return "There is no audio device with this id.";
        case MMSYSERR_ALLOCATED:
            return "The audio device is already in use.";
        case MMSYSERR_INVALHANDLE:
            return "The audio device handle is not valid.";
        case MMSYSERR_NODRIVER:
            return "The audio device is no longer available.";
        case MMSYSERR_NOMEM:
            return "There is not enough memory for the audio device.";
        case MMSYSERR_INVALPARAM:
            return "An invalid parameter was passed to the audio device.";
        case WAVERR_BADFORMAT:
            return "The audio device does not support this format.";
        case WAVERR_STILLPLAYING:
            return "Buffers are still queued on the audio device; reset it first.";
        case WAVERR_UNPREPARED:
            return "The buffer was not prepared for the audio device.";
        default:
            return "Unknown audio device error " + std::to_string(code) + ".";
    }
}

IWaveBackend& WaveDevices() {
    std::lock_guard g(g_mBackend);
    if (!g_pBackend)
        g_pBackend = CreateVirtualWaveBackend();
    return *g_pBackend;
}

void SetWaveBackend(std::unique_ptr<IWaveBackend> backend) {
    std::unique_ptr<IWaveBackend> old;
    {
        std::lock_guard g(g_mBackend);
        old = std::exchange(g_pBackend, std::move(backend));
    }
    // The old backend (and its device thread) ends here, outside the lock.
}
