#include "audio/AudioCtrl.h"

#include "app/Logger.h"

namespace {
// At most n bytes of a UTF-8 name, never cutting a character in two.
std::string CutName(const std::string& name, size_t n) {
    if (name.size() <= n)
        return name;
    size_t end = n;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Device lists

CWaveDeviceList::CWaveDeviceList(EWaveKind kind, const char* logName, const char* capsCall)
    : m_eKind(kind) {
    IWaveBackend& devices = WaveDevices();
    uint32_t count = devices.GetNumDevs(kind);
    if (count > kMaxEntries - 1)
        count = kMaxEntries - 1;
    m_Entries.push_back({0, WAVE_MAPPER, g_szDefaultDeviceName});
    m_nCount = count + 1;
    for (uint32_t i = 1; i < m_nCount; ++i) {
        std::string name;
        if (devices.GetDevName(kind, i - 1, name) != MMSYSERR_NOERROR) {
            m_nCount = 1;
            m_Entries.resize(1);
            VLOG(WARNING, "%s[ ERROR in %s( devId: %d) ]", logName, capsCall,
                 static_cast<int>(i - 1));
            break;
        }
        m_Entries.push_back({i, i - 1, CutName(name, kMaxNameLen)});
    }
}

uint32_t CWaveDeviceList::GetDevId(uint32_t index) const {
    return m_Entries[index < m_nCount ? index : 0].m_uDevId;
}

std::string CWaveDeviceList::GetName(uint32_t index) const {
    return m_Entries[index < m_nCount ? index : 0].m_strName;
}

uint32_t CWaveDeviceList::GetDevIdByName(const std::string& name) const {
    for (uint32_t i = 0; i < m_nCount; ++i)
        if (m_Entries[i].m_strName == name)
            return m_Entries[i].m_uDevId;
    return m_Entries[0].m_uDevId;
}

std::string CWaveDeviceList::GetNameByDevId(uint32_t devId) const {
    for (uint32_t i = 0; i < m_nCount; ++i)
        if (m_Entries[i].m_uDevId == devId)
            return m_Entries[i].m_strName;
    return m_Entries[0].m_strName;
}

CPlaybackDeviceList::CPlaybackDeviceList()
    : CWaveDeviceList(EWaveKind::Out, "CPlaybackDeviceList::CPlaybackDeviceList",
                      "waveOutGetDevCaps") {}

CRecordingDeviceList::CRecordingDeviceList()
    : CWaveDeviceList(EWaveKind::In, "CRecordingDeviceList::CRecordingDeviceList",
                      "waveInGetDevCaps") {}
