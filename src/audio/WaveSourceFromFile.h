#pragma once
// The source that streams a sound file (WAV, or MP3 decoded to 16-bit mono 48,000 Hz) in
// blocks to its sinks, on a thread of its own when the owner wants to hear of the end, or on
// the caller's thread.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/PCMRateConvert.h"
#include "audio/WaveSource.h"
#include "platform/FileUtil.h"

// True when path is strictly longer than ext and ends in it, letter case ignored.
bool HasExtension(const std::string& path, const std::string& ext);

class CWaveSourceFromFile;

// Reads one file format for its owner: the header into the owner's format, then PCM blocks.
class CWaveSourceFromFileFormat {
public:
    explicit CWaveSourceFromFileFormat(CWaveSourceFromFile* owner) : m_pOwner(owner) {}
    virtual ~CWaveSourceFromFileFormat() = default;
    CWaveSourceFromFileFormat(const CWaveSourceFromFileFormat&) = delete;
    CWaveSourceFromFileFormat& operator=(const CWaveSourceFromFileFormat&) = delete;

    virtual bool ReadAudioFileHeaderAndSaveFormat() = 0;
    // Fills block with up to m_uBytesToRead bytes; *length 0 at the end of the sound.
    virtual bool DecodeFileLoop(void* block, uint32_t* length) = 0;
    uint32_t GetBytesToRead() const { return m_uBytesToRead; }

protected:
    CWaveSourceFromFile* m_pOwner;
    uint32_t m_uBytesToRead = 0;  // block size: the buffer rule, in whole frames
};

class CWaveSourceFromFileFormatWAV : public CWaveSourceFromFileFormat {
public:
    using CWaveSourceFromFileFormat::CWaveSourceFromFileFormat;
    bool ReadAudioFileHeaderAndSaveFormat() override;
    bool DecodeFileLoop(void* block, uint32_t* length) override;

private:
    int64_t m_nDataOffset = 0;  // file offset of the first sample byte
    uint64_t m_uDataLeft = 0;   // sample bytes still to deliver
};

struct mpg123_handle_struct;
// Deletes an mpg123 decoder handle.
struct CMpg123Deleter {
    void operator()(mpg123_handle_struct* h) const;
};

class CWaveSourceFromFileFormatMP3 : public CWaveSourceFromFileFormat {
public:
    using CWaveSourceFromFileFormat::CWaveSourceFromFileFormat;
    ~CWaveSourceFromFileFormatMP3() override;
    bool ReadAudioFileHeaderAndSaveFormat() override;
    bool DecodeFileLoop(void* block, uint32_t* length) override;

private:
    // Decodes the next frames into m_vPending; false on a decoder or read error.
    bool DecodeMore();

    std::unique_ptr<mpg123_handle_struct, CMpg123Deleter> m_hDecoder;
    CPCMRateConvert m_RateConvert;    // the stream's own rate to 48,000 Hz
    long m_nStreamRate = 0;           // 0 until the decoder has reported a format
    bool m_bEnd = false;              // the file has been read and decoded to the end
    std::vector<uint8_t> m_vPending;  // 48,000 Hz samples not yet delivered
    size_t m_uPendingPos = 0;
    std::vector<uint8_t> m_vIn;       // compressed bytes read from the file
    std::vector<uint8_t> m_vDecoded;  // the decoder's output at the stream's rate
    std::vector<uint8_t> m_vConverted;
};

class CWaveSourceFromFile : public CWaveSourceBase {
public:
    CWaveSourceFromFile();
    // Stops streaming and waits for the streaming thread before the object goes.
    ~CWaveSourceFromFile() override;

    bool Init(const std::string& path);
    // With a notice target: streams on a new thread and returns at once. Without: streams on
    // the caller's thread and returns after the last block.
    bool Start(CWaveNotify* notify) override;
    bool Stop() override;
    bool Release();
    int GetState() const { return m_nState.load(); }

    void StreamFileNotifyOnDoneOrStopOnFlag();
    static uint32_t StreamFileNotifyOnDoneOrStopOnFlagThread(CWaveSourceFromFile* source);

    FILE* GetFile() const { return m_pFile.get(); }
    const std::string& GetFilePath() const { return m_strFilePath; }
    CWaveSourceFromFileFormat* GetFileFormat() const { return m_pFileFormat.get(); }

private:
    struct CThreadControl;
    void CloseFile();
    // Waits for a streaming thread that has been told to stop (or has finished); a thread
    // cannot wait for itself, so there it is only let go.
    void JoinStreamingThread();

    std::string m_strFilePath;
    CFilePtr m_pFile;
    std::thread m_hThread;
    std::shared_ptr<CThreadControl> m_pThreadControl;
    std::unique_ptr<CWaveSourceFromFileFormat> m_pFileFormat;
    // Held by the streaming loop for as long as it runs, on whichever thread: Init, Release and
    // the destructor wait for a loop that was told to stop before they free what it reads.
    // Recursive, so the owner may release the source from inside the end notice.
    std::recursive_mutex m_mLoop;
};
