#pragma once
// The application object: the start-up of the whole program and its end. InitInstance refuses
// a second instance, reads the settings and writes them back, opens the debug log, creates the
// hidden main window, finds the two loopback cables (making them on a PulseAudio server that
// lacks them), creates the shared player and the answering-stages thread, and initialises the
// main window, which starts the Skype side. The user-interface loop then runs until Quit.
#include <memory>
#include <string>

#include "app/InstanceLock.h"
#include "app/Logger.h"
#include "main/VokraWndCore.h"

// The version of this build, from the project's version in CMake.
const char* VokraVersion();

class CVokraApp {
public:
    // The debug log's base name beside the program, and its size limit.
    static constexpr const char* kLogBaseName = "Vokra debug log";
    static constexpr uint32_t kLogSizeLimit = 0x80000;

    CVokraApp();
    // ExitInstance, if it has not run.
    ~CVokraApp();
    CVokraApp(const CVokraApp&) = delete;
    CVokraApp& operator=(const CVokraApp&) = delete;

    // Before InitInstance. The folder of the single-instance lock ("": the user's runtime
    // folder), so that a demo in its own folder does not meet the user's program.
    void SetLockFolder(const std::string& folder) { m_strLockFolder = folder; }
    // Not owned; must outlive the application. Null: headless.
    void SetShell(IVokraShell* pShell) { m_pShell = pShell; }
    void SetListener(IVokraWndListener* pListener) { m_pListener = pListener; }

    // On the user-interface thread, whose loop is uiLoop. True when the program is to run its
    // loop; false when it is to exit (a second instance, no main window, no cables).
    bool InitInstance(CMsgLoop& uiLoop);
    // After the loop has ended: the main window and its handler thread go, then the stages
    // thread and the shared player, then the log file and the lock.
    void ExitInstance();

    // Null before InitInstance created it and after ExitInstance.
    CVokraWndCore* MainWnd() { return m_pMainWnd.get(); }

private:
    bool RefuseSecondInstance();
    void OpenDebugLog();
    // Finds the four cable ends; on a PulseAudio server that lacks them, makes them first.
    bool FindOrMakeCables();

    std::string m_strLockFolder;
    IVokraShell* m_pShell = nullptr;
    IVokraWndListener* m_pListener = nullptr;
    CSingleInstanceLock m_Lock;
    std::unique_ptr<CLogFileHandler> m_pLogFile;
    std::unique_ptr<CVokraWndCore> m_pMainWnd;
    bool m_bAudioControl = false;
};

// The one application object while it exists.
extern CVokraApp* g_pVokraApp;
