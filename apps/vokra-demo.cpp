// vokra-demo: the whole answering machine without a desktop, a sound card or a Skype client.
// The real start-up runs in a temporary program folder on the virtual audio devices, with the
// substitute Skype client in the same process; alice (a contact) and bob (a stranger) call, and
// a timeline shows what goes over the link, each answering step, the tray icon and every file
// written. Exit status 0 only when every expected step happened. The waits below are upper
// bounds for a slow machine; each ends as soon as its step has happened.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Logger.h"
#include "app/Settings.h"
#include "audio/AudioCtrl.h"
#include "calls/CallsLock.h"
#include "calls/User.h"
#include "main/HeadlessShell.h"
#include "main/TrayMenu.h"
#include "main/VokraApp.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "platform/audio/WaveDevice.h"
#include "sim/SkypeSim.h"
#include "sim/SkypeSimAudio.h"
#include "skype/SkypeApi.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUser = "demo.user";
constexpr UINT WM_DEMO_QUIT = WM_USER + 1;
constexpr int kAnswerDelaySec = 1;

const auto g_tStart = std::chrono::steady_clock::now();
std::mutex g_mOut;

void Say(const std::string& who, const std::string& text) {
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - g_tStart).count();
    std::lock_guard<std::mutex> lk(g_mOut);
    std::printf("%6.2fs  %-9s %s\n", t, who.c_str(), text.c_str());
    std::fflush(stdout);
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string AfterLast(const std::string& s, char c) {
    const size_t pos = s.rfind(c);
    return pos == std::string::npos ? s : s.substr(pos + 1);
}

// Turns the program's own log lines into the timeline; with --verbose every line as well.
class CTimelineLog : public CLogHandler {
public:
    explicit CTimelineLog(bool bVerbose) : m_bVerbose(bVerbose) {}
    int Publish(CLogRecord& r) override {
        const std::string& m = r.m_strMessage;
        if (m_bVerbose)
            Say("log", std::string(LogLevelName(r.m_nLevel)) + " " + m);
        const bool bKeepAlive =
            m.find(": PING") != std::string::npos || m.find(": PONG") != std::string::npos;
        if (StartsWith(m, "<- S2D") && !bKeepAlive)
            Say("skype->", m.substr(m.find(": ") + 2));
        else if (StartsWith(m, "-> D2S") && !bKeepAlive)
            Say("->skype", m.substr(m.find(": ") + 2));
        else if (StartsWith(m, "--> ("))
            Say("answer", m.substr(4));
        else if (StartsWith(m, "CPlayFile::Start [File Path: "))
            Say("audio", "plays " + AfterLast(m.substr(0, m.find(", VAC")), '/') +
                             " into the call (cable 1)");
        else if (StartsWith(m, "CRecordFileFromVAC::Start [File Path: "))
            Say("audio", "records the caller (cable 2) into " +
                             AfterLast(m.substr(0, m.find(", Spkr")), '/'));
        else if (StartsWith(m, "CRecordFileFromVAC::Stop [recorded"))
            Say("audio", "recording stopped, " + m.substr(m.find("recorded ") + 9,
                                                          m.find(']') - m.find("recorded ") - 9));
        else if (StartsWith(m, "CMessage changing file name to: "))
            Say("file", "message filed as " + AfterLast(m.substr(0, m.find("' from")), '/'));
        else if (StartsWith(m, "Starting Vokra version") || StartsWith(m, "FindCableDevices"))
            Say("vokra", m);
        else if (r.m_nLevel >= WARNING && !m_bVerbose &&
                 !StartsWith(m, "CVokraWndCore::ShowPropSheet"))  // the tray line tells it
            Say("WARNING", m);
        return 1;
    }

private:
    bool m_bVerbose;
};

struct COptions {
    std::string strKeep;
    bool bVerbose = false;
};

bool ParseArgs(int argc, char** argv, COptions& opt) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--keep" && i + 1 < argc) {
            opt.strKeep = argv[++i];
        } else if (a == "--verbose") {
            opt.bVerbose = true;
        } else {
            std::fprintf(stderr,
                         "usage: vokra-demo [--keep DIR] [--verbose]\n"
                         "  --keep DIR  run in DIR (made if missing) and keep it afterwards\n"
                         "  --verbose   print the program's log as well\n");
            return false;
        }
    }
    return true;
}

bool CopyInto(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec)
        std::fprintf(stderr, "vokra-demo: cannot copy %s: %s\n", from.c_str(),
                     ec.message().c_str());
    return !ec;
}

double SoundSeconds(const std::string& path) {
    CSimSound s;
    if (!ReadSimSound(path, s) || s.BytesPerSecond() == 0)
        return 0;
    return static_cast<double>(s.m_vData.size()) / s.BytesPerSecond();
}

// A caller waits for the tone before speaking: the voice is written with that much silence
// ahead of it.
bool WriteDelayedVoice(const std::string& from, const std::string& to, double silenceSec) {
    CSimSound s;
    if (!ReadSimSound(from, s))
        return false;
    const uint32_t align = s.BlockAlign();
    const size_t silence = static_cast<size_t>(silenceSec * s.m_pcm.nSamplesPerSec) * align;
    const uint32_t dataLen = static_cast<uint32_t>(silence + s.m_vData.size());
    auto le = [](std::string& out, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    std::string out = "RIFF";
    le(out, 36 + dataLen, 4);
    out += "WAVEfmt ";
    le(out, 16, 4);
    le(out, 1, 2);
    le(out, s.m_pcm.nChannels, 2);
    le(out, s.m_pcm.nSamplesPerSec, 4);
    le(out, s.BytesPerSecond(), 4);
    le(out, align, 2);
    le(out, s.m_pcm.wBitsPerSample, 2);
    out += "data";
    le(out, dataLen, 4);
    out.append(silence, '\0');
    out.append(reinterpret_cast<const char*>(s.m_vData.data()), s.m_vData.size());
    return WriteFileAtomic(to, out);
}

bool WaitUntil(const std::function<bool()>& pred, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class CDemo {
public:
    CDemo(const std::string& folder, CSkypeSim& sim, CSimCallAudio& audio)
        : m_strFolder(folder), m_sim(sim), m_audio(audio) {}

    // Each expected step; a missing one is told and makes the demo fail.
    bool Expect(bool ok, const std::string& what) {
        Say(ok ? "check" : "FAILED", what);
        if (!ok)
            ++m_nFailures;
        return ok;
    }
    int Failures() const { return m_nFailures; }

    int Status(int id) const {
        auto call = m_sim.GetCall(id);
        return call ? call->m_nStatus : -1;
    }
    std::string MessagesFolder() const {
        return m_strFolder + "/My Received Voice Messages/" + kUser;
    }
    std::string MessageOf(const std::string& caller) const {
        for (const std::string& name : ListFolder(MessagesFolder()))
            if (StartsWith(name, (caller + ".").c_str()) && name.size() > 6 &&
                name.compare(name.size() - 6, 6, ".n.wav") == 0)
                return name;
        return "";
    }
    bool DevicesBack() const {
        return m_sim.AudioIn() == "Microphone" && m_sim.AudioOut() == "Speakers";
    }

    // A caller who is answered speaks after the tone and hangs up when done.
    void AnsweredCall(const std::string& caller, const std::string& voice, const char* what) {
        Say("story", caller + " calls " + kUser);
        const int id = m_sim.IncomingCall(caller);
        m_audio.SetCallerVoice(id, voice);
        if (!Expect(WaitUntil([&] { return Status(id) == CALLSTATUS_INPROGRESS; },
                              (kAnswerDelaySec + 15) * 1000),
                    "Vokra answered " + caller + "'s call"))
            return;
        Expect(m_sim.AudioIn() != "Microphone" && m_sim.AudioOut() != "Speakers",
               "Skype was switched to the cables");
        Expect(m_audio.WaitFor(
                   id, [](const CSimCallAudioState& s) { return s.m_bVoiceDone; }, 20000),
               caller + " heard the greeting and said: \"" + what + "\"");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Say("story", caller + " hangs up");
        m_sim.CallerHangsUp(id);
        const bool bFiled = WaitUntil([&] { return !MessageOf(caller).empty(); }, 10000);
        Expect(bFiled, caller + "'s message has its final name: " + MessageOf(caller));
        Expect(WaitUntil([&] { return DevicesBack(); }, 10000), "Skype has its own devices back");
        m_audio.WaitUntilQuiet(id, 5000);
    }

    void UnansweredCall(const std::string& caller) {
        Say("story", caller + " calls " + kUser);
        const int id = m_sim.IncomingCall(caller);
        // Twice the answer delay, and a little more for the checks of the caller's details.
        std::this_thread::sleep_for(std::chrono::milliseconds(kAnswerDelaySec * 2000 + 1500));
        Expect(Status(id) == CALLSTATUS_RINGING && DevicesBack(),
               caller + "'s call was not answered (still ringing, Skype untouched)");
        Say("story", caller + " gives up");
        m_sim.CallerHangsUp(id);
        Expect(WaitUntil([&] { return Status(id) == CALLSTATUS_MISSED; }, 3000),
               caller + "'s call is missed");
        Expect(MessageOf(caller).empty(), "no message from " + caller);
    }

private:
    std::string m_strFolder;
    CSkypeSim& m_sim;
    CSimCallAudio& m_audio;
    int m_nFailures = 0;
};

bool WriteDemoSettings(const std::string& folder) {
    CIniFile ini;
    auto set = [&](const char* key, const std::string& value) {
        ini.SetString("Settings", key, value);
    };
    set("SecB4AnsweringOnline", std::to_string(kAnswerDelaySec));
    set("GreetingSoundMsgPath", folder + "/greeting-demo.wav");
    set("GreetingTextMsg", "Hi, this is Vokra: please leave a message after the tone.");
    set("UseNonAuthorizedCallerSettings", "1");
    set("DisableAnswerOfNonAuthCaller", "1");
    set("GreetingSoundMsgPathForNonAuth", folder + "/greeting-stranger.wav");
    set("RcvdMsgsFolderPath", folder + "/");
    set("MuteVolumeOnAnswer", "1");
    set("DebugFileLevel", "1");
    return ini.Save(folder + "/Vokra.ini");
}

}  // namespace

int main(int argc, char** argv) {
    COptions opt;
    if (!ParseArgs(argc, argv, opt))
        return 2;

    const std::string exeFolder = GetProgramFolder();
    std::string folder = opt.strKeep;
    if (folder.empty()) {
        char tmpl[] = "/tmp/vokra-demo-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            std::perror("vokra-demo: mkdtemp");
            return 1;
        }
        folder = tmpl;
    } else {
        folder = fs::absolute(folder).lexically_normal().string();
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (!MakeFolders(folder)) {
            std::fprintf(stderr, "vokra-demo: cannot make %s\n", folder.c_str());
            return 1;
        }
    }

    // The program's folder, with its sounds; the start-up entry goes to a folder of its own.
    bool ok = true;
    for (const char* f : {"beep1.wav", "beep2.wav", "greeting.wav"})
        ok &= CopyInto(exeFolder + f, folder + "/" + f);
    for (const char* f : {"greeting-demo.wav", "greeting-stranger.wav"})
        ok &= CopyInto(exeFolder + "demo/" + f, folder + "/" + f);
    const double tToneSec =
        SoundSeconds(folder + "/beep1.wav") + SoundSeconds(folder + "/beep2.wav") + 0.4;
    ok &= WriteDelayedVoice(exeFolder + "demo/alice.wav", folder + "/caller-alice.wav",
                            tToneSec + SoundSeconds(folder + "/greeting-demo.wav"));
    ok &= WriteDelayedVoice(exeFolder + "demo/bob.wav", folder + "/caller-bob.wav",
                            tToneSec + SoundSeconds(folder + "/greeting-stranger.wav"));
    ok &= MakeFolders(folder + "/config") && MakeFolders(folder + "/caller-side");
    ok &= WriteDemoSettings(folder);
    if (!ok) {
        std::fprintf(stderr, "vokra-demo: the demo folder cannot be prepared\n");
        return 1;
    }
    SetProgramFolder(folder);
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);

    CTimelineLog timeline(opt.bVerbose);
    g_Logger.AddHandler(&timeline);
    Say("demo", "program folder " + folder);
    SelectWaveBackend("virtual");

    // The substitute Skype client: demo.user online, alice a contact, bob nobody's contact.
    CSkypeSim sim;
    CSimCallAudio callAudio(folder + "/caller-side");
    sim.SetCurrentUser(kUser, "Demo User");
    sim.AddContact("alice", "Alice Liddell");
    sim.AddContact("bob", "Bob Stranger", "", 2, SIM_BUDDY_NEVER);
    std::vector<std::string> vecIn{"Microphone"}, vecOut{"Speakers"};
    const CRecordingDeviceList recList;
    for (uint32_t i = 1; i < recList.GetCount(); ++i)
        vecIn.push_back(recList.GetName(i));
    const CPlaybackDeviceList playList;
    for (uint32_t i = 1; i < playList.GetCount(); ++i)
        vecOut.push_back(playList.GetName(i));
    sim.SetAudioDevices(vecIn, vecOut, "Microphone", "Speakers");
    sim.SetCallAudio(&callAudio);
    if (!sim.Start()) {
        std::fprintf(stderr, "vokra-demo: the substitute Skype client cannot start\n");
        return 1;
    }
    Say("skype", "substitute Skype client running, " + std::string(kUser) + " logged in");

    CMsgLoop uiLoop;
    uiLoop.Bind();
    // The blinking of an animation is told once, not at every frame.
    std::string strTray[2];
    CHeadlessShell shell(uiLoop, [&strTray](const std::string& s) {
        if (StartsWith(s, "tray icon: ") && (s == strTray[0] || s == strTray[1]))
            return;
        if (StartsWith(s, "tray icon: ")) {
            strTray[1] = strTray[0];
            strTray[0] = s;
        }
        Say("tray", s);
    });
    CVokraApp app;
    app.SetLockFolder(folder);
    app.SetShell(&shell);
    uiLoop.SetThreadMessageHandler([&app](UINT message, WPARAM, LPARAM) {
        if (message == WM_DEMO_QUIT && app.MainWnd() != nullptr) {
            Say("story", "the user chooses Quit in the tray menu");
            app.MainWnd()->OnTrayMenuCommand(ID_SYSTRAY_MENU_QUIT);
        }
    });

    CDemo demo(folder, sim, callAudio);
    if (!demo.Expect(app.InitInstance(uiLoop), "Vokra started")) {
        app.ExitInstance();
        sim.Stop();
        return 1;
    }

    std::thread story([&] {
        const bool bReady = WaitUntil(
            [&] {
                CCallsDataLock lock;
                return gCurrentUser.m_strUserName == kUser &&
                       gCurrentUser.m_nOnlineStatus == USERSTATUS_ONLINE;
            },
            30000);
        if (demo.Expect(bReady && shell.GetIcon() == TRAY_ICON_ENABLED,
                        "Vokra is attached to Skype, knows demo.user is online, answering is on")) {
            demo.AnsweredCall("alice", folder + "/caller-alice.wav",
                              "Hi, it's Alice. Call me back about Saturday, please.");
            demo.UnansweredCall("bob");
            Say("story", "the user turns on answering calls from non-contacts");
            DisableAnswerOfNonAuthCaller = 0;
            demo.AnsweredCall("bob", folder + "/caller-bob.wav",
                              "Hello, this is Bob from the bike shop. Your bike is ready.");
        }
        uiLoop.PostThreadMessage(WM_DEMO_QUIT);
    });
    uiLoop.Run();
    story.join();
    app.ExitInstance();
    sim.Stop();
    g_Logger.RemoveHandler(&timeline);

    const std::string msgFolder = demo.MessagesFolder();
    std::printf("\nThe messages folder %s:\n", msgFolder.c_str());
    for (const std::string& name : ListFolder(msgFolder)) {
        std::error_code ec;
        const auto size = fs::file_size(msgFolder + "/" + name, ec);
        std::printf("  %-45s %8ju bytes  %.1f s\n", name.c_str(),
                    static_cast<uintmax_t>(ec ? 0 : size), SoundSeconds(msgFolder + "/" + name));
    }
    std::printf("Listen: play '%s/%s'\n", msgFolder.c_str(), demo.MessageOf("alice").c_str());
    if (opt.strKeep.empty()) {
        std::error_code ec;
        fs::remove_all(folder, ec);
        std::printf("(the demo folder is removed; --keep DIR keeps it)\n");
    }
    if (demo.Failures() != 0) {
        std::printf("\nvokra-demo: %d expected step(s) did not happen\n", demo.Failures());
        return 1;
    }
    std::printf("\nvokra-demo: every expected step happened\n");
    return 0;
}
