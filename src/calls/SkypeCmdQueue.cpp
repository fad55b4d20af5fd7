#include "calls/SkypeCmdQueue.h"

#include <atomic>

#include "app/Logger.h"
#include "skype/STL.h"

namespace {

std::atomic<ISkypeCmdQueue*> g_pCmdQueue{nullptr};

thread_local int t_nBatchDepth = 0;
thread_local std::vector<DeviceToSkypeCmd> t_vecBatch;

int SendNow(const DeviceToSkypeCmd& cmd) {
    if (ISkypeCmdQueue* pQueue = g_pCmdQueue.load())
        return pQueue->QueueCtrlAckCmd(cmd);
    if (g_pSTL == nullptr) {
        VLOG(WARNING, "QueueSkypeCmd: no transport, '%s' is not sent", cmd.m_szText.c_str());
        return 0;
    }
    return g_pSTL->QueueCtrlAckCmd(cmd);
}

}  // namespace

void SetSkypeCmdQueue(ISkypeCmdQueue* pQueue) {
    g_pCmdQueue.store(pQueue);
}

int QueueSkypeCmd(const DeviceToSkypeCmd& cmd) {
    if (cmd.m_nLength == 0) {
        VLOG(WARNING, "QueueSkypeCmd: command type %d has no text, not sent", cmd.m_nType);
        return 0;
    }
    if (t_nBatchDepth > 0) {
        t_vecBatch.push_back(cmd);
        return 1;
    }
    return SendNow(cmd);
}

CSkypeCmdBatch::CSkypeCmdBatch() {
    ++t_nBatchDepth;
}

CSkypeCmdBatch::~CSkypeCmdBatch() {
    if (--t_nBatchDepth > 0)
        return;
    std::vector<DeviceToSkypeCmd> vecCmds;
    vecCmds.swap(t_vecBatch);
    for (const DeviceToSkypeCmd& cmd : vecCmds)
        SendNow(cmd);
}
