#pragma once
// What the Skype client's desktop API looks like from our side: the two registered messages of
// the attach handshake, the attach statuses, and the copy-data block that carries one line of
// text each way.
#include <cstdint>
#include <string>

#include "platform/Types.h"

// Registered window message names.
inline constexpr const char* g_szSkypeControlAPIDiscover = "SkypeControlAPIDiscover";
inline constexpr const char* g_szSkypeControlAPIAttach = "SkypeControlAPIAttach";

// lParam of "SkypeControlAPIAttach"; wParam is Skype's API window.
enum SkypeAttachStatus : LPARAM {
    SKYPE_ATTACH_SUCCESS = 0,                // attached
    SKYPE_ATTACH_PENDING_AUTHORIZATION = 1,  // waiting for the user to allow access in Skype
    SKYPE_ATTACH_REFUSED = 2,                // refused by the user
    SKYPE_ATTACH_NOT_AVAILABLE = 3,          // API not available (e.g. nobody logged in)
    SKYPE_ATTACH_API_AVAILABLE = 0x8001,     // available again, sent unasked
};

// The name the program gives itself with the NAME command.
inline constexpr const char* g_szVokraAppName = "Vokra - Answering Machine for Skype\u2122 users";

// The block that carries line to Skype: identifier 0, the UTF-8 bytes with the terminating NUL
// counted. It points into line, which must outlive it. A line that holds a NUL or is not valid
// UTF-8 gives an empty block (cbData 0) and a WARNING log line.
COPYDATASTRUCT MakeSkypeCopyData(const std::string& line);

// The line carried by a received block, without its NUL. Refused (false, line emptied, WARNING
// log line): a byte count of 0, no data, a last byte that is not NUL, a NUL before the last
// byte, or bytes that are not valid UTF-8.
bool ReadSkypeCopyData(const COPYDATASTRUCT& block, std::string& line);
