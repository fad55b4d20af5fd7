#pragma once
// The audio engine's face to the rest of the program: the lists of playback and recording
// devices with the system default first.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/WaveDevice.h"

// Entry 0 of every device list: the system's default device.
inline constexpr const char* g_szDefaultDeviceName = "System Default";
// What the default entry was called in older settings files; it still means the default.
inline constexpr const char* g_szLegacyDefaultDeviceName = "Windows Default";

// The devices of one kind, with the default first: entry 0 is {0, WAVE_MAPPER, "System
// Default"}, entry i is {i, i - 1, the device's name (at most 31 characters)}; at most 31 devices.
class CWaveDeviceList {
public:
    static constexpr uint32_t kMaxEntries = 32;
    static constexpr size_t kMaxNameLen = 31;

    uint32_t GetCount() const { return m_nCount; }
    // An index at or beyond the count gives entry 0.
    uint32_t GetDevId(uint32_t index) const;
    std::string GetName(uint32_t index) const;
    // The first entry with exactly this name (letter case counts); none: WAVE_MAPPER.
    uint32_t GetDevIdByName(const std::string& name) const;
    // The first entry with this id; none: the default entry's name.
    std::string GetNameByDevId(uint32_t devId) const;
    EWaveKind GetKind() const { return m_eKind; }

protected:
    CWaveDeviceList(EWaveKind kind, const char* logName, const char* capsCall);

private:
    struct CEntry {
        uint32_t m_nIndex;
        uint32_t m_uDevId;
        std::string m_strName;
    };
    EWaveKind m_eKind;
    uint32_t m_nCount = 0;
    std::vector<CEntry> m_Entries;
};

class CPlaybackDeviceList : public CWaveDeviceList {
public:
    CPlaybackDeviceList();
};

class CRecordingDeviceList : public CWaveDeviceList {
public:
    CRecordingDeviceList();
};
