#include "sources/udp/test_mode.h"

#include "core/worker.h"
#include "sources/udp/logger_parser.h"

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

// A step is shown for three seconds.
constexpr int kSlicesPerStep = 3 * kSlicesPerSecond;

Worker testModeWorker;

void TestModeWorker() {
    for (std::uint64_t counter = 0; testModeRunning.load(); ++counter) {
        RaiseStationUpdate(DemoStepRecord(counter));
        WaitSlices(testModeWorker, kSlicesPerStep);
    }
}

} // namespace

std::atomic<bool>& testModeRunning = testModeWorker.running;

StationSnapshot DemoStepRecord(std::uint64_t counter) {
    const DemoStep& step = kDemoSteps[counter % kDemoStepCount];
    StationSnapshot record;
    record.freq = step.freq;
    record.band = step.band;
    record.mode = step.mode;
    record.op_status = step.calling ? kOpCalling : kOpSearching;
    record.mycall = L"N0CALL";
    record.opcall = L"TEST";
    record.radio = L"Test N1MM";
    record.app = kN1mmApp;
    record.call = L"QQ1ABC";
    record.contestname = L"CQ WW DX";
    record.radios = 1;
    return record;
}

void StartTestMode() {
    StartWorker(testModeWorker, TestModeWorker);
}

void StopTestMode() {
    StopWorker(testModeWorker);
}
