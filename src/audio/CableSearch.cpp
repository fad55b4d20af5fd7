#include "audio/CableSearch.h"

#include <cstring>
#include <string>

#include "app/CableNames.h"
#include "app/Logger.h"
#include "audio/AudioCtrl.h"

namespace {
bool IsCableEnd(EWaveKind kind, uint32_t devId) {
    std::string product;
    if (WaveDevices().GetDevName(kind, devId, product) != MMSYSERR_NOERROR)
        return false;  // a device whose name cannot be read is no cable
    return product.compare(0, std::strlen(g_szCableNamePrefix), g_szCableNamePrefix) == 0;
}

void Search(const CWaveDeviceList& list, std::string& cable1, std::string& cable2) {
    for (uint32_t i = 0; i < list.GetCount(); ++i) {
        if (!IsCableEnd(list.GetKind(), list.GetDevId(i)))
            continue;
        const std::string name = list.GetName(i);
        if (name.find('1') != std::string::npos)
            cable1 = name;
        if (name.find('2') != std::string::npos)
            cable2 = name;
    }
}
}  // namespace

bool FindCableDevices() {
    // All four afresh, so a second search never keeps a cable that has gone.
    g_strVac1PlaybackDevice.clear();
    g_strVac2PlaybackDevice.clear();
    g_strVac1RecordingDevice.clear();
    g_strVac2RecordingDevice.clear();
    Search(CPlaybackDeviceList(), g_strVac1PlaybackDevice, g_strVac2PlaybackDevice);
    Search(CRecordingDeviceList(), g_strVac1RecordingDevice, g_strVac2RecordingDevice);
    const bool found = !g_strVac1PlaybackDevice.empty() && !g_strVac2PlaybackDevice.empty() &&
                       !g_strVac1RecordingDevice.empty() && !g_strVac2RecordingDevice.empty();
    VLOG(found ? INFO : WARNING,
         "FindCableDevices [VAC1 play: '%s', VAC1 rec: '%s', VAC2 play: '%s', VAC2 rec: '%s']",
         g_strVac1PlaybackDevice.c_str(), g_strVac1RecordingDevice.c_str(),
         g_strVac2PlaybackDevice.c_str(), g_strVac2RecordingDevice.c_str());
    return found;
}
