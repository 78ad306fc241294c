#include "sources/udp/test_mode.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

std::atomic<bool> testModeRunning{false};

namespace {

struct DemoStep {
    const wchar_t* freq;
    const wchar_t* band;
    const wchar_t* mode;
    bool calling;
};

constexpr DemoStep kDemoSteps[kDemoStepCount] = {
    {L"14.074", L"20m", L"FT8", true}, {L"7.130", L"40m", L"SSB", false},
    {L"21.025", L"15m", L"CW", true},  {L"3.573", L"80m", L"FT8", false},
    {L"28.480", L"10m", L"SSB", true}, {L"50.313", L"6m", L"FT8", false},
    {L"144.174", L"2m", L"FT8", true},
};

// A step is shown for 30 slices; the flag is looked at before each, so a stop is seen quickly.
constexpr int kSlicesPerStep = 30;
constexpr std::chrono::milliseconds kSlice{100};

std::thread testModeThread;
// Lets StopTestMode cut a slice short instead of waiting it out.
std::mutex sliceMutex;
std::condition_variable sliceWake;

void WaitOneSlice() {
    const auto until = std::chrono::steady_clock::now() + kSlice;
    std::unique_lock<std::mutex> lock(sliceMutex);
    sliceWake.wait_until(lock, until, [] { return !testModeRunning.load(); });
}

void TestModeWorker() {
    for (std::uint64_t counter = 0; testModeRunning.load(); ++counter) {
        RaiseStationUpdate(DemoStepRecord(counter));
        for (int slice = 0; slice < kSlicesPerStep && testModeRunning.load(); ++slice)
            WaitOneSlice();
    }
}

} // namespace

StationSnapshot DemoStepRecord(std::uint64_t counter) {
    const DemoStep& step = kDemoSteps[counter % kDemoStepCount];
    StationSnapshot record;
    record.freq = step.freq;
    record.band = step.band;
    record.mode = step.mode;
    record.op_status = step.calling ? L"Is calling" : L"Is searching";
    record.mycall = L"N0CALL";
    record.opcall = L"TEST";
    record.radio = L"Test N1MM";
    record.app = L"N1MM";
    record.call = L"QQ1ABC";
    record.contestname = L"CQ WW DX";
    record.radios = 1;
    return record;
}

void StartTestMode() {
    if (testModeRunning.exchange(true))
        return;
    if (testModeThread.joinable())
        testModeThread.join();
    testModeThread = std::thread(TestModeWorker);
}

void StopTestMode() {
    if (testModeRunning.exchange(false)) {
        // Taking the mutex orders the flag's change before the worker's next predicate test.
        { std::lock_guard<std::mutex> lock(sliceMutex); }
        sliceWake.notify_all();
    }
    if (testModeThread.joinable())
        testModeThread.join();
}
