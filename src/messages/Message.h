#pragma once
// One voice message: the recording of an answered call, or a recording found in the messages
// folder. It knows its call (caller, start time, duration), whether it was heard, and the name
// and size of its file, and it drives the answering audio stages while its call is recorded.
//
// The file of a message lies in the logged-in user's messages folder (see CMessageCollection)
// under a name of ten fields joined by ".": caller, year, month, day, hour, minute, second
// (local time of the start), duration in seconds, "n" (new) or "s" (heard), "wav". A call is
// recorded into "lastvoicemsg.wav" there and moved to its final name when it ends.
#include <cstdint>
#include <string>

class CCall;

inline constexpr const char* g_szLastVoiceMsgFileName = "lastvoicemsg.wav";

class CMessage {
public:
    CMessage();
    // Stops the audio stages if they run for this message. Its call lets go of it where the
    // collection drops it.
    virtual ~CMessage();
    CMessage(const CMessage&) = delete;
    CMessage& operator=(const CMessage&) = delete;

    // The name of the message's file: the name it has on disk once it has one, else the name
    // its fields give. Does not touch the disk.
    std::string GetFileName() const;
    void AudioCtrlTake();
    int AudioCtrlBreak();
    // Moves the recording to its final name. If that name is taken, the start time is moved on
    // a second at a time until a free name is found, so no recording is ever overwritten.
    bool RenameVoiceMessageFileName();
    // Moves from to to (never over an existing file) and takes the size of the file.
    bool ChangeFileName(const std::string& from, const std::string& to);
    // Marks the message heard (or new) and renames its file to match. When the file cannot be
    // renamed the flag stays as it was, so it always describes the file.
    bool SetHeard(bool bHeard);
    bool DeleteVoiceMessageFile();
    bool IsHeard() const { return m_bHeard; }
    int GetFileSize() const { return m_nFileSize; }

    CCall* m_pCall = nullptr;  // not owned
    bool m_bHeard = false;
    int m_nFileSize = 0;
    bool m_bAudioTaken = false;
    // The file's name on disk; empty while the message has no file of its own.
    std::string m_strFileName;

private:
    // The message has a file of its own in the folder (one of duration 0 recorded nothing).
    bool HasFile() const;
    std::string FolderOrWarn(const char* pszWho) const;
};

// A final file name read back.
struct CVoiceMessageName {
    std::string m_strUserName;
    int m_anTime[6] = {};  // year, month, day, hour, minute, second as written
    int64_t m_tStart = 0;  // the six fields as local time
    int m_nDuration = 0;
    bool m_bHeard = false;
};

// The final file name for these fields.
std::string FormatVoiceMessageFileName(const std::string& username, int64_t tStart, int duration,
                                       bool bHeard);
// False when the name is not a message's (fewer than ten fields, or a tenth that is not "wav").
bool ParseVoiceMessageFileName(const std::string& fileName, CVoiceMessageName& out);

// The caller's user name as the first field of a file name. Skype names may hold "." (which
// separates the fields) and a malformed one "/" (which would leave the folder): such bytes,
// "%" and control characters are written as "%XX"; an empty name as a lone "%". Very long
// names are cut so that the whole file name stays within the file system's limit.
std::string EncodeFileNameUser(const std::string& username);
std::string DecodeFileNameUser(const std::string& field);
// A user name as the name of that user's folder: "/", "%" and control characters as "%XX", and
// "." and ".." written out the same way, so the folder is always one level below its parent.
std::string EncodeFolderName(const std::string& username);
