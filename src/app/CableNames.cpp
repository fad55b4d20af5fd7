#include "app/CableNames.h"

std::string g_strVac1PlaybackDevice;
std::string g_strVac1RecordingDevice;
std::string g_strVac2PlaybackDevice;
std::string g_strVac2RecordingDevice;
