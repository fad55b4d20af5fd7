#include "platform/audio/PulseDevices.h"

namespace {

struct CListing {
    std::vector<CPulseDevice> devices;
    bool bOk = true;
};

void OnSink(pa_context*, const pa_sink_info* pInfo, int eol, void* pListing) {
    auto* l = static_cast<CListing*>(pListing);
    if (eol < 0)
        l->bOk = false;
    else if (!eol && pInfo)
        l->devices.push_back({pInfo->name, pInfo->description ? pInfo->description : pInfo->name});
}

void OnSource(pa_context*, const pa_source_info* pInfo, int eol, void* pListing) {
    auto* l = static_cast<CListing*>(pListing);
    if (eol < 0)
        l->bOk = false;
    // A monitor only repeats a playback device; the cables' recording ends are remapped
    // sources of their own, not monitors.
    else if (!eol && pInfo && pInfo->monitor_of_sink == PA_INVALID_INDEX)
        l->devices.push_back({pInfo->name, pInfo->description ? pInfo->description : pInfo->name});
}

}  // namespace

bool CPulseDeviceList::Refresh(CPulseContext& ctx, EWaveKind kind) {
    if (!ctx.IsAlive())
        return false;
    CListing listing;
    pa_operation* pOp = kind == EWaveKind::Out
                            ? pa_context_get_sink_info_list(ctx.Get(), &OnSink, &listing)
                            : pa_context_get_source_info_list(ctx.Get(), &OnSource, &listing);
    if (!ctx.WaitOperation(pOp) || !listing.bOk)
        return false;
    Merge(kind == EWaveKind::Out ? m_out : m_in, listing.devices);
    return true;
}

void CPulseDeviceList::Merge(std::vector<CPulseDevice>& known,
                             const std::vector<CPulseDevice>& now) {
    for (CPulseDevice& d : known)
        d.bPresent = false;
    for (const CPulseDevice& n : now) {
        bool bFound = false;
        for (CPulseDevice& d : known) {
            if (d.strName == n.strName) {
                d.strDescription = n.strDescription;
                d.bPresent = true;
                bFound = true;
                break;
            }
        }
        if (!bFound)
            known.push_back(n);
    }
}
