#pragma once
// The one current picture of the station's status, its change counter and the poster's wake-up.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>

#include "core/notify.h"

struct StationSnapshot {
    std::wstring freq;
    std::wstring band;
    std::wstring mode;
    std::wstring mycall;
    std::wstring opcall;
    std::wstring radio;
    std::wstring op_status;
    std::wstring locator;
    std::wstring location;
    std::wstring app;
    std::wstring call;
    std::wstring contestname;
    std::wstring freq2;
    std::wstring band2;
    std::wstring mode2;
    std::wstring radio2;
    std::wstring op_status2;
    std::int32_t radios = 1;
};

// The text fields by their form keys, in the record's order; `radios` is the one number beside
// them.
struct SnapshotField {
    const char* key;
    std::wstring StationSnapshot::*value;
};
constexpr int kSnapshotFieldCount = 17;
extern const SnapshotField kSnapshotFields[kSnapshotFieldCount];

bool operator==(const StationSnapshot& a, const StationSnapshot& b);
inline bool operator!=(const StationSnapshot& a, const StationSnapshot& b) {
    return !(a == b);
}

// Guards the shared snapshot, `version` and the logger parser's state.
extern std::mutex snapshotMutex;
extern StationSnapshot stationSnapshot;
extern std::uint64_t version; // 0: no source has written yet

struct PostSignal {
    std::mutex mutex; // also guards the Settings fields that workers read
    std::condition_variable condition;
    bool postRequested = false;
};
extern PostSignal postSignal;

void RequestPost();

// The one way a source publishes: `change` edits the shared snapshot (and the parser state that
// belongs to it) under snapshotMutex; then version + 1, the window is told and the poster woken.
template <typename Change,
          typename = std::enable_if_t<!std::is_same<std::decay_t<Change>, StationSnapshot>::value>>
void RaiseStationUpdate(Change&& change) {
    {
        std::lock_guard<std::mutex> lock(snapshotMutex);
        change(stationSnapshot);
        ++version;
    }
    NotifySnapshotChanged();
    RequestPost();
}

// Replaces the whole record.
void RaiseStationUpdate(const StationSnapshot& record);

struct SnapshotRead {
    StationSnapshot snapshot;
    std::uint64_t version{};
};
SnapshotRead ReadStationSnapshot();
