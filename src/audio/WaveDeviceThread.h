#pragma once
// The worker thread of a device source or sink, whose object is destroyed once its thread has
// ended. A thread cannot delete the object it still runs in, so its last message hands the
// object to one process-wide reaper thread, which waits for the end and deletes it.
#include <cstddef>

#include "platform/MsgLoop.h"

class CWaveDeviceThread : public CMsgThread {
public:
    // Waits until at most n objects of these classes are alive (tests).
    static void WaitAlive(size_t n);

protected:
    CWaveDeviceThread();
    ~CWaveDeviceThread() override;
    // From a message handler of the thread: ends its loop, after which the object is deleted.
    // Nothing may use the object from another thread once it has been called.
    void EndThreadAndDispose();
};
