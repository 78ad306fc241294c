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

// Reads keys by the rules of a load and, when asked, notes what a start would not use as it
// stands.
struct SettingsReader {
    const ProfileFile& file;
    std::vector<SettingsProblem>* problems; // nullptr: a load, which notes nothing

    void Note(SettingsProblemKind kind, const wchar_t* section, const wchar_t* key,
              const std::wstring& used) const {
        if (problems)
            problems->push_back(
                {kind, file.state, section, key, ProfileGetString(file, section, key, L""), used});
    }
    bool Bool(const wchar_t* section, const wchar_t* key, bool fallback) const {
        return ProfileGetInt(file, section, key, fallback) != 0; // false and true read as 0 and 1
    }
    std::wstring Text(const wchar_t* section, const wchar_t* key,
                      const std::wstring& fallback) const {
        return ProfileGetString(file, section, key, fallback);
    }
    // Taken as read; the workers fall back to the default outside 1..65535.
    int Port(const wchar_t* section, const wchar_t* key, int fallback) const {
        const int port = ProfileGetInt(file, section, key, fallback);
        if (PortOrDefault(port, fallback) != port)
            Note(SettingsProblemKind::PortOutOfRange, section, key, std::to_wstring(fallback));
        return port;
    }
    int Interval(const wchar_t* section, const wchar_t* key, int fallback, int minimum = 0) const {
        const int stored = ProfileGetInt(file, section, key, fallback);
        int interval = NormalizeInterval(stored);
        if (interval < minimum)
            interval = minimum;
        if (interval != stored)
            Note(SettingsProblemKind::IntervalNotOffered, section, key, std::to_wstring(interval));
        return interval;
    }
    // The listener binds every interface for anything but a dotted quad.
    std::wstring ListenAddress(const wchar_t* section, const wchar_t* key,
                               const std::wstring& fallback) const {
        std::wstring address = Text(section, key, fallback);
        if (!IsDottedIpv4(address))
            Note(SettingsProblemKind::NotDottedQuad, section, key, fallback);
        return address;
    }
    std::wstring Url(const wchar_t* section, const wchar_t* key,
                     const std::wstring& fallback) const {
        std::wstring url = Text(section, key, fallback);
        const std::wstring scheme = HttpSchemeOf(url);
        if (scheme.empty() || url.size() == scheme.size() + 3)
            Note(SettingsProblemKind::NotHttpUrl, section, key, L"");
        return url;
    }
    // A dashboard's ID or key, which an enabled dashboard cannot do without.
    std::wstring Credential(const wchar_t* section, const wchar_t* key, bool enabled) const {
        std::wstring value = Text(section, key, L"");
        if (enabled && value.empty())
            Note(SettingsProblemKind::MissingCredential, section, key, L"");
        return value;
    }
};

// Every field but the path, by the rules of a load.
void ReadSettingsValues(const SettingsReader& read, Settings& into) {
    const wchar_t* const hostedSection = kTargetSections[0];
    DashboardTarget& hosted = into.targets[0];
    hosted.url = kHostedBaseUrl;
    hosted.enabled = read.Bool(hostedSection, L"enabled", true);
    hosted.dashboardId = read.Credential(hostedSection, L"id", hosted.enabled);
    hosted.apiKey = read.Credential(hostedSection, L"api_key", hosted.enabled);
    hosted.intervalSeconds = read.Interval(hostedSection, L"interval", kDefaultDashboardInterval,
                                           kHostedMinimumInterval);

    const wchar_t* const wpSection = kTargetSections[1];
    DashboardTarget& wp = into.targets[1];
    wp.enabled = read.Bool(wpSection, L"enabled", false);
    wp.url = read.Url(wpSection, L"url", kWordPressDefaultUrl);
    wp.dashboardId = read.Credential(wpSection, L"id", wp.enabled);
    wp.apiKey = read.Credential(wpSection, L"api_key", wp.enabled);
    wp.intervalSeconds = read.Interval(wpSection, L"interval", kDefaultDashboardInterval);

    into.udpEnabled = read.Bool(kUdpSection, L"enabled", true);
    into.udpAddress = read.ListenAddress(kUdpSection, L"ip", kDefaultUdpAddress);
    into.udpPort = read.Port(kUdpSection, L"port", kDefaultUdpPort);

    into.startMinimized = read.Bool(kAppSection, L"start_minimized", true);

    into.hrdEnabled = read.Bool(kHrdSection, L"enabled", false);
    into.hrdHost = read.Text(kHrdSection, L"host", kDefaultHrdHost);
    into.hrdPort = read.Port(kHrdSection, L"port", kDefaultHrdPort);
    into.hrdIntervalSeconds = read.Interval(kHrdSection, L"interval", kDefaultHrdInterval);
    into.hrdMyCall = read.Text(kHrdSection, L"mycall", L"");
    into.hrdOperator = read.Text(kHrdSection, L"operator", L"");

    into.rigctldEnabled = read.Bool(kRigctldSection, L"enabled", false);
    into.rigctldHost = read.Text(kRigctldSection, L"host", kDefaultRigctldHost);
    // Out of range is the default at once (HRD's waits for its poller).
    into.rigctldPort = PortOrDefault(read.Port(kRigctldSection, L"port", kDefaultRigctldPort),
                                     kDefaultRigctldPort);
    into.rigctldIntervalSeconds =
        read.Interval(kRigctldSection, L"interval", kDefaultRigctldInterval);
    into.rigctldMyCall = read.Text(kRigctldSection, L"mycall", L"");
    into.rigctldOperator = read.Text(kRigctldSection, L"operator", L"");
}

void WriteText(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
    ProfileWriteString(settings.settingsPath, section, key, value);
}

void WriteInt(const wchar_t* section, const wchar_t* key, int value) {
    WriteText(section, key, std::to_wstring(value));
}

} // namespace

std::wstring ResolveSettingsPath(bool createFolder) {
    const std::wstring folder = DataFolder(createFolder);
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
    // Read and parsed once for all the keys.
    const ProfileFile file = ProfileOpen(settings.settingsPath);
    ReadSettingsValues({file, nullptr}, settings);
    // Only a missing file is written at load: one we cannot read is left for the user to mend.
    if (file.state == ProfileFileState::Missing)
        SaveSettings();
    return file.state;
}

ProfileFileState ReloadSettings() {
    const ProfileFile file = ProfileOpen(settings.settingsPath);
    if (file.state == ProfileFileState::Read) {
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        ReadSettingsValues({file, nullptr}, settings);
    }
    return file.state;
}

std::vector<SettingsProblem> SettingsProblems(const std::wstring& path) {
    const ProfileFile file = ProfileOpen(path);
    std::vector<SettingsProblem> problems;
    if (file.state != ProfileFileState::Read) {
        const bool missing = file.state == ProfileFileState::Missing;
        SettingsProblem problem;
        problem.kind =
            missing ? SettingsProblemKind::FileMissing : SettingsProblemKind::FileUnreadable;
        problem.fileState = file.state;
        problems.push_back(problem);
        if (!missing)
            return problems; // a start runs on the defaults, and those are not the user's
    }
    Settings values;
    ReadSettingsValues({file, &problems}, values);
    return problems;
}

namespace {

// A rig-control source's section: both sources store the same keys in the same order.
void WriteRigSection(const wchar_t* section, bool enabled, const std::wstring& host, int port,
                     int intervalSeconds, const std::wstring& myCall, const std::wstring& opCall) {
    WriteInt(section, L"enabled", enabled ? 1 : 0);
    WriteText(section, L"host", host);
    WriteInt(section, L"port", port);
    WriteInt(section, L"interval", intervalSeconds);
    WriteText(section, L"mycall", myCall);
    WriteText(section, L"operator", opCall);
}

} // namespace

void SaveSettings() {
    for (int index = 0; index < kTargetCount; ++index) {
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
    WriteRigSection(kHrdSection, settings.hrdEnabled, settings.hrdHost, settings.hrdPort,
                    settings.hrdIntervalSeconds, settings.hrdMyCall, settings.hrdOperator);
    // Last, so that a file from before rigctld gets it after its own sections.
    WriteRigSection(kRigctldSection, settings.rigctldEnabled, settings.rigctldHost,
                    settings.rigctldPort, settings.rigctldIntervalSeconds, settings.rigctldMyCall,
                    settings.rigctldOperator);
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
        for (int index = 0; index < kTargetCount; ++index) {
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
        settings.rigctldEnabled = form.rigctldEnabled;
        settings.rigctldHost =
            form.rigctldHost.empty() ? std::wstring(kDefaultRigctldHost) : form.rigctldHost;
        settings.rigctldPort = PortFromText(form.rigctldPortText, kDefaultRigctldPort);
        settings.rigctldIntervalSeconds = IntervalFromItemData(form.rigctldIntervalData);
        settings.rigctldMyCall = form.rigctldMyCall;
        settings.rigctldOperator = form.rigctldOperator;
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
