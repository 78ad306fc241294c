#pragma once
// Every user setting in one process-wide record, stored in settings.ini in the data folder.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/profile.h"

constexpr int kDefaultUdpPort = 12060;
constexpr int kDefaultHrdPort = 7809;
constexpr int kDefaultRigctldPort = 4532;
// Every interface; this computer (where both rig programs run unless told otherwise).
inline constexpr const wchar_t* kDefaultUdpAddress = L"0.0.0.0";
inline constexpr const wchar_t* kDefaultHrdHost = L"127.0.0.1";
inline constexpr const wchar_t* kDefaultRigctldHost = kDefaultHrdHost;

// The intervals a dashboard or a rig poll may have, in seconds; anything else reads as
// kFallbackInterval. The hosted service offers nothing shorter than kHostedMinimumInterval.
inline constexpr int kAllowedIntervals[] = {1, 2, 5, 10, 30, 60, 120, 300};
constexpr int kFallbackInterval = 5;
constexpr int kHostedMinimumInterval = 30;
constexpr int kDefaultDashboardInterval = 30;
constexpr int kDefaultHrdInterval = 2;
constexpr int kDefaultRigctldInterval = kDefaultHrdInterval;

// The dashboard targets: 0 the hosted service, 1 a WordPress site.
inline constexpr int kTargetCount = 2;
// settings.ini's sections: one per dashboard target, then the sources' and the program's.
inline constexpr const wchar_t* kTargetSections[kTargetCount] = {L"vellumar", L"wp"};
inline constexpr const wchar_t* kUdpSection = L"udp";
inline constexpr const wchar_t* kAppSection = L"app";
inline constexpr const wchar_t* kHrdSection = L"hrd";
inline constexpr const wchar_t* kRigctldSection = L"rigctld";

struct DashboardTarget {
    bool enabled = false;
    std::wstring url;
    std::wstring dashboardId;
    std::wstring apiKey;
    int intervalSeconds = kDefaultDashboardInterval;
};

struct Settings {
    std::wstring settingsPath;
    DashboardTarget targets[kTargetCount]; // 0: hosted service ("vellumar"), 1: WordPress ("wp")
    bool udpEnabled = true;
    std::wstring udpAddress = kDefaultUdpAddress;
    int udpPort = kDefaultUdpPort;
    bool startMinimized = true;
    bool hrdEnabled = false;
    std::wstring hrdHost = kDefaultHrdHost;
    int hrdPort = kDefaultHrdPort;
    int hrdIntervalSeconds = kDefaultHrdInterval;
    std::wstring hrdMyCall;
    std::wstring hrdOperator;
    bool rigctldEnabled = false;
    std::wstring rigctldHost = kDefaultRigctldHost;
    int rigctldPort = kDefaultRigctldPort;
    int rigctldIntervalSeconds = kDefaultRigctldInterval;
    std::wstring rigctldMyCall;
    std::wstring rigctldOperator;
};

// Worker threads read the fields they need under PostSignal.mutex; the UI thread is the only
// writer.
extern Settings settings;

extern const wchar_t* const kHostedBaseUrl;
extern const wchar_t* const kWordPressDefaultUrl;

// The path of settings.ini; the data folder is created on the way unless `createFolder` is false.
std::wstring ResolveSettingsPath(bool createFolder = true);
// Returns what was found at the settings path; only a missing file is written (with defaults).
ProfileFileState LoadSettings();
// Reads settings.ini again by the rules of a load and, only when it was read, takes its values
// (under PostSignal.mutex) for every field but the path. Writes nothing.
ProfileFileState ReloadSettings();
void SaveSettings();
int NormalizeInterval(int value);
int HostedInterval(int value);

// The settings pages as a front end read them, before the rules of an apply.
struct SettingsForm {
    bool enabled[kTargetCount] = {};
    std::wstring wpUrl;
    std::wstring dashboardId[kTargetCount];
    std::wstring apiKey[kTargetCount];
    long long intervalData[kTargetCount] = {}; // item data of the selected entry; 0 or less: none
    bool udpEnabled = false;
    std::wstring udpAddress;
    std::wstring udpPortText;
    bool startMinimized = false;
    bool hrdEnabled = false;
    std::wstring hrdHost;
    std::wstring hrdPortText;
    long long hrdIntervalData = 0;
    std::wstring hrdMyCall;
    std::wstring hrdOperator;
    bool rigctldEnabled = false;
    std::wstring rigctldHost;
    std::wstring rigctldPortText;
    long long rigctldIntervalData = 0;
    std::wstring rigctldMyCall;
    std::wstring rigctldOperator;
};

// The port, or the fallback when it lies outside 1..65535: never its low 16 bits, which would
// quietly name some other port.
int PortOrDefault(std::int64_t port, int fallback);

// A port typed into a box: its decimal value, or the fallback outside 1..65535 or when it is no
// number.
int PortFromText(const std::wstring& text, int fallback);

// Applies the pages under PostSignal.mutex by the apply rules, then rewrites settings.ini.
void ApplySettings(const SettingsForm& form);

// Whether the tray balloon of a first start was ever shown ([app] in settings.ini), and marking
// that it was.
bool FirstStartHintShown();
void MarkFirstStartHintShown();

// Something in settings.ini that a start would not use as it stands.
enum class SettingsProblemKind {
    FileMissing,        // a start writes the defaults
    FileUnreadable,     // `fileState` says why
    PortOutOfRange,     // not 1..65535
    NotDottedQuad,      // a listen address a start replaces with every interface
    NotHttpUrl,         // neither http:// nor https://
    IntervalNotOffered, // not one of the intervals offered
    MissingCredential,  // an enabled dashboard without its ID or API key
};

struct SettingsProblem {
    SettingsProblemKind kind = SettingsProblemKind::FileMissing;
    ProfileFileState fileState = ProfileFileState::Read;
    const wchar_t* section = L"";
    const wchar_t* key = L"";
    std::wstring value; // as the file holds it
    std::wstring used;  // what a start uses instead, when it replaces the value
};

// Reads the settings file at `path` as a start would and lists, in file order, what it would not
// use as it stands. Writes nothing, not even a missing file.
std::vector<SettingsProblem> SettingsProblems(const std::wstring& path);
