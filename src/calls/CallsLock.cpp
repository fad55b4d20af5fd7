#include "calls/CallsLock.h"

#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/UserCollection.h"
#include "messages/MessageCollection.h"

CCriticalSection g_csCallsData;

void ResetCallsDataForTests() {
    CCallsDataLock lock;
    gMessagesDB.deleteAll();
    gCallsDB.RemoveAll();
    gUsersDB.DeleteAll();
    gCurrentUser.Reset();
    CCall::ForgetAll();
    g_bNewVoiceMessage = false;
}
