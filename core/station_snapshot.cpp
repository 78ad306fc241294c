#include "core/station_snapshot.h"

std::mutex snapshotMutex;
StationSnapshot stationSnapshot;
std::uint64_t version = 0;
PostSignal postSignal;

// A field's name is its form key, so the table names each once.
#define SNAPSHOT_FIELD(name)                                                                       \
    { #name, &StationSnapshot::name }
const SnapshotField kSnapshotFields[kSnapshotFieldCount] = {
    SNAPSHOT_FIELD(freq),      SNAPSHOT_FIELD(band),      SNAPSHOT_FIELD(mode),
    SNAPSHOT_FIELD(mycall),    SNAPSHOT_FIELD(opcall),    SNAPSHOT_FIELD(radio),
    SNAPSHOT_FIELD(op_status), SNAPSHOT_FIELD(locator),   SNAPSHOT_FIELD(location),
    SNAPSHOT_FIELD(app),       SNAPSHOT_FIELD(call),      SNAPSHOT_FIELD(contestname),
    SNAPSHOT_FIELD(freq2),     SNAPSHOT_FIELD(band2),     SNAPSHOT_FIELD(mode2),
    SNAPSHOT_FIELD(radio2),    SNAPSHOT_FIELD(op_status2)};
#undef SNAPSHOT_FIELD

bool operator==(const StationSnapshot& a, const StationSnapshot& b) {
    for (const SnapshotField& field : kSnapshotFields)
        if (a.*field.value != b.*field.value)
            return false;
    return a.radios == b.radios;
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
