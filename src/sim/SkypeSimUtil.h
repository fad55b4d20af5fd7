#pragma once
// What the parts of the substitute client share: text helpers, the call-status groups it acts
// on, and the timer ids of a call. Only for src/sim.
#include <mutex>
#include <string>

#include "platform/Types.h"
#include "skype/SkypeAccessAPI.h"

namespace sim_detail {

using Lock = std::lock_guard<std::recursive_mutex>;

// + call id: the call's one-second DURATION tick
constexpr UINT kTimerCallBase = 1000;

inline std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

inline std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

inline bool IsActive(int status) {
    return status == CALLSTATUS_INPROGRESS || status == CALLSTATUS_ONHOLD ||
           status == CALLSTATUS_LOCALHOLD || status == CALLSTATUS_REMOTEHOLD;
}

inline bool IsHeld(int status) {
    return status == CALLSTATUS_ONHOLD || status == CALLSTATUS_LOCALHOLD ||
           status == CALLSTATUS_REMOTEHOLD;
}

inline bool IsEnded(int status) {
    return status == CALLSTATUS_FAILED || status == CALLSTATUS_FINISHED ||
           status == CALLSTATUS_MISSED || status == CALLSTATUS_REFUSED ||
           status == CALLSTATUS_BUSY || status == CALLSTATUS_CANCELLED;
}

inline bool IsIncoming(int type) {
    return type == CALLTYPE_INCOMING_P2P || type == CALLTYPE_INCOMING_PSTN;
}

inline const char* StatusName(const char* const* table, int count, int value) {
    return value >= 0 && value < count ? table[value] : "UNKNOWN";
}

}  // namespace sim_detail
