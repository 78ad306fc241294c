#include <gtest/gtest.h>

#include <chrono>
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

const std::wstring kHosted = L"http://hosted.invalid";
const std::wstring kWordPress = L"http://wp.invalid";

// The faked transport and clock, called only from the test's own thread.
std::string fakePosted; // H(osted), W(ordPress) or ? for another URL, per post
bool fakeDelivers = true;
long long fakeNowMs = 0;

bool FakeTransport(const StationSnapshot&, const std::wstring& url, const std::wstring&,
                   const std::wstring&) {
    fakePosted += url == kHosted ? 'H' : url == kWordPress ? 'W' : '?';
    return fakeDelivers;
}

Clock::time_point FakeClock() {
    return Clock::time_point(milliseconds(fakeNowMs));
}

std::string Take() {
    std::string taken;
    taken.swap(fakePosted);
    return taken;
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

bool ResultsAre(NotifyRecorder& recorder, const std::vector<std::pair<int, bool>>& expected) {
    recorder.WaitFor(
        [&](const std::vector<NotifyEvent>& events) {
            std::size_t results = 0;
            for (const NotifyEvent& event : events)
                results += event.kind == NotifyEvent::PostResult;
            return results >= expected.size();
        },
        seconds(5));
    return recorder.PostResults() == expected;
}

// The rules, one pass at a time, with a faked transport and a clock that moves only when told.
struct PosterRules : testing::Test {
    void SetUp() override {
        posterTransport = &FakeTransport;
        posterClock = &FakeClock;
        fakeNowMs = 5'000'000;
        fakeDelivers = true;
        Take();
        SetTarget(0, true, 30, kHosted);
        SetTarget(1, false, 30, kWordPress);
        state = NewPosterState();
    }
    void TearDown() override {
        posterTransport = &PostStationUpdate;
        posterClock = &Clock::now;
    }
    // Each step: a pass `at` seconds after the start over a snapshot written `version` times.
    struct Step {
        double at;
        std::uint64_t version;
        std::string posted; // what Take() sees after the pass
        std::wstring call = L"QQ1ABC";
    };
    void Expect(std::initializer_list<Step> steps) {
        for (const Step& step : steps) {
            fakeNowMs = 5'000'000 + static_cast<long long>(step.at * 1000);
            SnapshotRead read;
            read.version = step.version;
            read.snapshot.call = step.call;
            RunPosterPass(state, read);
            EXPECT_EQ(Take(), step.posted) << "at " << step.at << " s";
        }
    }
    TempDataFolder data;
    NotifyRecorder recorder;
    PosterState state;
};

} // namespace

TEST_F(PosterRules, NothingBeforeTheFirstWriteThenItGoesAtOnceToEveryEnabledTarget) {
    Expect({{0, 0, ""}});
    EXPECT_TRUE(recorder.PostResults().empty());
    Expect({{0, 1, "H", L""}});
    EXPECT_TRUE(ResultsAre(recorder, {{0, true}}));
    SetTarget(1, true, 30, kWordPress);
    Expect({{0, 1, "W", L""}}); // hosted already had version 1
}

TEST_F(PosterRules, WritesWithinTheIntervalWaitForItThenTheNewestGoesOnce) {
    for (const double i : {30, 60, 120, 300}) {
        SetUp();
        SetTarget(0, true, static_cast<int>(i), kHosted);
        Expect({{0, 1, "H"}, {i - 1, 2, ""}, {i - 0.001, 3, ""}, {i, 3, "H"}});
        Expect({{i + 1, 3, ""}, {2 * i - 1, 4, ""}, {2 * i, 4, "H"}}); // only what is new goes
    }
}

TEST_F(PosterRules, OnlyTheFirstChangeToANewCallBypassesTheInterval) {
    SetTarget(0, true, 60, kHosted);
    // The same call again, or one that becomes empty, waits; one coming back after empty is new.
    Expect({{0, 1, "H", L"QQ1ABC"}, {3, 2, "H", L"QQ2DEF"}, {8, 3, "", L"QQ2DEF"}});
    Expect({{20, 4, "", L""}, {63, 4, "H", L""}, {64, 5, "H", L"QQ2DEF"}});
}

TEST_F(PosterRules, BurstOfNewCallsWaitsForTheOneSecondFloorThenTheNewestGoes) {
    SetTarget(1, true, 1, kWordPress);
    Expect({{0, 1, "HW", L"A"}, {0.3, 2, "", L"B"}, {0.999, 3, "", L"C"}, {1, 3, "HW", L"C"}});
    Expect({{1.5, 4, "", L"C"}, {2, 4, "W", L"C"}, {4.5, 5, "HW", L"D"}}); // D alone: at once
}

TEST_F(PosterRules, FailedPostCountsAsAnAttemptAndIsNotRetried) {
    fakeDelivers = false;
    Expect({{0, 1, "H"}, {10, 2, ""}, {29, 2, ""}});
    fakeDelivers = true;
    Expect({{30, 2, "H"}});
    EXPECT_TRUE(ResultsAre(recorder, {{0, false}, {0, true}}));
}

TEST_F(PosterRules, TargetsKeepTheirOwnIntervals) {
    SetTarget(1, true, 300, kWordPress);
    Expect({{0, 1, "HW", L""}});
    for (int t = 30; t < 300; t += 30)
        Expect({{double(t), 1u + t / 30, "H", L""}});
    Expect({{300, 20, "HW", L""}});
}

TEST_F(PosterRules, ChangedSettingsPostNothingByThemselvesAndApplyToTheNextPost) {
    Expect({{0, 1, "H", L""}});
    SetTarget(0, true, 30, kWordPress, L"new-id", L"new-key");
    Expect({{100, 1, "", L""}, {100, 2, "W", L""}});
}

TEST_F(PosterRules, IncompleteTargetFailsEveryDueAttemptWithoutTraffic) {
    posterTransport = &PostStationUpdate;
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    SetTarget(0, true, 30, sink.BaseUrl(), L"id", L"");
    SetTarget(1, true, 30, sink.BaseUrl(), L"", L"key");
    Expect({{0, 1, "", L"QQ1ABC"}, {1, 2, "", L"QQ2DEF"}});
    EXPECT_TRUE(ResultsAre(recorder, {{0, false}, {1, false}, {0, false}, {1, false}}));
    EXPECT_EQ(sink.Connections(), 0);
}

// The real worker, client and sinks: a write before the start, a new call while it runs, a restart.
TEST(PosterEndToEnd, RaisedUpdatesReachBothDashboardsWithTheirVerdicts) {
    TempDataFolder data;
    NotifyRecorder recorder;
    DashboardSink hosted, wordpress;
    SinkOptions refusing;
    refusing.status = 401;
    ASSERT_TRUE(hosted.Start(SinkOptions()));
    ASSERT_TRUE(wordpress.Start(refusing));
    SetTarget(0, true, 30, hosted.BaseUrl() + L"/", L"HOSTED-1", L"k0");
    SetTarget(1, true, 60, wordpress.BaseUrl() + L"/wp", L"7", L"k1");
    const auto bothHold = [&](std::size_t count) {
        return hosted.WaitForRequests(count, seconds(10)) &&
               wordpress.WaitForRequests(count, seconds(10));
    };
    StationSnapshot first, second;
    first.call = L"QQ1ABC/P";
    first.location = L"K\u00F6ln";
    second.call = L"QQ2DEF";
    RaiseStationUpdate(first); // before the start: the worker's first pass is certain to carry it
    StartPoster();
    StartPoster();
    ASSERT_TRUE(bothHold(1));
    RaiseStationUpdate(second);
    ASSERT_TRUE(bothHold(2));
    const auto start = Clock::now();
    StopPoster();
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    EXPECT_FALSE(posterRunning.load());
    StopPoster();
    StartPoster(); // a new worker posts what is there once more
    ASSERT_TRUE(bothHold(3));
    StopPoster();
    const std::pair<int, bool> ok{0, true}, refused{1, false}; // 401 is a failed post
    EXPECT_TRUE(ResultsAre(recorder, {ok, refused, ok, refused, ok, refused}));
    const auto h = hosted.Requests(), w = wordpress.Requests();
    ASSERT_EQ(h.size() + w.size(), 6u);
    EXPECT_EQ(h[0].target, "/?station_update=HOSTED-1");
    EXPECT_EQ(w[0].target, "/wp/?station_update=7");
    EXPECT_EQ(h[0].body, BuildPostBody(first, L"k0"));
    EXPECT_EQ(w[0].body, BuildPostBody(first, L"k1"));
    EXPECT_EQ(h[1].body, BuildPostBody(second, L"k0"));
    EXPECT_EQ(w[1].body, BuildPostBody(second, L"k1"));
}
