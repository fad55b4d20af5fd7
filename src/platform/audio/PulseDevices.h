#pragma once
// The sinks (playback) and sources (recording) of the server, with ids that stay the same for
// the life of the list: a device seen again under its server name keeps its id, a new one gets
// the next id, and one that went away keeps its place (and name) but is marked absent.
#include <string>
#include <vector>

#include "platform/audio/PulseContext.h"
#include "platform/audio/WaveDevice.h"

struct CPulseDevice {
    std::string strName;         // the server's name, used to open it
    std::string strDescription;  // what the user sees
    bool bPresent = true;
};

class CPulseDeviceList {
public:
    // Lock held. Re-reads the devices of the kind; false (list unchanged) when the server does
    // not answer.
    bool Refresh(CPulseContext& ctx, EWaveKind kind);
    const std::vector<CPulseDevice>& Devices(EWaveKind kind) const {
        return kind == EWaveKind::Out ? m_out : m_in;
    }

private:
    void Merge(std::vector<CPulseDevice>& known, const std::vector<CPulseDevice>& now);

    std::vector<CPulseDevice> m_out;
    std::vector<CPulseDevice> m_in;
};
