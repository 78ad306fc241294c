// The HRD poller against an HRD that goes wrong in every way the simulator knows, one fault after
// another on one running poller: each fault is survived, the poller comes back by itself once
// HRD behaves again, shows what HRD said last, and stops promptly wherever it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "platform/text.h"
#include "sources/hrd/hrd_poller.h"
#include "tests/faults/fault_support.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tools/hrd_sim/hrd_sim.h"

namespace {

using namespace std::chrono_literals;

const std::wstring kReconnecting = L"Reconnecting...";
const std::wstring kNotReachable = L"HRD not reachable \u2014 retrying";
const std::wstring kStopped = L"Stopped";

// A stop notices the flag within one 100 ms slice or at once when it wakes the socket.
constexpr double kHrdStopBoundMs = 1000;

void ConfigureHrd(int port, const std::wstring& myCall) {
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    settings.hrdHost = L"127.0.0.1";
    settings.hrdPort = port;
    settings.hrdIntervalSeconds = 1;
    settings.hrdMyCall = myCall;
    settings.hrdOperator = L"OP1";
}

int CountTexts(NotifyRecorder& recorder, const std::wstring& text) {
    const auto texts = recorder.HrdTexts();
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

bool WaitForTextCount(NotifyRecorder& recorder, const std::wstring& text, int count,
                      std::chrono::milliseconds limit) {
    return recorder.WaitFor(
        [&](const std::vector<NotifyEvent>& events) {
            int seen = 0;
            for (const NotifyEvent& event : events)
                seen += event.kind == NotifyEvent::HrdStatus && event.text == text;
            return seen >= count;
        },
        limit);
}

// A well-behaved HRD that reports this frequency (hertz) and mode.
HrdSimScript Healthy(long long hertz, const std::wstring& mode) {
    HrdSimScript script;
    script.frequencyReply = std::to_wstring(hertz);
    script.modeReply = mode;
    return script;
}

std::wstring Megahertz(long long hertz) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%.3f", static_cast<double>(hertz) / 1e6);
    return text;
}

} // namespace

TEST(HrdFaults, EveryFaultOfTheSimulatorIsSurvivedAndTheLastAnswerShown) {
    const ProcessResources before = CountProcessResources();
    {
        TempDataFolder data;
        NotifyRecorder recorder;
        HrdSim sim;
        ASSERT_TRUE(StartHrdSim(sim, Healthy(14074000, L"USB")));
        ConfigureHrd(sim.port, L"N0CALL");
        StartHrdPoller();
        ASSERT_TRUE(
            WaitForSnapshot([](const StationSnapshot& s) { return s.freq == L"14.074"; }, 10s));

        // How a fault shows: the poller gave the connection up, could not connect, or kept
        // reconnecting at the handshake.
        const auto reconnected = [&] {
            const int seen = CountTexts(recorder, kReconnecting);
            return [&recorder, seen] {
                return WaitForTextCount(recorder, kReconnecting, seen + 1, 15s);
            };
        };
        const auto handshakesFailed = [&] {
            const int seen = HrdSimConnections(sim);
            return [&sim, seen] {
                // Read under the simulator's lock, which the predicate runs with.
                return WaitForHrdSim(
                    sim,
                    [&sim, seen](const std::vector<HrdSimCommand>&) {
                        return sim.connections >= seen + 2;
                    },
                    15s);
            };
        };

        enum Evidence {
            Reconnects,     // "Reconnecting..." once more
            HandshakesFail, // new connections that end at the handshake, without a status
            Publishes,      // nothing fails: the fault's own frequency is shown
        };
        struct Phase {
            const char* name;
            std::function<void(HrdSimScript&)> fault;
            Evidence evidence;
            bool dropFirst; // the fault needs a fresh connection to show
        } phases[] = {
            {"is silent on the frequency",
             [](HrdSimScript& s) {
                 s.fault = HrdSimSilent;
                 s.faultCommand = L"get frequency";
             },
             Reconnects, false},
            {"closes after the length field",
             [](HrdSimScript& s) {
                 s.fault = HrdSimCloseAfterLength;
                 s.faultCommand = L"get frequency";
             },
             Reconnects, false},
            {"sends a length field of 15",
             [](HrdSimScript& s) {
                 s.fault = HrdSimShortLength;
                 s.faultCommand = L"get frequency";
             },
             Reconnects, false},
            {"sends a length field of 1,048,577",
             [](HrdSimScript& s) {
                 s.fault = HrdSimHugeLength;
                 s.faultCommand = L"get frequency";
             },
             Reconnects, false},
            {"sends a frame nobody asked for after the frequency",
             [](HrdSimScript& s) {
                 s.fault = HrdSimUnsolicited;
                 s.faultCommand = L"get frequency";
             },
             Reconnects, false},
            {"closes at Get ID",
             [](HrdSimScript& s) {
                 s.fault = HrdSimCloseAfterLength;
                 s.faultCommand = L"Get ID";
             },
             HandshakesFail, true},
            {"sends bad lengths to every command",
             [](HrdSimScript& s) { s.fault = HrdSimHugeLength; }, HandshakesFail, true},
            {"drops every third poll", [](HrdSimScript& s) { s.dropAfterPolls = 2; }, Reconnects,
             false},
            {"answers one byte per send with trailing NULs",
             [](HrdSimScript& s) {
                 s.oneBytePerSend = true;
                 s.trailingNuls = 3;
             },
             Publishes, true},
        };

        long long hertz = 1840000;
        const std::wstring modes[] = {L"CW", L"LSB", L"FM", L"RTTY"};
        int phaseNumber = 0;
        for (const Phase& phase : phases) {
            SCOPED_TRACE(phase.name);
            const auto start = FaultClock::now();
            const long long faultHertz = hertz + 3000;
            HrdSimScript script = Healthy(faultHertz, L"USB");
            phase.fault(script);
            std::function<bool()> evidence;
            if (phase.evidence == Reconnects)
                evidence = reconnected();
            else if (phase.evidence == HandshakesFail)
                evidence = handshakesFailed();
            else
                evidence = [&] {
                    const std::wstring shown = Megahertz(faultHertz);
                    return WaitForSnapshot(
                        [&](const StationSnapshot& s) { return s.freq == shown; }, 15s);
                };
            SetHrdSimScript(sim, script);
            if (phase.dropFirst)
                DropHrdSimConnection(sim);
            EXPECT_TRUE(evidence());

            // HRD behaves again: the poller is back by itself with HRD's newest answer.
            hertz += 1000000 + 17000;
            const std::wstring mode = modes[phaseNumber++ % 4];
            SetHrdSimScript(sim, Healthy(hertz, mode));
            const std::wstring expected = Megahertz(hertz);
            EXPECT_TRUE(WaitForSnapshot(
                [&](const StationSnapshot& s) { return s.freq == expected && s.mode == mode; },
                15s));
            ReportFigure(std::string("HRD that ") + phase.name + ": back with " +
                         WideToUtf8(expected) + " MHz after " +
                         std::to_string(static_cast<int>(MillisecondsSince(start))) + " ms");
        }

        // HRD goes away and comes back on the same port.
        {
            const auto start = FaultClock::now();
            const int seen = CountTexts(recorder, kNotReachable);
            ASSERT_TRUE(SetHrdSimRefusing(sim, true));
            EXPECT_TRUE(WaitForTextCount(recorder, kNotReachable, seen + 1, 15s));
            hertz += 1000000;
            SetHrdSimScript(sim, Healthy(hertz, L"USB"));
            ASSERT_TRUE(SetHrdSimRefusing(sim, false));
            const std::wstring expected = Megahertz(hertz);
            EXPECT_TRUE(
                WaitForSnapshot([&](const StationSnapshot& s) { return s.freq == expected; }, 15s));
            ReportFigure("HRD that refuses connections, then listens again: back after " +
                         std::to_string(static_cast<int>(MillisecondsSince(start))) + " ms");
        }

        // An HRD without a "get mode" answer, after a restart: the dropdown text is used.
        {
            HrdSimScript script = Healthy(hertz, L"");
            script.dropdownModeReply = L"Mode: AM";
            SetHrdSimScript(sim, script);
            DropHrdSimConnection(sim);
            EXPECT_TRUE(
                WaitForSnapshot([](const StationSnapshot& s) { return s.mode == L"AM"; }, 15s));
        }

        // Save with a changed call: the connection is dropped and the new settings read.
        ConfigureHrd(sim.port, L"N0NEW");
        DropHrdConnection();
        EXPECT_TRUE(
            WaitForSnapshot([](const StationSnapshot& s) { return s.mycall == L"N0NEW"; }, 15s));

        // Stopped while an exchange waits on a silent HRD: the stop wakes it at once.
        {
            HrdSimScript script = Healthy(hertz, L"USB");
            script.fault = HrdSimSilent;
            script.faultCommand = L"get frequency";
            const std::size_t asked = HrdSimCommands(sim).size();
            SetHrdSimScript(sim, script);
            // The silent frequency question has been asked once it is followed by nothing.
            ASSERT_TRUE(WaitForHrdSim(
                sim,
                [asked](const std::vector<HrdSimCommand>& commands) {
                    for (std::size_t i = asked; i < commands.size(); ++i)
                        if (commands[i].text.find(L"get frequency") != std::wstring::npos)
                            return true;
                    return false;
                },
                10s));
            const StationSnapshot shown = ReadStationSnapshot().snapshot;
            const auto start = FaultClock::now();
            StopHrdPoller();
            const double stopMs = MillisecondsSince(start);
            EXPECT_LT(stopMs, kHrdStopBoundMs);
            ReportFigure(
                "HRD poller stop during an unanswered exchange: " + std::to_string(stopMs) + " ms");
            EXPECT_EQ(recorder.HrdTexts().back(), kStopped);
            EXPECT_EQ(ReadStationSnapshot().snapshot, shown); // nothing after the last answer
            EXPECT_EQ(ReadStationSnapshot().snapshot.freq, Megahertz(hertz));
        }

        // Stopped while waiting to retry an HRD that is not there.
        {
            ASSERT_TRUE(SetHrdSimRefusing(sim, true));
            const int seen = CountTexts(recorder, kNotReachable);
            StartHrdPoller();
            ASSERT_TRUE(WaitForTextCount(recorder, kNotReachable, seen + 1, 10s));
            const auto start = FaultClock::now();
            StopHrdPoller();
            const double stopMs = MillisecondsSince(start);
            EXPECT_LT(stopMs, kHrdStopBoundMs);
            ReportFigure("HRD poller stop while waiting to retry: " + std::to_string(stopMs) +
                         " ms");
        }
    }
    ExpectNothingLeaked("HRD faults", before);
}
