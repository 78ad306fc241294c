#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/settings.h"
#include "posting/post_client.h"
#include "posting/post_payload.h"
#include "posting/poster_worker.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tools/dashboard_sink/dashboard_sink.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

struct FakePost {
    std::wstring url;
    std::wstring call;
};

std::mutex fakeMutex;
std::condition_variable fakeChanged;
std::vector<FakePost> fakePosts;
bool fakeDelivers = true;
std::atomic<long long> fakeNowMs{0};

bool FakeTransport(const StationSnapshot& snapshot, const std::wstring& url, const std::wstring&,
                   const std::wstring&) {
    std::lock_guard<std::mutex> lock(fakeMutex);
    fakePosts.push_back({url, snapshot.call});
    fakeChanged.notify_all();
    return fakeDelivers;
}

Clock::time_point FakeClock() {
    return Clock::time_point(milliseconds(fakeNowMs.load()));
}

std::vector<FakePost> TakePosts() {
    std::lock_guard<std::mutex> lock(fakeMutex);
    std::vector<FakePost> posts;
    posts.swap(fakePosts);
    return posts;
}

std::vector<std::wstring> TakeUrls() {
    std::vector<std::wstring> urls;
    for (const FakePost& post : TakePosts())
        urls.push_back(post.url);
    return urls;
}

void SetTarget(int index, bool enabled, int intervalSeconds, const std::wstring& url,
               const std::wstring& id = L"id", const std::wstring& key = L"key") {
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    DashboardTarget& target = settings.targets[index];
    target.enabled = enabled;
    target.intervalSeconds = intervalSeconds;
    target.url = url;
    target.dashboardId = id;
    target.apiKey = key;
}

SnapshotRead Write(std::uint64_t version, const std::wstring& call) {
    SnapshotRead read;
    read.version = version;
    read.snapshot.freq = L"14.074";
    read.snapshot.call = call;
    return read;
}

bool ResultsAre(NotifyRecorder& recorder, const std::vector<std::pair<int, bool>>& expected) {
    recorder.WaitFor(
        [&](const std::vector<NotifyEvent>& events) {
            std::size_t results = 0;
            for (const NotifyEvent& event : events)
                results += event.kind == NotifyEvent::PostResult;
            return results >= expected.size();
        },
        milliseconds(5000));
    return recorder.PostResults() == expected;
}

const std::wstring kHosted = L"http://hosted.invalid";
const std::wstring kWordPress = L"http://wp.invalid";

// The rules, one pass at a time, with a clock that moves only when told.
struct PosterRules : testing::Test {
    void SetUp() override {
        posterTransport = &FakeTransport;
        posterClock = &FakeClock;
        fakeNowMs = 5'000'000;
        fakeDelivers = true;
        TakePosts();
        SetTarget(0, true, 30, kHosted);
        SetTarget(1, true, 30, kWordPress);
        state = NewPosterState();
    }
    void TearDown() override {
        posterTransport = &PostStationUpdate;
        posterClock = &Clock::now;
    }
    void At(double secondsFromStart) {
        fakeNowMs = 5'000'000 + static_cast<long long>(secondsFromStart * 1000);
    }
    TempDataFolder data;
    NotifyRecorder recorder;
    PosterState state;
};

} // namespace

TEST_F(PosterRules, NothingIsPostedBeforeTheFirstWrite) {
    RunPosterPass(state, Write(0, L"QQ1ABC"));
    At(4000);
    RunPosterPass(state, Write(0, L"QQ1ABC"));
    EXPECT_TRUE(TakePosts().empty());
    EXPECT_TRUE(recorder.PostResults().empty());
}

TEST_F(PosterRules, FirstWriteGoesAtOnceToEveryEnabledTargetOnly) {
    SetTarget(0, true, 300, kHosted);
    SetTarget(1, false, 300, kWordPress);
    RunPosterPass(state, Write(1, L""));
    EXPECT_EQ(TakeUrls(), std::vector<std::wstring>{kHosted});
    EXPECT_TRUE(ResultsAre(recorder, {{0, true}}));

    SetTarget(1, true, 300, kWordPress);
    RunPosterPass(state, Write(1, L""));
    EXPECT_EQ(TakeUrls(), std::vector<std::wstring>{kWordPress}); // hosted already had version 1
}

TEST_F(PosterRules, WritesWithinTheIntervalWaitForItThenTheNewestGoesOnce) {
    for (const int interval : {30, 60, 120, 300}) {
        SetUp();
        SetTarget(0, true, interval, kHosted);
        SetTarget(1, false, interval, kWordPress);
        RunPosterPass(state, Write(1, L"QQ1ABC"));
        ASSERT_EQ(TakePosts().size(), 1u) << interval;

        At(interval - 1);
        RunPosterPass(state, Write(2, L"QQ1ABC"));
        At(interval - 0.001);
        RunPosterPass(state, Write(3, L"QQ1ABC"));
        EXPECT_TRUE(TakePosts().empty()) << interval;

        At(interval);
        RunPosterPass(state, Write(3, L"QQ1ABC"));
        EXPECT_EQ(TakePosts().size(), 1u) << interval;
        At(interval + 1);
        RunPosterPass(state, Write(3, L"QQ1ABC")); // nothing new written since
        At(2 * interval - 1);
        RunPosterPass(state, Write(4, L"QQ1ABC"));
        EXPECT_TRUE(TakePosts().empty()) << interval;
        At(2 * interval);
        RunPosterPass(state, Write(4, L"QQ1ABC"));
        EXPECT_EQ(TakePosts().size(), 1u) << interval;
    }
}

TEST_F(PosterRules, OnlyTheFirstChangeToANewCallBypassesTheInterval) {
    SetTarget(0, true, 60, kHosted);
    SetTarget(1, false, 60, kWordPress);
    RunPosterPass(state, Write(1, L"QQ1ABC"));
    At(3);
    RunPosterPass(state, Write(2, L"QQ2DEF"));
    auto posts = TakePosts();
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1].call, L"QQ2DEF");

    At(8);
    RunPosterPass(state, Write(3, L"QQ2DEF")); // same call again: back under the interval
    At(20);
    RunPosterPass(state, Write(4, L"")); // a call that becomes empty is no trigger either
    EXPECT_TRUE(TakePosts().empty());
    At(63);
    RunPosterPass(state, Write(4, L""));
    posts = TakePosts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].call, L"");

    At(64); // the call coming back after an empty one is new again
    RunPosterPass(state, Write(5, L"QQ2DEF"));
    EXPECT_EQ(TakePosts().size(), 1u);
}

TEST_F(PosterRules, FailedPostCountsAsAnAttemptAndIsNotRetried) {
    SetTarget(1, false, 30, kWordPress);
    fakeDelivers = false;
    RunPosterPass(state, Write(1, L"QQ1ABC"));
    At(10);
    RunPosterPass(state, Write(2, L"QQ1ABC"));
    At(29);
    RunPosterPass(state, Write(2, L"QQ1ABC"));
    EXPECT_EQ(TakePosts().size(), 1u);
    fakeDelivers = true;
    At(30);
    RunPosterPass(state, Write(2, L"QQ1ABC"));
    EXPECT_EQ(TakePosts().size(), 1u);
    EXPECT_TRUE(ResultsAre(recorder, {{0, false}, {0, true}}));
}

TEST_F(PosterRules, TargetsKeepTheirOwnIntervals) {
    SetTarget(0, true, 30, kHosted);
    SetTarget(1, true, 300, kWordPress);
    RunPosterPass(state, Write(1, L""));
    EXPECT_EQ(TakeUrls(), (std::vector<std::wstring>{kHosted, kWordPress}));
    for (int t = 30; t < 300; t += 30) {
        At(t);
        RunPosterPass(state, Write(1 + t / 30, L""));
        EXPECT_EQ(TakeUrls(), std::vector<std::wstring>{kHosted}) << t;
    }
    At(300);
    RunPosterPass(state, Write(20, L""));
    EXPECT_EQ(TakeUrls(), (std::vector<std::wstring>{kHosted, kWordPress}));
    EXPECT_TRUE(ResultsAre(recorder, {{0, true},
                                      {1, true},
                                      {0, true},
                                      {0, true},
                                      {0, true},
                                      {0, true},
                                      {0, true},
                                      {0, true},
                                      {0, true},
                                      {0, true},
                                      {0, true},
                                      {0, true},
                                      {1, true}}));
}

TEST_F(PosterRules, ChangedSettingsPostNothingByThemselvesAndApplyToTheNextPost) {
    SetTarget(1, false, 30, kWordPress);
    RunPosterPass(state, Write(1, L""));
    ASSERT_EQ(TakePosts().size(), 1u);
    SetTarget(0, true, 30, L"http://moved.invalid", L"new-id", L"new-key");
    At(100);
    RunPosterPass(state, Write(1, L""));
    EXPECT_TRUE(TakePosts().empty());
    RunPosterPass(state, Write(2, L""));
    EXPECT_EQ(TakeUrls(), std::vector<std::wstring>{L"http://moved.invalid"});
}

TEST_F(PosterRules, IncompleteTargetFailsEveryDueAttemptWithoutTraffic) {
    posterTransport = &PostStationUpdate;
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    SetTarget(0, true, 30, sink.BaseUrl(), L"id", L"");
    SetTarget(1, true, 30, sink.BaseUrl(), L"", L"key");
    RunPosterPass(state, Write(1, L"QQ1ABC"));
    RunPosterPass(state, Write(2, L"QQ2DEF"));
    EXPECT_TRUE(ResultsAre(recorder, {{0, false}, {1, false}, {0, false}, {1, false}}));
    EXPECT_EQ(sink.Connections(), 0);
}

namespace {

// The worker thread itself, with the transport faked and the real clock.
struct PosterThread : testing::Test {
    void SetUp() override {
        posterTransport = &FakeTransport;
        TakePosts();
        SetTarget(0, true, 300, kHosted);
        SetTarget(1, false, 300, kWordPress);
    }
    void TearDown() override {
        StopPoster();
        posterTransport = &PostStationUpdate;
    }
    bool WaitForPostOf(const std::wstring& call) {
        std::unique_lock<std::mutex> lock(fakeMutex);
        return fakeChanged.wait_for(lock, seconds(5), [&] {
            for (const FakePost& post : fakePosts)
                if (post.call == call)
                    return true;
            return false;
        });
    }
    TempDataFolder data;
    NotifyRecorder recorder;
};

} // namespace

TEST_F(PosterThread, StartAndStopAreIdempotentAndStopIsPrompt) {
    StartPoster();
    StartPoster();
    EXPECT_TRUE(posterRunning.load());
    const auto start = Clock::now();
    StopPoster();
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    EXPECT_FALSE(posterRunning.load());
    StopPoster();

    StartPoster(); // and it can run again after a stop
    RaiseStationUpdate([](StationSnapshot& s) { s.call = L"QQ9RST"; });
    EXPECT_TRUE(WaitForPostOf(L"QQ9RST"));
}

TEST_F(PosterThread, AWriteWakesTheWorkerAndItsResultIsReported) {
    StartPoster();
    StationSnapshot record;
    record.freq = L"7.074";
    record.call = L"QQ3XYZ";
    RaiseStationUpdate(record);
    EXPECT_TRUE(WaitForPostOf(L"QQ3XYZ"));
    EXPECT_TRUE(recorder.WaitFor(
        [](const std::vector<NotifyEvent>& events) {
            for (const NotifyEvent& event : events)
                if (event.kind == NotifyEvent::PostResult && event.first == 0 && event.second == 1)
                    return true;
            return false;
        },
        seconds(5)));
    for (const auto& result : recorder.PostResults())
        EXPECT_EQ(result.first, 0); // target 1 is disabled
}

TEST(PosterEndToEnd, RaisedUpdateReachesBothDashboardsAndTheirVerdicts) {
    TempDataFolder data;
    NotifyRecorder recorder;
    DashboardSink hosted;
    DashboardSink wordpress;
    SinkOptions refusing;
    refusing.status = 401;
    ASSERT_TRUE(hosted.Start(SinkOptions()));
    ASSERT_TRUE(wordpress.Start(refusing));
    SetTarget(0, true, 30, hosted.BaseUrl() + L"/", L"HOSTED-1", L"k0");
    SetTarget(1, true, 60, wordpress.BaseUrl() + L"/wp", L"7", L"k1");

    StartPoster();
    StationSnapshot record;
    record.freq = L"14.074";
    record.band = L"20m";
    record.call = L"QQ1ABC/P";
    record.location = L"K\u00F6ln";
    RaiseStationUpdate(record);

    // A poster started after earlier writes may first send what was there before; wait for ours.
    const auto receives = [](DashboardSink& sink, const std::string& target,
                             const std::string& body) {
        const auto deadline = Clock::now() + seconds(10);
        for (;;) {
            const auto requests = sink.Requests();
            for (const SinkRequest& request : requests)
                if (request.target == target && request.body == body)
                    return true;
            if (Clock::now() > deadline)
                return false;
            sink.WaitForRequests(requests.size() + 1, milliseconds(500));
        }
    };
    EXPECT_TRUE(receives(hosted, "/?station_update=HOSTED-1", BuildPostBody(record, L"k0")));
    EXPECT_TRUE(receives(wordpress, "/wp/?station_update=7", BuildPostBody(record, L"k1")));
    EXPECT_TRUE(recorder.WaitFor(
        [](const std::vector<NotifyEvent>& events) {
            bool hostedDelivered = false;
            bool wordpressFailed = false;
            for (const NotifyEvent& event : events) {
                if (event.kind != NotifyEvent::PostResult)
                    continue;
                if (event.first == 0)
                    hostedDelivered = event.second == 1;
                else
                    wordpressFailed = event.second == 0;
            }
            return hostedDelivered && wordpressFailed;
        },
        seconds(10)));
    StopPoster();
    for (const auto& result : recorder.PostResults())
        EXPECT_EQ(result.second, result.first == 0) << result.first; // 401 is a failed post
}
