#include "posting/poster_worker.h"

#include "core/notify.h"
#include "core/settings.h"
#include "core/worker.h"
#include "platform/clock.h"
#include "posting/post_client.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kWakeInterval = std::chrono::milliseconds(200);
constexpr auto kInitialBacklog = std::chrono::seconds(3600);
// A burst of new calls (a contest log replayed, a logger gone wild) must not become a burst of
// posts, each carrying the API key: the newest state goes out once the floor has passed.
constexpr auto kPostFloor = std::chrono::seconds(1);

Worker posterWorker;

Clock::time_point SteadyNow() {
    return Clock::now();
}

void PosterWorker() {
    PosterState state = NewPosterState();
    if (!posterRunning.load())
        return;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(postSignal.mutex);
            WaitForPostRequest(lock, Clock::now() + kWakeInterval);
            if (!posterRunning.load())
                return;
        }
        RunPosterPass(state, ReadStationSnapshot(), &posterRunning);
    }
}

} // namespace

std::atomic<bool>& posterRunning = posterWorker.running;
std::atomic<PostTransport> posterTransport{&PostStationUpdate};
std::atomic<PosterClock> posterClock{&SteadyNow};

PosterState NewPosterState() {
    PosterState state;
    const Clock::time_point start = posterClock.load()();
    for (TargetPostState& target : state.targets)
        target.lastPostTime = start - kInitialBacklog;
    return state;
}

void RunPosterPass(PosterState& state, const SnapshotRead& read,
                   const std::atomic<bool>* keepGoing) {
    if (read.version == 0)
        return; // no source has written yet
    // A stop cuts a post short and skips what is left of the pass, so that it is prompt.
    const auto stopping = [keepGoing] { return keepGoing && !keepGoing->load(); };
    for (int index = 0; index < kTargetCount && !stopping(); ++index) {
        DashboardTarget target;
        {
            // Copied afresh on every look, so a Save takes effect without a restart.
            std::lock_guard<std::mutex> lock(postSignal.mutex);
            const DashboardTarget& shared = settings.targets[index];
            target.enabled = shared.enabled;
            target.url = shared.url;
            target.dashboardId = shared.dashboardId;
            target.apiKey = shared.apiKey;
            target.intervalSeconds = shared.intervalSeconds;
        }
        TargetPostState& last = state.targets[index];
        if (!target.enabled || read.version == last.lastVersion)
            continue;
        const bool newCall = !read.snapshot.call.empty() && read.snapshot.call != last.lastCall;
        const auto since = posterClock.load()() - last.lastPostTime;
        if (since < kPostFloor ||
            (!newCall && since < std::chrono::seconds(target.intervalSeconds)))
            continue; // looked at again on every pass until the floor or interval has passed

        const int startedAt = LocalSecondOfDay();
        PostOutcome outcome = posterTransport.load()(read.snapshot, target.url, target.dashboardId,
                                                     target.apiKey, keepGoing);
        outcome.secondOfDay = startedAt;
        // A failure counts as an attempt like any other: no retry before the next decision.
        last.lastPostTime = posterClock.load()();
        last.lastVersion = read.version;
        last.lastCall = read.snapshot.call;
        // A post the stop cut short says nothing about the dashboard.
        if (!stopping() || outcome.failure != PostFailure::NoAnswer)
            NotifyPostResult(index, outcome);
    }
}

void WaitForPostRequest(std::unique_lock<std::mutex>& lock,
                        std::chrono::steady_clock::time_point deadline) {
    postSignal.condition.wait_until(
        lock, deadline, [] { return postSignal.postRequested || !posterRunning.load(); });
    postSignal.postRequested = false;
}

void StartPoster() {
    StartWorker(posterWorker, PosterWorker);
}

void StopPoster() {
    // Woken without the mutex; a wake-up lost to that race costs at most one 200 ms wait.
    StopWorker(posterWorker, [] { postSignal.condition.notify_all(); });
}
