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

const wchar_t* const kSectionNames[2] = {L"vellumar", L"wp"};

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

int NormalizeInterval(int value) {
    switch (value) {
    case 1:
    case 2:
    case 5:
    case 10:
    case 30:
    case 60:
    case 120:
    case 300:
        return value;
    default:
        return 5;
    }
}

std::wstring ReadProfileString(const wchar_t* section, const wchar_t* key,
                               const std::wstring& fallback) {
    return ProfileReadString(settings.settingsPath, section, key, fallback);
}

ProfileFileState LoadSettings() {
    settings.settingsPath = ResolveSettingsPath();
    // Read and parsed once for all the keys.
    const ProfileFile file = ProfileOpen(settings.settingsPath);

    DashboardTarget& hosted = settings.targets[0];
    hosted.url = kHostedBaseUrl;
    hosted.enabled = ReadBool(file, L"vellumar", L"enabled", true);
    hosted.dashboardId = ReadText(file, L"vellumar", L"id", L"");
    hosted.apiKey = ReadText(file, L"vellumar", L"api_key", L"");
    hosted.intervalSeconds = NormalizeInterval(ReadInt(file, L"vellumar", L"interval", 30));
    if (hosted.intervalSeconds < 30) // the hosted service offers nothing shorter than 30 s
        hosted.intervalSeconds = 30;

    DashboardTarget& wp = settings.targets[1];
    wp.enabled = ReadBool(file, L"wp", L"enabled", false);
    wp.url = ReadText(file, L"wp", L"url", kWordPressDefaultUrl);
    wp.dashboardId = ReadText(file, L"wp", L"id", L"");
    wp.apiKey = ReadText(file, L"wp", L"api_key", L"");
    wp.intervalSeconds = NormalizeInterval(ReadInt(file, L"wp", L"interval", 30));

    settings.udpEnabled = ReadBool(file, L"udp", L"enabled", true);
    settings.udpAddress = ReadText(file, L"udp", L"ip", L"0.0.0.0");
    settings.udpPort = ReadInt(file, L"udp", L"port", kDefaultUdpPort);

    settings.startMinimized = ReadBool(file, L"app", L"start_minimized", true);

    settings.hrdEnabled = ReadBool(file, L"hrd", L"enabled", false);
    settings.hrdHost = ReadText(file, L"hrd", L"host", L"127.0.0.1");
    settings.hrdPort = ReadInt(file, L"hrd", L"port", kDefaultHrdPort);
    settings.hrdIntervalSeconds = NormalizeInterval(ReadInt(file, L"hrd", L"interval", 2));
    settings.hrdMyCall = ReadText(file, L"hrd", L"mycall", L"");
    settings.hrdOperator = ReadText(file, L"hrd", L"operator", L"");

    settings.rigctldEnabled = ReadBool(file, L"rigctld", L"enabled", false);
    settings.rigctldHost = ReadText(file, L"rigctld", L"host", L"127.0.0.1");
    settings.rigctldPort =
        PortOrDefault(ReadInt(file, L"rigctld", L"port", kDefaultRigctldPort), kDefaultRigctldPort);
    settings.rigctldIntervalSeconds = NormalizeInterval(ReadInt(file, L"rigctld", L"interval", 2));
    settings.rigctldMyCall = ReadText(file, L"rigctld", L"mycall", L"");
    settings.rigctldOperator = ReadText(file, L"rigctld", L"operator", L"");

    // Only a missing file is written at load: one we cannot read is left for the user to mend.
    if (file.state == ProfileFileState::Missing)
        SaveSettings();
    return file.state;
}

void SaveSettings() {
    for (int index = 0; index < 2; ++index) {
        const DashboardTarget& target = settings.targets[index];
        const wchar_t* section = kSectionNames[index];
        WriteInt(section, L"enabled", target.enabled ? 1 : 0);
        if (index == 1) // the hosted service's URL is built in, never stored
            WriteText(section, L"url", target.url);
        WriteText(section, L"id", target.dashboardId);
        WriteText(section, L"api_key", target.apiKey);
        WriteInt(section, L"interval", target.intervalSeconds);
    }
    WriteInt(L"udp", L"enabled", settings.udpEnabled ? 1 : 0);
    WriteText(L"udp", L"ip", settings.udpAddress);
    WriteInt(L"udp", L"port", settings.udpPort);
    WriteInt(L"app", L"start_minimized", settings.startMinimized ? 1 : 0);
    WriteInt(L"hrd", L"enabled", settings.hrdEnabled ? 1 : 0);
    WriteText(L"hrd", L"host", settings.hrdHost);
    WriteInt(L"hrd", L"port", settings.hrdPort);
    WriteInt(L"hrd", L"interval", settings.hrdIntervalSeconds);
    WriteText(L"hrd", L"mycall", settings.hrdMyCall);
    WriteText(L"hrd", L"operator", settings.hrdOperator);
    // Last, so that a file from before rigctld gets it after its own sections.
    WriteInt(L"rigctld", L"enabled", settings.rigctldEnabled ? 1 : 0);
    WriteText(L"rigctld", L"host", settings.rigctldHost);
    WriteInt(L"rigctld", L"port", settings.rigctldPort);
    WriteInt(L"rigctld", L"interval", settings.rigctldIntervalSeconds);
    WriteText(L"rigctld", L"mycall", settings.rigctldMyCall);
    WriteText(L"rigctld", L"operator", settings.rigctldOperator);
}

int PortFromText(const std::wstring& text, int fallback) {
    return PortOrDefault(LeadingInteger(text), fallback);
}

int PortOrDefault(std::int64_t port, int fallback) {
    return port >= 1 && port <= 65535 ? static_cast<int>(port) : fallback;
}

namespace {

int IntervalFromItemData(long long data) {
    return data > 0 && data <= INT_MAX ? static_cast<int>(data) : 5;
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
        settings.targets[1].url = form.wpUrl;
        settings.udpEnabled = form.udpEnabled;
        settings.udpAddress = form.udpAddress;
        settings.udpPort = PortFromText(form.udpPortText, kDefaultUdpPort);
        settings.startMinimized = form.startMinimized;
        settings.hrdEnabled = form.hrdEnabled;
        settings.hrdHost = form.hrdHost.empty() ? std::wstring(L"127.0.0.1") : form.hrdHost;
        settings.hrdPort = PortFromText(form.hrdPortText, kDefaultHrdPort);
        settings.hrdIntervalSeconds = IntervalFromItemData(form.hrdIntervalData);
        settings.hrdMyCall = form.hrdMyCall;
        settings.hrdOperator = form.hrdOperator;
        settings.rigctldEnabled = form.rigctldEnabled;
        settings.rigctldHost =
            form.rigctldHost.empty() ? std::wstring(L"127.0.0.1") : form.rigctldHost;
        settings.rigctldPort = PortFromText(form.rigctldPortText, kDefaultRigctldPort);
        settings.rigctldIntervalSeconds = IntervalFromItemData(form.rigctldIntervalData);
        settings.rigctldMyCall = form.rigctldMyCall;
        settings.rigctldOperator = form.rigctldOperator;
    }
    SaveSettings();
}
