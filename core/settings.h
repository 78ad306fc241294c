#pragma once
// Every user setting in one process-wide record, stored in settings.ini in the data folder.
#include <cstdint>
#include <string>

#include "platform/profile.h"

struct DashboardTarget {
    bool enabled = false;
    std::wstring url;
    std::wstring dashboardId;
    std::wstring apiKey;
    int intervalSeconds = 30;
};

struct Settings {
    std::wstring settingsPath;
    DashboardTarget targets[2]; // 0: hosted service ("vellumar"), 1: WordPress ("wp")
    bool udpEnabled = true;
    std::wstring udpAddress = L"0.0.0.0";
    int udpPort = 12060;
    bool startMinimized = true;
    bool hrdEnabled = false;
    std::wstring hrdHost = L"127.0.0.1";
    int hrdPort = 7809;
    int hrdIntervalSeconds = 2;
    std::wstring hrdMyCall;
    std::wstring hrdOperator;
    bool rigctldEnabled = false;
    std::wstring rigctldHost = L"127.0.0.1";
    int rigctldPort = 4532;
    int rigctldIntervalSeconds = 2;
    std::wstring rigctldMyCall;
    std::wstring rigctldOperator;
};

// Worker threads read the fields they need under PostSignal.mutex; the UI thread is the only
// writer.
extern Settings settings;

extern const wchar_t* const kHostedBaseUrl;
extern const wchar_t* const kWordPressDefaultUrl;

constexpr int kDefaultUdpPort = 12060;
constexpr int kDefaultHrdPort = 7809;
constexpr int kDefaultRigctldPort = 4532;

std::wstring ResolveSettingsPath();
// Returns what was found at the settings path; only a missing file is written (with defaults).
ProfileFileState LoadSettings();
void SaveSettings();
int NormalizeInterval(int value);
std::wstring ReadProfileString(const wchar_t* section, const wchar_t* key,
                               const std::wstring& fallback);

// The settings pages as a front end read them, before the rules of an apply.
struct SettingsForm {
    bool enabled[2] = {false, false};
    std::wstring wpUrl;
    std::wstring dashboardId[2];
    std::wstring apiKey[2];
    long long intervalData[2] = {0, 0}; // item data of the selected entry; 0 or less: none
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
