#pragma once
// Wave devices: the playback ("out") and recording ("in") devices of the machine, opened with a
// PCM format and fed or filled with caller-owned buffers that come back, in order, as messages
// to a message loop (MM_WOM_DONE for playback, MM_WIM_DATA for recording; wParam the device
// handle, lParam the WAVEHDR*).
//
// One backend serves the whole process, chosen once at start (SelectWaveBackend): "virtual"
// (in-process loopback cables, a speaker that plays nowhere, a silent microphone) or "pulse"
// (the desktop's PulseAudio or PipeWire server).
//
// Device ids run 0..GetNumDevs()-1 in a stable order; WAVE_MAPPER (all bits set) opens the
// default device of the kind. Every call may come from any thread; a backend serialises them.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Types.h"

class CMsgLoop;

using HWAVE = uintptr_t;  // 0: no device
using MMRESULT = uint32_t;

constexpr UINT WAVE_MAPPER = 0xFFFFFFFF;

// Result codes, with their traditional values (the log texts print them in hex).
enum : MMRESULT {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,        // unspecified failure
    MMSYSERR_BADDEVICEID = 2,  // no device with that id
    MMSYSERR_ALLOCATED = 4,    // the device is in use and cannot be shared
    MMSYSERR_INVALHANDLE = 5,  // not an open device of this kind
    MMSYSERR_NODRIVER = 6,     // the device or its server went away
    MMSYSERR_NOMEM = 7,
    MMSYSERR_INVALPARAM = 11,
    WAVERR_BADFORMAT = 32,     // the device refuses the format
    WAVERR_STILLPLAYING = 33,  // buffers are still queued (close refused)
    WAVERR_UNPREPARED = 34,    // the buffer was not prepared
};

// Messages to the callback loop.
constexpr UINT MM_WOM_OPEN = 0x3BB;
constexpr UINT MM_WOM_CLOSE = 0x3BC;
constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;

// WAVEHDR::dwFlags bits.
constexpr DWORD WHDR_DONE = 0x01;      // the device has finished with the buffer
constexpr DWORD WHDR_PREPARED = 0x02;  // prepared for a device
constexpr DWORD WHDR_INQUEUE = 0x10;   // queued in a device

// One buffer; the caller owns it and its data, and must not touch either while it is queued.
struct WAVEHDR {
    uint8_t* lpData = nullptr;
    DWORD dwBufferLength = 0;
    DWORD dwBytesRecorded = 0;  // recording: bytes filled
    uintptr_t dwUser = 0;
    DWORD dwFlags = 0;
    DWORD dwLoops = 0;
    WAVEHDR* lpNext = nullptr;  // the backend's own link while queued
    uintptr_t reserved = 0;
};

enum class EWaveKind { Out, In };

// The PCM format a device is opened with: interleaved signed 16-bit or unsigned 8-bit samples.
struct CPcmSpec {
    WORD nChannels = 1;
    DWORD nSamplesPerSec = 48000;
    WORD wBitsPerSample = 16;
    bool operator==(const CPcmSpec&) const = default;
};

class IWaveBackend {
public:
    virtual ~IWaveBackend() = default;
    // "virtual" or "pulse".
    virtual const char* Name() const = 0;

    virtual UINT GetNumDevs(EWaveKind kind) = 0;
    // The display name of device devId (at most 31 characters are used by the device lists).
    virtual MMRESULT GetDevName(EWaveKind kind, UINT devId, std::string& name) = 0;

    // Opens device devId (or WAVE_MAPPER) with the format; its buffers come back to pCallback,
    // which must outlive the device. MM_WOM_OPEN / MM_WIM_OPEN is posted first.
    virtual MMRESULT Open(EWaveKind kind, HWAVE* phDevice, UINT devId, const CPcmSpec& pcm,
                          CMsgLoop* pCallback) = 0;
    virtual MMRESULT Prepare(HWAVE hDevice, WAVEHDR* pHdr) = 0;
    // WAVERR_STILLPLAYING while the buffer is queued.
    virtual MMRESULT Unprepare(HWAVE hDevice, WAVEHDR* pHdr) = 0;
    // Playback: plays the buffer after those already queued (playing starts with the first).
    // Recording: adds an empty buffer to be filled.
    virtual MMRESULT Queue(HWAVE hDevice, WAVEHDR* pHdr) = 0;
    // Recording only: starts filling the queued buffers.
    virtual MMRESULT Start(HWAVE hDevice) = 0;
    // Recording only: stops filling; the buffer being filled comes back with what it holds,
    // the others stay queued.
    virtual MMRESULT Stop(HWAVE hDevice) = 0;
    // Stops, and every queued buffer comes back marked done (recording: partly filled ones
    // with their byte count, in order).
    virtual MMRESULT Reset(HWAVE hDevice) = 0;
    // WAVERR_STILLPLAYING while buffers are queued; otherwise MM_WOM_CLOSE / MM_WIM_CLOSE is
    // posted and the handle is gone.
    virtual MMRESULT Close(HWAVE hDevice) = 0;
};

// A readable text for a result code (never empty).
std::string WaveErrorText(MMRESULT code);

// The backend of the process. Before SelectWaveBackend/SetWaveBackend it is the virtual one.
IWaveBackend& WaveDevices();
// Replaces the process's backend (tests; start-up). Devices of the old one must be closed.
void SetWaveBackend(std::unique_ptr<IWaveBackend> backend);
// Chooses by name: "virtual", "pulse", or empty for the default (VOKRA_AUDIO when set; else
// pulse when a server answers, else virtual). False (and the backend unchanged) for an unknown
// name or a pulse server that does not answer.
bool SelectWaveBackend(const std::string& name);
