#pragma once
// The two loopback cables on a PulseAudio (or PipeWire) server, made exactly as `scripts/cables
// up` makes them: per cable N a null sink "vokra_cableN" (the playback end) and a source
// "vokra_cableN_rec" remapped from that sink's monitor (the recording end), both described as
// "Vokra Virtual Cable N". A monitor is left out of recording lists; the remapped source is an
// ordinary recording device.
#include <array>
#include <string>

constexpr int kPulseCableCount = 2;

struct CPulseCableEnds {
    bool bPlayback = false;   // the null sink exists
    bool bRecording = false;  // the remapped source exists
};

struct CPulseCablesStatus {
    bool bServer = false;  // a server answered
    std::string strError;  // why not
    std::array<CPulseCableEnds, kPulseCableCount> cables;

    bool Complete() const;
    bool None() const;
};

// The server names of cable n's ends (n from 1).
std::string PulseCableSinkName(int n);
std::string PulseCableSourceName(int n);
// "Vokra Virtual Cable n".
std::string PulseCableDescription(int n);

CPulseCablesStatus PulseCablesStatus();
// Makes whatever end is missing; true when both cables are complete afterwards.
bool CreatePulseCables(std::string* pError);
// Unloads every end there is; true when none is left.
bool RemovePulseCables(std::string* pError);
