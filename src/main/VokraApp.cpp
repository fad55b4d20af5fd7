#include "main/VokraApp.h"

#include "app/Languages.h"
#include "app/MessageBox.h"
#include "app/Settings.h"
#include "app/StringTable.h"
#include "app/WindowMessages.h"
#include "audio/CableSearch.h"
#include "messages/MessageAudioStages.h"
#include "platform/FileUtil.h"
#include "platform/audio/PulseCables.h"
#include "platform/audio/WaveDevice.h"

#ifndef VOKRA_VERSION
#error "VOKRA_VERSION comes from the project's version in CMake"
#endif

CVokraApp* g_pVokraApp = nullptr;

const char* VokraVersion() {
    return VOKRA_VERSION;
}

CVokraApp::CVokraApp() {
    g_pVokraApp = this;
}

CVokraApp::~CVokraApp() {
    ExitInstance();
    if (g_pVokraApp == this)
        g_pVokraApp = nullptr;
}

bool CVokraApp::RefuseSecondInstance() {
    if (m_Lock.Acquire(m_strLockFolder) != CSingleInstanceLock::LOCK_HELD)
        return false;  // a lock that cannot be made does not stop the start
    // Nothing is written here, not even the log: the settings and the log are the running
    // instance's.
    const HWND hWnd = FindWindowByTitle(CVokraWndCore::kTitle);
    if (hWnd != 0)
        PostMessage(hWnd, WM_SHOW_SHEET, SHEET_PAGE_ABOUT, 0);
    return true;
}

void CVokraApp::OpenDebugLog() {
    const int level = DebugFileLevel.load();
    if (level == 0)
        return;
    m_pLogFile =
        std::make_unique<CLogFileHandler>(level, GetProgramFolder() + kLogBaseName, kLogSizeLimit);
    g_Logger.AddHandler(m_pLogFile.get());
}

bool CVokraApp::FindOrMakeCables() {
    if (FindCableDevices())
        return true;
    if (std::string(WaveDevices().Name()) != "pulse")
        return false;
    VLOG(INFO, "CVokraApp: making the loopback cables on the PulseAudio server");
    std::string strError;
    if (!CreatePulseCables(&strError)) {
        VLOG(WARNING, "CVokraApp: the cables cannot be made: %s", strError.c_str());
        return false;
    }
    return FindCableDevices();
}

bool CVokraApp::InitInstance(CMsgLoop& uiLoop) {
    if (RefuseSecondInstance())
        return false;

    ReadAllSettings();
    WriteAllSettings();
    OpenDebugLog();
    VLOG(INFO, "Hello message from Vokra");
    VLOG(INFO, "Starting Vokra version: %s", VokraVersion());
    VLOG(INFO, "Starting Log File in level: %d", DebugFileLevel.load());

    m_pMainWnd = std::make_unique<CVokraWndCore>();
    if (!m_pMainWnd->Create(uiLoop)) {
        VokraMessageBox(LoadText(IDS_ERR_CREATE_WINDOW), MB_OK | MB_ICONERROR);
        return false;
    }
    m_pMainWnd->SetShell(m_pShell);
    m_pMainWnd->SetListener(m_pListener);

    if (!FindOrMakeCables()) {
        VokraMessageBox(LoadText(IDS_ERR_NO_AUDIO_CABLES), MB_OK);
        return false;
    }

    if (!CreateAudioControl()) {
        VLOG(WARNING, "CVokraApp: the answering stages cannot start");
        return false;
    }
    m_bAudioControl = true;

    VLOG(INFO, "Starting main hidden window");
    return m_pMainWnd->Init();
}

void CVokraApp::ExitInstance() {
    // The handler thread ends with the window; the stages may only go after it.
    m_pMainWnd.reset();
    if (m_bAudioControl) {
        m_bAudioControl = false;
        DestroyAudioControl();
    }
    if (m_pLogFile) {
        g_Logger.RemoveHandler(m_pLogFile.get());
        m_pLogFile.reset();
    }
    m_Lock.Release();
}
