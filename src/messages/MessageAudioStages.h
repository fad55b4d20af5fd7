#pragma once
// The audio side of an answered call, as the voice messages see it: start the sequence (beep,
// greeting, beep, then recording the caller into a file) and stop it, learning how many
// seconds were recorded. The answering-stages thread implements it.
#include <string>

class IMessageAudioStages {
public:
    virtual ~IMessageAudioStages() = default;
    // Starts the sequence and returns at once. greeting: the greeting setting as stored;
    // recordPath: the file the caller is recorded into.
    virtual void MsgAudioStageStart(const std::string& greeting, const std::string& recordPath) = 0;
    // Stops the sequence and returns the seconds recorded (0 when the recording never began).
    // May block for a while (the sequence stops on its own thread).
    virtual int MsgAudioStageStop() = 0;
};

// Set at start-up before the handler thread runs, and cleared only after it has ended; null
// while there are none (an answered call then records nothing).
extern IMessageAudioStages* g_pMessageAudioStages;
