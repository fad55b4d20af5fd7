#pragma once
// Finding the two loopback cables among the machine's devices at start-up.

// Fills g_strVac1PlaybackDevice, g_strVac2PlaybackDevice, g_strVac1RecordingDevice and
// g_strVac2RecordingDevice from the device lists: an entry whose device's name begins with
// "Vokra Virtual Cable" (case-sensitive) is a cable end; a '1' anywhere in its list name makes it
// cable 1's, a '2' cable 2's (a later match overwrites an earlier one). True when all four were
// found; start-up refuses to run otherwise.
bool FindCableDevices();
