#pragma once
// The one thread that sends the station's status to the dashboards: a newly worked call at once,
// anything else at most once per dashboard interval, nothing while nothing is written, and never
// two posts to one dashboard less than a second apart.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/post_outcome.h"
#include "core/settings.h"
#include "core/station_snapshot.h"

// Starts the worker unless it runs; stops and joins it (never from the worker itself). Both are
// safe to repeat.
void StartPoster();
void StopPoster();

// The poster's run flag; its wait below ends when it is cleared.
extern std::atomic<bool>& posterRunning;

// The poster's wait; call with postSignal.mutex held by `lock`. Ends when a post was requested,
// the poster is stopping, or the deadline passed; clears the request either way.
void WaitForPostRequest(std::unique_lock<std::mutex>& lock,
                        std::chrono::steady_clock::time_point deadline);

// What the worker remembers of its last attempt to one dashboard.
struct TargetPostState {
    std::chrono::steady_clock::time_point lastPostTime; // end of the last attempt
    std::uint64_t lastVersion = 0;
    std::wstring lastCall;
};

struct PosterState {
    TargetPostState targets[kTargetCount];
};

// Both targets with lastPostTime an hour back, so the first write is never held back.
PosterState NewPosterState();

// One look at both dashboards with one snapshot copy: for each enabled target that has not seen
// this version, posts when the call is new or the interval has passed (and in either case the last
// post is at least a second old), records the attempt and reports its outcome. Once `keepGoing`
// (when given) is false it posts no more, and a post cut short is not reported.
void RunPosterPass(PosterState& state, const SnapshotRead& read,
                   const std::atomic<bool>* keepGoing = nullptr);

// Seams for the tests: how a post goes out and what time it is. Change them only while the
// poster is stopped. Defaults: PostStationUpdate and the steady clock.
using PostTransport = PostOutcome (*)(const StationSnapshot& snapshot, const std::wstring& baseUrl,
                                      const std::wstring& dashboardId, const std::wstring& apiKey,
                                      const std::atomic<bool>* keepGoing);
using PosterClock = std::chrono::steady_clock::time_point (*)();
extern std::atomic<PostTransport> posterTransport;
extern std::atomic<PosterClock> posterClock;
