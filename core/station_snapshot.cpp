#include "core/station_snapshot.h"

std::mutex snapshotMutex;
StationSnapshot stationSnapshot;
std::uint64_t version = 0;
PostSignal postSignal;

bool operator==(const StationSnapshot& a, const StationSnapshot& b) {
    return a.freq == b.freq && a.band == b.band && a.mode == b.mode && a.mycall == b.mycall &&
           a.opcall == b.opcall && a.radio == b.radio && a.op_status == b.op_status &&
           a.locator == b.locator && a.location == b.location && a.app == b.app &&
           a.call == b.call && a.contestname == b.contestname && a.freq2 == b.freq2 &&
           a.band2 == b.band2 && a.mode2 == b.mode2 && a.radio2 == b.radio2 &&
           a.op_status2 == b.op_status2 && a.radios == b.radios;
}

void RequestPost() {
    {
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        postSignal.postRequested = true;
    }
    postSignal.condition.notify_one();
}

void RaiseStationUpdate(const StationSnapshot& record) {
    RaiseStationUpdate([&record](StationSnapshot& shared) { shared = record; });
}

SnapshotRead ReadStationSnapshot() {
    SnapshotRead read;
    std::lock_guard<std::mutex> lock(snapshotMutex);
    read.version = version;
    read.snapshot = stationSnapshot;
    return read;
}
