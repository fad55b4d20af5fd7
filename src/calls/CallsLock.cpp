#include "calls/CallsLock.h"

#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/UserCollection.h"
#include "messages/MessageCollection.h"

CCriticalSection g_csCallsData;

namespace {

// The lock is recursive; this counts the calling thread's holds.
thread_local int t_nCallsLockDepth = 0;

}  // namespace

CCallsDataLock::CCallsDataLock() {
    g_csCallsData.Lock();
    ++t_nCallsLockDepth;
}

CCallsDataLock::~CCallsDataLock() {
    --t_nCallsLockDepth;
    g_csCallsData.Unlock();
}

bool CallsDataLockHeld() {
    return t_nCallsLockDepth > 0;
}

void ResetCallsDataForTests() {
    CCallsDataLock lock;
    gMessagesDB.deleteAll();
    gCallsDB.RemoveAll();
    gUsersDB.DeleteAll();
    gCurrentUser.Reset();
    CCall::ForgetAll();
    g_bNewVoiceMessage = false;
}
