#pragma once
// Where users, calls and the handler queue their commands to Skype: the transport g_pSTL.
#include <vector>

#include "skype/SkypeAccessAPI.h"

// A receiver of commands in place of the transport (a test installs one).
class ISkypeCmdQueue {
public:
    virtual ~ISkypeCmdQueue() = default;
    virtual int QueueCtrlAckCmd(const DeviceToSkypeCmd& cmd) = 0;
};

// nullptr: commands go to g_pSTL again.
void SetSkypeCmdQueue(ISkypeCmdQueue* pQueue);

// Queues the command with the transport; non-zero when it was taken. Within a CSkypeCmdBatch
// on this thread the command is kept and queued, in order, when the batch ends.
int QueueSkypeCmd(const DeviceToSkypeCmd& cmd);

// While one lives on a thread, that thread's commands wait and go out in order when it ends.
// The handler opens one around each message so that it never blocks on a full transport queue
// while holding the calls-data lock (the queue drains on the user-interface thread, which may
// itself be waiting for that lock). Batches nest; the outermost one sends.
class CSkypeCmdBatch {
public:
    CSkypeCmdBatch();
    ~CSkypeCmdBatch();
    CSkypeCmdBatch(const CSkypeCmdBatch&) = delete;
    CSkypeCmdBatch& operator=(const CSkypeCmdBatch&) = delete;
};
