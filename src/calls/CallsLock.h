#pragma once
// One lock for the users, the calls and the voice messages (gCurrentUser, gUsersDB, gCallsDB,
// g_pCurrentCall, g_pRingingCall, gMessagesDB and the objects they hold).
//
// The Skype message handler thread changes them, one posted message at a time, and holds this
// lock for the whole of each message. The user interface holds it while it reads them, and
// while it acts on a message (mark heard, delete). So a page never sees a call half-changed or
// a pointer to a call that has just been deleted. The handler never waits for the user
// interface while it holds the lock: its commands to Skype are sent after it lets go (see
// CSkypeCmdBatch), and its requests to the main window are posted.
#include <cassert>

#include "platform/Sync.h"

extern CCriticalSection g_csCallsData;

class CCallsDataLock {
public:
    CCallsDataLock();
    ~CCallsDataLock();
    CCallsDataLock(const CCallsDataLock&) = delete;
    CCallsDataLock& operator=(const CCallsDataLock&) = delete;
};

// True while the calling thread holds CCallsDataLock (for the debug checks below).
bool CallsDataLockHeld();

// Debug builds check what the comments promise: the calls lock is held where the data it
// guards is changed. Compiled out with NDEBUG.
#define VOKRA_ASSERT_CALLS_LOCKED() assert(CallsDataLockHeld())

// Tests: every message, call and user gone, the logged-in user empty and the globals of the
// answering state machine back to their start.
void ResetCallsDataForTests();
