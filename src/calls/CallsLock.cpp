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
    g_pCurrentCall = nullptr;
    g_pRingingCall = nullptr;
    g_bNewVoiceMessage = false;
}
