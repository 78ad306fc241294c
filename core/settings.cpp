#include "core/settings.h"

#include <climits>
#include <mutex>

#include "core/numbers.h"
#include "core/station_snapshot.h"
#include "platform/paths.h"
#include "platform/profile.h"

#define CORVANE_WIDEN2(text) L##text
#define CORVANE_WIDEN(text) CORVANE_WIDEN2(text)

Settings settings;

const wchar_t* const kHostedBaseUrl = CORVANE_WIDEN(CORVANE_HOSTED_BASE_URL);
const wchar_t* const kWordPressDefaultUrl = CORVANE_WIDEN(CORVANE_WP_DEFAULT_URL);

namespace {

// Set once the balloon of a first start has been shown; absent in older files, which never need it.
const wchar_t* const kFirstStartHintKey = L"first_start_hint_shown";

bool ReadBool(const ProfileFile& file, const wchar_t* section, const wchar_t* key, bool fallback) {
    return ProfileGetInt(file, section, key, fallback ? 1 : 0) != 0;
}

int ReadInt(const ProfileFile& file, const wchar_t* section, const wchar_t* key, int fallback) {
    return ProfileGetInt(file, section, key, fallback);
}

std::wstring ReadText(const ProfileFile& file, const wchar_t* section, const wchar_t* key,
                      const std::wstring& fallback) {
    return ProfileGetString(file, section, key, fallback);
}

void WriteText(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
    ProfileWriteString(settings.settingsPath, section, key, value);
}

void WriteInt(const wchar_t* section, const wchar_t* key, int value) {
    WriteText(section, key, std::to_wstring(value));
}

} // namespace

std::wstring ResolveSettingsPath() {
    const std::wstring folder = DataFolder();
    if (folder.empty())
        return L"settings.ini";
    return folder + kPathSeparator + L"settings.ini";
}

int HostedInterval(int value) {
    return value < kHostedMinimumInterval ? kHostedMinimumInterval : value;
}

int NormalizeInterval(int value) {
    for (const int allowed : kAllowedIntervals)
        if (value == allowed)
            return value;
    return kFallbackInterval;
}

ProfileFileState LoadSettings() {
    settings.settingsPath = ResolveSettingsPath();
    // Read and parsed once for all nineteen keys.
    const ProfileFile file = ProfileOpen(settings.settingsPath);

    const wchar_t* const hostedSection = kTargetSections[0];
    DashboardTarget& hosted = settings.targets[0];
    hosted.url = kHostedBaseUrl;
    hosted.enabled = ReadBool(file, hostedSection, L"enabled", true);
    hosted.dashboardId = ReadText(file, hostedSection, L"id", L"");
    hosted.apiKey = ReadText(file, hostedSection, L"api_key", L"");
    hosted.intervalSeconds = HostedInterval(
        NormalizeInterval(ReadInt(file, hostedSection, L"interval", kDefaultDashboardInterval)));

    const wchar_t* const wpSection = kTargetSections[1];
    DashboardTarget& wp = settings.targets[1];
    wp.enabled = ReadBool(file, wpSection, L"enabled", false);
    wp.url = ReadText(file, wpSection, L"url", kWordPressDefaultUrl);
    wp.dashboardId = ReadText(file, wpSection, L"id", L"");
    wp.apiKey = ReadText(file, wpSection, L"api_key", L"");
    wp.intervalSeconds =
        NormalizeInterval(ReadInt(file, wpSection, L"interval", kDefaultDashboardInterval));

    settings.udpEnabled = ReadBool(file, kUdpSection, L"enabled", true);
    settings.udpAddress = ReadText(file, kUdpSection, L"ip", kDefaultUdpAddress);
    settings.udpPort = ReadInt(file, kUdpSection, L"port", kDefaultUdpPort);

    settings.startMinimized = ReadBool(file, kAppSection, L"start_minimized", true);

    settings.hrdEnabled = ReadBool(file, kHrdSection, L"enabled", false);
    settings.hrdHost = ReadText(file, kHrdSection, L"host", kDefaultHrdHost);
    settings.hrdPort = ReadInt(file, kHrdSection, L"port", kDefaultHrdPort);
    settings.hrdIntervalSeconds =
        NormalizeInterval(ReadInt(file, kHrdSection, L"interval", kDefaultHrdInterval));
    settings.hrdMyCall = ReadText(file, kHrdSection, L"mycall", L"");
    settings.hrdOperator = ReadText(file, kHrdSection, L"operator", L"");

    // Only a missing file is written at load: one we cannot read is left for the user to mend.
    if (file.state == ProfileFileState::Missing)
        SaveSettings();
    return file.state;
}

void SaveSettings() {
    for (int index = 0; index < 2; ++index) {
        const DashboardTarget& target = settings.targets[index];
        const wchar_t* section = kTargetSections[index];
        WriteInt(section, L"enabled", target.enabled ? 1 : 0);
        if (index == 1) // the hosted service's URL is built in, never stored
            WriteText(section, L"url", target.url);
        WriteText(section, L"id", target.dashboardId);
        WriteText(section, L"api_key", target.apiKey);
        WriteInt(section, L"interval", target.intervalSeconds);
    }
    WriteInt(kUdpSection, L"enabled", settings.udpEnabled ? 1 : 0);
    WriteText(kUdpSection, L"ip", settings.udpAddress);
    WriteInt(kUdpSection, L"port", settings.udpPort);
    WriteInt(kAppSection, L"start_minimized", settings.startMinimized ? 1 : 0);
    WriteInt(kHrdSection, L"enabled", settings.hrdEnabled ? 1 : 0);
    WriteText(kHrdSection, L"host", settings.hrdHost);
    WriteInt(kHrdSection, L"port", settings.hrdPort);
    WriteInt(kHrdSection, L"interval", settings.hrdIntervalSeconds);
    WriteText(kHrdSection, L"mycall", settings.hrdMyCall);
    WriteText(kHrdSection, L"operator", settings.hrdOperator);
}

int PortFromText(const std::wstring& text, int fallback) {
    return PortOrDefault(LeadingInteger(text), fallback);
}

int PortOrDefault(std::int64_t port, int fallback) {
    return port >= 1 && port <= 65535 ? static_cast<int>(port) : fallback;
}

namespace {

// What a load would make of it, so that what a Save stores is what the next start uses.
int IntervalFromItemData(long long data) {
    return NormalizeInterval(data > 0 && data <= INT_MAX ? static_cast<int>(data)
                                                         : kFallbackInterval);
}

} // namespace

void ApplySettings(const SettingsForm& form) {
    {
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        for (int index = 0; index < 2; ++index) {
            DashboardTarget& target = settings.targets[index];
            target.enabled = form.enabled[index];
            target.dashboardId = form.dashboardId[index];
            target.apiKey = form.apiKey[index];
            target.intervalSeconds = IntervalFromItemData(form.intervalData[index]);
        }
        settings.targets[0].url = kHostedBaseUrl;
        settings.targets[0].intervalSeconds = HostedInterval(settings.targets[0].intervalSeconds);
        settings.targets[1].url = form.wpUrl;
        settings.udpEnabled = form.udpEnabled;
        settings.udpAddress = form.udpAddress;
        settings.udpPort = PortFromText(form.udpPortText, kDefaultUdpPort);
        settings.startMinimized = form.startMinimized;
        settings.hrdEnabled = form.hrdEnabled;
        settings.hrdHost = form.hrdHost.empty() ? std::wstring(kDefaultHrdHost) : form.hrdHost;
        settings.hrdPort = PortFromText(form.hrdPortText, kDefaultHrdPort);
        settings.hrdIntervalSeconds = IntervalFromItemData(form.hrdIntervalData);
        settings.hrdMyCall = form.hrdMyCall;
        settings.hrdOperator = form.hrdOperator;
    }
    SaveSettings();
}

bool FirstStartHintShown() {
    return ProfileGetInt(ProfileOpen(settings.settingsPath), kAppSection, kFirstStartHintKey, 0) !=
           0;
}

void MarkFirstStartHintShown() {
    ProfileWriteString(settings.settingsPath, kAppSection, kFirstStartHintKey, L"1");
}
