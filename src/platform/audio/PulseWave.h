#pragma once
// The "pulse" wave backend: the sinks and sources of a PulseAudio (or PipeWire) server.
#include <memory>
#include <string>

#include "platform/audio/WaveDevice.h"

// Null, with the reason in *pError, when no server answers (none is started for it).
std::unique_ptr<IWaveBackend> CreatePulseWaveBackend(std::string* pError);
