#pragma once
// What both front ends show the same way: the pages' names, the Live Status rows and the status
// lines' texts. The window puts them on its pages; the console prints them as "page: text".
#include <string>

#include "core/station_snapshot.h"
#include "platform/notify.h"

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

inline const wchar_t* LastPostText(bool delivered) {
    return delivered ? L"Last post: OK" : L"Last post: FAILED";
}

// rigctld has no page of its own: its controls stand under a heading of this name on the HRD
// page, and the console prefixes its lines with it.
inline constexpr const wchar_t* kRigctldName = L"Hamlib (TCP)";

// A rig source's line while its poller has nothing of its own to say.
inline const wchar_t* RigEnabledText(bool enabled) {
    return enabled ? L"Enabled" : L"Disabled";
}

// A rig source's line for what its poller reported; `radio` counts for Connected only.
std::wstring RigStatusText(RigSource source, RigLinkState state, const std::wstring& radio);

// The UDP status line for a listener state (0 Stopped, 1 Listening, 2 BindError), naming the
// address the listener binds for the address text (see UdpListenAddress).
std::wstring UdpStatusText(int state, const std::wstring& addressText, int port);
