#include "skype/STLSndr.h"

#include <algorithm>
#include <cstdint>

#include "app/Logger.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "skype/SkypeApi.h"

CSTLSndr::~CSTLSndr() {
    // The loop calls our OnThreadMessage: it must be gone before we are.
    StopThread();
}

bool CSTLSndr::Start() {
    if (!CreateThread()) {
        VLOG(WARNING, "CSTLSndr::Start could not start the sender thread");
        return false;
    }
    return true;
}

void CSTLSndr::SetMyhWnd(HWND hWndSTL) {
    VLOG(INFO, "CSTLSndr::SetMyhWnd( hWndSTL=%#zx )", static_cast<size_t>(hWndSTL));
    m_hWndSTL.store(hWndSTL);
}

void CSTLSndr::SetSkypehWnd(HWND hWndSkypeAPI) {
    VLOG(INFO, "CSTLSndr::SetSkypehWnd( hWndSkypeAPI=%#zx )", static_cast<size_t>(hWndSkypeAPI));
    m_hWndSkypeAPI.store(hWndSkypeAPI);
}

bool CSTLSndr::PostCmd(const DeviceToSkypeCmd& cmd) {
    auto pCopy = std::make_unique<CSTLSndrCmd>();
    pCopy->m_strText = cmd.m_szText;
    pCopy->m_uCmdIdentity = reinterpret_cast<uintptr_t>(&cmd);
    return PostThreadMessage(WM_STLSNDR_SEND_CMD, std::move(pCopy));
}

int CSTLSndr::EndThread() {
    VLOG(INFO, "CSTLSndr::EndThread()");
    if (PostThreadMessage(WM_STLSNDR_QUIT) && !WaitForExit(kEndWaitMs))
        VLOG(WARNING, "CSTLSndr::EndThread the sender thread did not end within %u ms", kEndWaitMs);
    return 1;
}

void CSTLSndr::OnThreadMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_STLSNDR_SEND_CMD:
            if (auto pCmd = TakePayload<CSTLSndrCmd>(wParam))
                OnSendCmd(*pCmd);
            break;
        case WM_STLSNDR_QUIT:
            Quit(0);
            break;
        default:
            break;
    }
}

void CSTLSndr::OnSendCmd(const CSTLSndrCmd& cmd) {
    // Read once: the transport may change the handle meanwhile; this send uses the one valid now.
    const HWND hWndSkype = m_hWndSkypeAPI.load();
    if (hWndSkype == 0) {
        VLOG(WARNING, "CSTLSndr::OnSendCmd Discarding because m_hWndSkypeAPI == 0 [Cmd =%#zx]",
             static_cast<size_t>(cmd.m_uCmdIdentity));
        return;
    }
    const int nResult = SendToSkype(hWndSkype, cmd.m_strText);
    if (nResult == -1 || nResult >= kSlowDeliveryMs)
        VLOG(WARNING, "CSTLSndr::NotifySendFailed retVal=%d", nResult);
}

int CSTLSndr::SendToSkype(HWND hWndSkype, const std::string& text) {
    VLOG(INFO, "-> D2S[#%d]: %s ", m_nLinesSent.load(), text.c_str());
    const COPYDATASTRUCT block = MakeSkypeCopyData(text);
    if (block.cbData == 0)
        return -1;  // not a line Skype could read; already logged
    m_nLinesSent.fetch_add(1);

    // Timed on the monotonic clock, so that a step of the system clock is no slow delivery.
    const uint64_t uStart = Clock().NowMs();
    const std::optional<LRESULT> result = Desktop().SendCopyData(
        hWndSkype, m_hWndSTL.load(), block.dwData, block.lpData, block.cbData);
    const uint64_t uElapsed = Clock().NowMs() - uStart;

    Sleep(kLineGapMs);
    if (!result || *result == 0)
        return -1;
    return static_cast<int>(std::min<uint64_t>(uElapsed, INT32_MAX));
}
