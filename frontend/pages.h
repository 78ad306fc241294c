#pragma once
// What both front ends show the same way: the pages' names, the Live Status rows and the status
// lines' texts. The window puts them on its pages; the console prints them as "page: text".
#include <string>
#include <vector>

#include "core/notify.h"
#include "core/post_outcome.h"
#include "core/settings.h"
#include "core/station_snapshot.h"
#include "core/worker.h"

enum FrontEndPage { kHostedPage, kWpPage, kUdpPage, kHrdPage, kLivePage, kAppPage, kPageCount };
inline constexpr const wchar_t* kPageNames[kPageCount] = {
    L"VLM Dashboard", L"WP Dashboard", L"UDP Receiver",
    L"HRD (TCP)",     L"Live Status",  L"Application settings",
};

struct LiveStatusRow {
    const wchar_t* caption;
    std::wstring StationSnapshot::*field;
};
constexpr int kLiveRowCount = 11;
inline constexpr LiveStatusRow kLiveStatusRows[kLiveRowCount] = {
    {L"Freq (MHz)", &StationSnapshot::freq},   {L"Band", &StationSnapshot::band},
    {L"Mode", &StationSnapshot::mode},         {L"Operating", &StationSnapshot::op_status},
    {L"Last worked", &StationSnapshot::call},  {L"Contest", &StationSnapshot::contestname},
    {L"MyCall", &StationSnapshot::mycall},     {L"OpCall", &StationSnapshot::opcall},
    {L"Radio", &StationSnapshot::radio},       {L"Locator", &StationSnapshot::locator},
    {L"Location", &StationSnapshot::location},
};

// The row's value in the snapshot, "-" when it is empty.
inline const wchar_t* LiveStatusValue(const StationSnapshot& snapshot, const LiveStatusRow& row) {
    return (snapshot.*row.field).empty() ? L"-" : (snapshot.*row.field).c_str();
}

inline constexpr const wchar_t* kStartingText = L"Starting...";
inline constexpr const wchar_t* kStoppedText = L"Stopped";
inline constexpr const wchar_t* kTestModeText = L"Test mode ON \u2014 ignoring UDP";
inline constexpr const wchar_t* kNoPostYetText = L"Last post: -";

// "Last post: OK — 14:03:27", or "Last post: FAILED — 14:03:27 — HTTP 401" (the reason, when there
// is one, after the local time the attempt began).
inline constexpr const wchar_t* kLastPostOkText = L"Last post: OK";
inline constexpr const wchar_t* kLastPostFailedText = L"Last post: FAILED";
std::wstring LastPostText(const PostOutcome& outcome);
// Why a post failed, for a line of its own: "HTTP 401", "no answer", ...; empty when it was
// delivered or not sent at all.
std::wstring PostFailureText(const PostOutcome& outcome);

// rigctld has no page of its own: its controls stand under a heading of this name on the HRD
// page, and the console prefixes its lines with it.
inline constexpr const wchar_t* kRigctldName = L"Hamlib (TCP)";
// What a rig source's lines go under: HRD's page, rigctld's heading.
inline const wchar_t* RigSourceName(RigSource source) {
    return source == RigSource::Hrd ? kPageNames[kHrdPage] : kRigctldName;
}

// A rig source's line while its poller has nothing of its own to say.
inline const wchar_t* RigEnabledText(bool enabled) {
    return enabled ? L"Enabled" : L"Disabled";
}

// A rig source's status line for the state its link is in; `radio` names the connected radio.
std::wstring RigStatusText(RigSource source, RigLinkState state, const std::wstring& radio);

inline constexpr const wchar_t* kUdpBindErrorText = L"Error: cannot bind port ";

// The UDP status line for a listener state (a UdpListenerState), naming the
// address the listener binds for the address text (see UdpListenAddress).
std::wstring UdpStatusText(int state, const std::wstring& addressText, int port);

// The tray tip, from the pages' status lines in page order: "Corvane" while none tells of a
// problem (a failed post, a port that cannot be bound, a rig program out of reach), else "Corvane —
// <page>: <line>" for the first that does, cut to the 127 characters a tip holds.
struct PageStatusLine {
    FrontEndPage page;
    std::wstring text;
};
constexpr std::size_t kTrayTipMax = 127;
std::wstring TrayTipText(const std::vector<PageStatusLine>& lines);

// The balloon of a first start that keeps the window hidden.
inline constexpr const wchar_t* kFirstStartBalloonTitle = L"Corvane runs in the tray";
inline constexpr const wchar_t* kFirstStartBalloonText =
    L"Corvane keeps running here in the notification area. Double-click its icon to open the "
    L"window; right-click it for the menu.";

// The settings a Save may store other than typed, because they were out of range.
enum CorrectedField {
    kHostedIntervalField,
    kWpIntervalField,
    kUdpPortField,
    kHrdHostField,
    kHrdPortField,
    kHrdIntervalField,
    kRigctldHostField,
    kRigctldPortField,
    kRigctldIntervalField,
    kCorrectedFieldCount
};
struct CorrectedValue {
    CorrectedField field;
    std::wstring stored; // as its box now shows it
};
// "Settings saved.", and after it the fields that were stored other than typed.
std::wstring SettingsSavedText(const std::vector<CorrectedValue>& corrected);

// The console's lines about its settings and its workers.
inline constexpr const wchar_t* kSettingsReloadedText = L"Settings reloaded";

// What is wrong with the settings file at `path`, in a few words, for a state other than Read.
std::wstring SettingsFileText(ProfileFileState state, const std::wstring& path);

// One line of `corvane --check` for a problem in the file at `path`, and its line when all is well.
std::wstring SettingsProblemText(const SettingsProblem& problem, const std::wstring& path);
std::wstring NoSettingsProblemText(const std::wstring& path);

// The line before the console stops because a worker could not run.
const wchar_t* WorkerFaultText(WorkerFault fault);
