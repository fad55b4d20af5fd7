#include "platform/audio/PulseCables.h"

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/audio/PulseContext.h"

namespace {

// A device found by name: whether it exists, and the module that made it.
struct CFound {
    bool bExists = false;
    uint32_t uModule = PA_INVALID_INDEX;
};

void OnSink(pa_context*, const pa_sink_info* pInfo, int eol, void* pFound) {
    auto* f = static_cast<CFound*>(pFound);
    if (eol == 0 && pInfo) {
        f->bExists = true;
        f->uModule = pInfo->owner_module;
    }
}

void OnSource(pa_context*, const pa_source_info* pInfo, int eol, void* pFound) {
    auto* f = static_cast<CFound*>(pFound);
    if (eol == 0 && pInfo) {
        f->bExists = true;
        f->uModule = pInfo->owner_module;
    }
}

void OnLoaded(pa_context*, uint32_t index, void* pIndex) {
    *static_cast<uint32_t*>(pIndex) = index;
}

// Lock held. An unknown name is an error reply, which leaves bExists false.
CFound FindSink(CPulseContext& ctx, const std::string& name) {
    CFound f;
    ctx.WaitOperation(pa_context_get_sink_info_by_name(ctx.Get(), name.c_str(), &OnSink, &f));
    return f;
}

CFound FindSource(CPulseContext& ctx, const std::string& name) {
    CFound f;
    ctx.WaitOperation(pa_context_get_source_info_by_name(ctx.Get(), name.c_str(), &OnSource, &f));
    return f;
}

// A description goes into one module argument: its spaces (and any quote or backslash) are
// escaped so the server reads it as one value.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == ' ' || c == '"' || c == '\\' || c == '\'')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

bool LoadModule(CPulseContext& ctx, const char* module, const std::string& args,
                std::string* pError) {
    uint32_t index = PA_INVALID_INDEX;
    ctx.WaitOperation(pa_context_load_module(ctx.Get(), module, args.c_str(), &OnLoaded, &index));
    if (index != PA_INVALID_INDEX)
        return true;
    if (pError)
        *pError = std::string("cannot load ") + module + " " + args + ": " + ctx.LastError();
    return false;
}

bool Unload(CPulseContext& ctx, const CFound& f, std::string* pError) {
    if (!f.bExists || f.uModule == PA_INVALID_INDEX)
        return true;
    if (ctx.WaitOperation(pa_context_unload_module(ctx.Get(), f.uModule, nullptr, nullptr)))
        return true;
    if (pError)
        *pError = "cannot unload module " + std::to_string(f.uModule) + ": " + ctx.LastError();
    return false;
}

CPulseCablesStatus Read(CPulseContext& ctx) {
    CPulseCablesStatus status;
    status.bServer = true;
    for (int n = 1; n <= kPulseCableCount; ++n) {
        status.cables[n - 1].bPlayback = FindSink(ctx, PulseCableSinkName(n)).bExists;
        status.cables[n - 1].bRecording = FindSource(ctx, PulseCableSourceName(n)).bExists;
    }
    return status;
}

}  // namespace

bool CPulseCablesStatus::Complete() const {
    if (!bServer)
        return false;
    for (const CPulseCableEnds& c : cables)
        if (!c.bPlayback || !c.bRecording)
            return false;
    return true;
}

bool CPulseCablesStatus::None() const {
    for (const CPulseCableEnds& c : cables)
        if (c.bPlayback || c.bRecording)
            return false;
    return true;
}

std::string PulseCableSinkName(int n) {
    return "vokra_cable" + std::to_string(n);
}

std::string PulseCableSourceName(int n) {
    return PulseCableSinkName(n) + "_rec";
}

std::string PulseCableDescription(int n) {
    return "Vokra Virtual Cable " + std::to_string(n);
}

CPulseCablesStatus PulseCablesStatus() {
    CPulseContext ctx;
    CPulseCablesStatus status;
    if (!ctx.Connect("Vokra cables", &status.strError))
        return status;
    CPulseLock lock(ctx);
    return Read(ctx);
}

bool CreatePulseCables(std::string* pError) {
    CPulseContext ctx;
    if (!ctx.Connect("Vokra cables", pError))
        return false;
    CPulseLock lock(ctx);
    for (int n = 1; n <= kPulseCableCount; ++n) {
        const std::string sink = PulseCableSinkName(n);
        const std::string description = Quoted(PulseCableDescription(n));
        std::string sinkArgs = "sink_name=" + sink;
        sinkArgs += " sink_properties=device.description=";
        sinkArgs += description;
        if (!FindSink(ctx, sink).bExists && !LoadModule(ctx, "module-null-sink", sinkArgs, pError))
            return false;
        std::string sourceArgs = "source_name=" + PulseCableSourceName(n);
        sourceArgs += " master=";
        sourceArgs += sink;
        sourceArgs += ".monitor source_properties=device.description=";
        sourceArgs += description;
        if (!FindSource(ctx, PulseCableSourceName(n)).bExists &&
            !LoadModule(ctx, "module-remap-source", sourceArgs, pError))
            return false;
    }
    if (Read(ctx).Complete())
        return true;
    if (pError)
        *pError = "the cables were made but are not all there";
    return false;
}

bool RemovePulseCables(std::string* pError) {
    CPulseContext ctx;
    if (!ctx.Connect("Vokra cables", pError))
        return false;
    CPulseLock lock(ctx);
    // The recording end first: it hangs on the playback end's monitor.
    for (int n = 1; n <= kPulseCableCount; ++n) {
        if (!Unload(ctx, FindSource(ctx, PulseCableSourceName(n)), pError) ||
            !Unload(ctx, FindSink(ctx, PulseCableSinkName(n)), pError))
            return false;
    }
    // The server acknowledges an unload before it has carried it out (it finishes on its next
    // turn), so the ends may linger for a moment.
    for (int i = 0; i < 100; ++i) {
        if (Read(ctx).None())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pError)
        *pError = "some cable ends are still there";
    return false;
}
