#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/station_snapshot.h"
#include "posting/poster_worker.h"
#include "tests/support/notify_recorder.h"

namespace {

using Clock = std::chrono::steady_clock;

// Takes and clears whatever request is pending, as the poster's wait does.
bool TakeRequest(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(postSignal.mutex);
    const bool wasRequested = postSignal.postRequested;
    WaitForPostRequest(lock, Clock::now() + limit);
    return wasRequested || !posterRunning.load();
}

struct PosterFlag {
    PosterFlag() { posterRunning = true; }
    ~PosterFlag() { posterRunning = false; }
};

} // namespace

TEST(StationSnapshot, DefaultRecordIsEmptyWithOneRadio) {
    const StationSnapshot record;
    EXPECT_TRUE(record.freq.empty());
    EXPECT_TRUE(record.op_status2.empty());
    EXPECT_EQ(record.radios, 1);
}

TEST(StationSnapshot, EveryWriteMovesVersionByOneEvenWithoutAChange) {
    PosterFlag running;
    StationSnapshot record;
    record.freq = L"14.074";
    record.call = L"QQ1ABC";
    const std::uint64_t before = ReadStationSnapshot().version;
    RaiseStationUpdate(record);
    RaiseStationUpdate(record);
    const SnapshotRead read = ReadStationSnapshot();
    EXPECT_EQ(read.version, before + 2);
    EXPECT_EQ(read.snapshot, record);

    RaiseStationUpdate([](StationSnapshot& shared) { shared.call = L"QQ2XYZ"; });
    const SnapshotRead edited = ReadStationSnapshot();
    EXPECT_EQ(edited.version, before + 3);
    EXPECT_EQ(edited.snapshot.call, L"QQ2XYZ");
    EXPECT_EQ(edited.snapshot.freq, L"14.074") << "a field edit leaves the rest";
}

TEST(PostSignal, ARequestIsALevelNotACount) {
    PosterFlag running;
    TakeRequest(std::chrono::milliseconds(0));
    for (int i = 0; i < 50; ++i)
        RequestPost();
    EXPECT_TRUE(TakeRequest(std::chrono::milliseconds(0)));
    std::unique_lock<std::mutex> lock(postSignal.mutex);
    EXPECT_FALSE(postSignal.postRequested) << "fifty requests collapse into one look";
}

TEST(PostSignal, RaiseWithoutAWindowOrSinkStillRequestsAPost) {
    PosterFlag running;
    TakeRequest(std::chrono::milliseconds(0));
    RaiseStationUpdate(StationSnapshot{});
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    EXPECT_TRUE(postSignal.postRequested);
}

TEST(PostSignal, RaiseTellsTheFrontEndOncePerWrite) {
    PosterFlag running;
    NotifyRecorder recorder;
    RaiseStationUpdate(StationSnapshot{});
    RaiseStationUpdate([](StationSnapshot& shared) { shared.mode = L"CW"; });
    EXPECT_TRUE(
        recorder.WaitFor([](const std::vector<NotifyEvent>& events) { return events.size() >= 2; },
                         std::chrono::seconds(5)));
    EXPECT_EQ(recorder.SnapshotChanges(), 2);
}

TEST(PostSignal, TheWaitEndsAtItsDeadlineWithoutARequest) {
    PosterFlag running;
    TakeRequest(std::chrono::milliseconds(0));
    std::unique_lock<std::mutex> lock(postSignal.mutex);
    const auto start = Clock::now();
    WaitForPostRequest(lock, start + std::chrono::milliseconds(200));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(195));
    EXPECT_LT(waited, std::chrono::seconds(2));
    EXPECT_FALSE(postSignal.postRequested);
}

TEST(PostSignal, ARequestWakesTheWaitEarlyAndIsCleared) {
    PosterFlag running;
    TakeRequest(std::chrono::milliseconds(0));
    std::thread writer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        RequestPost();
    });
    std::unique_lock<std::mutex> lock(postSignal.mutex);
    const auto start = Clock::now();
    WaitForPostRequest(lock, start + std::chrono::seconds(10));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(postSignal.postRequested);
    lock.unlock();
    writer.join();
}

TEST(PostSignal, AClearedRunFlagEndsTheWait) {
    posterRunning = false;
    std::unique_lock<std::mutex> lock(postSignal.mutex);
    postSignal.postRequested = false;
    const auto start = Clock::now();
    WaitForPostRequest(lock, start + std::chrono::seconds(10));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}
