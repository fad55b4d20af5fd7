#include "calls/User.h"

#include "app/Logger.h"
#include "app/WindowMessages.h"
#include "calls/SkypeCmdQueue.h"
#include "skype/SkypeAccessAPI.h"

CUser gCurrentUser{CProcessWide{}};

CUser::CUser() {
    VLOG(INFO, "CUser::CUser");
    Reset();
}

CUser::CUser(CProcessWide) {
    Reset();
}

CUser::~CUser() = default;

void CUser::init(const std::string& username) {
    VLOG(INFO, "CUser::init: %s", username.c_str());
    m_strUserName = username;
    m_strFullName.clear();
    m_strDisplayName.clear();
    m_nOnlineStatus = USERSTATUS_UNKNOWN;
    m_nBuddyStatus = -1;
    m_bIsBuddy = false;
    if (IsPhoneNumber())
        m_nOnlineStatus = USERSTATUS_SKYPEOUT;
    // "GET USER  FULLNAME" would only earn an error from Skype.
    if (username.empty()) {
        VLOG(WARNING, "CUser::init: empty user name, no properties asked for");
        return;
    }
    for (EProperty property :
         {PROP_FULLNAME, PROP_DISPLAYNAME, PROP_ONLINESTATUS, PROP_BUDDYSTATUS})
        QueueSkypeCmd(DeviceToSkypeCmd(D2S_GET_USER, username, property));
}

void CUser::SetFullName(const std::string& name) {
    VLOG(INFO, "CUser::SetFullName: %s (%s)", name.c_str(), m_strUserName.c_str());
    m_strFullName = name;
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
}

void CUser::SetDisplayName(const std::string& name) {
    VLOG(INFO, "CUser::SetDisplayName: %s (%s)", name.c_str(), m_strUserName.c_str());
    m_strDisplayName = name;
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
}

void CUser::SetUserStatus(int status) {
    VLOG(INFO, "CUser::SetUserStatus: %d (%s)", status, m_strUserName.c_str());
    m_nOnlineStatus = status;
}

void CUser::SetBuddyStatus(int status) {
    if (status < 0 || status > 3) {
        VLOG(INFO, "CUser::SetBuddyStatus: %d (%s) - Bad Value", status, m_strUserName.c_str());
        return;
    }
    VLOG(INFO, "CUser::SetBuddyStatus: %d (%s)", status, m_strUserName.c_str());
    m_nBuddyStatus = status;
    m_bIsBuddy = status == 2 || status == 3;
}

void CUser::SetLastOnlineTimestamp(int timestamp) {
    VLOG(INFO, "CUser::SetLastOnlineTimestamp: %d (%s)", timestamp, m_strUserName.c_str());
    m_nLastOnlineTimestamp = timestamp;
}

void CUser::Reset() {
    m_strUserName.clear();
    m_strFullName.clear();
    m_strDisplayName.clear();
    m_nBuddyStatus = -1;
    m_nOnlineStatus = USERSTATUS_UNKNOWN;
    m_bIsBuddy = false;
    m_nLastOnlineTimestamp = 0;
}

std::string CUser::GetName() const {
    if (!m_strDisplayName.empty())
        return m_strDisplayName;
    if (!m_strFullName.empty())
        return m_strFullName;
    return m_strUserName;
}

std::string CUser::GetNameAndHandle() const {
    const std::string& name = m_strDisplayName.empty() ? m_strFullName : m_strDisplayName;
    if (name.empty() || name == m_strUserName)
        return m_strUserName;
    return name + " (" + m_strUserName + ")";
}

bool CUser::IsPhoneNumber() const {
    return ::IsPhoneNumber(m_strUserName);
}

bool IsPhoneNumber(const std::string& username) {
    return username.starts_with('+') || username.starts_with("00");
}
