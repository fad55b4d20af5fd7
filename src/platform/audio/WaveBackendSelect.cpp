#include <cstdlib>

#include "platform/audio/PulseWave.h"
#include "platform/audio/VirtualWave.h"
#include "platform/audio/WaveDevice.h"

bool SelectWaveBackend(const std::string& name) {
    std::string chosen = name;
    if (chosen.empty()) {
        const char* env = std::getenv("VOKRA_AUDIO");
        chosen = env ? env : "";
    }
    if (chosen == "virtual") {
        SetWaveBackend(CreateVirtualWaveBackend());
        return true;
    }
    if (chosen != "pulse" && !chosen.empty())
        return false;
    std::string error;
    if (auto pPulse = CreatePulseWaveBackend(&error)) {
        SetWaveBackend(std::move(pPulse));
        return true;
    }
    // Asked for by name, pulse must answer; by default the embedded devices serve instead.
    if (chosen == "pulse")
        return false;
    SetWaveBackend(CreateVirtualWaveBackend());
    return true;
}
