#pragma once
// The four endpoints of the two loopback cables, found by name at start-up and only read after.
#include <string>

// Product names of cable endpoints begin with this (case-sensitive).
inline constexpr const char* g_szCableNamePrefix = "Vokra Virtual Cable";

extern std::string g_strVac1PlaybackDevice;   // cable 1, playback: the greeting is played into it
extern std::string g_strVac1RecordingDevice;  // cable 1, recording: Skype's input while answering
extern std::string g_strVac2PlaybackDevice;   // cable 2, playback: Skype's output while answering
extern std::string g_strVac2RecordingDevice;  // cable 2, recording: the caller is recorded from it
