#include "frontend/pages.h"

#include <cwchar>

#include "sources/udp/udp_listener.h"

namespace {

// In the order of PostFailure; an HTTP status is followed by its number.
constexpr const wchar_t* kPostFailureTexts[] = {
    L"",
    L"",
    L"HTTP ",
    L"no answer",
    L"name not found",
    L"connection refused",
    L"certificate not trusted",
    L"redirected elsewhere",
    L"too many redirects",
};

} // namespace

std::wstring PostFailureText(const PostOutcome& outcome) {
    std::wstring text = kPostFailureTexts[static_cast<int>(outcome.failure)];
    if (outcome.failure == PostFailure::HttpStatus)
        text += std::to_wstring(outcome.httpStatus);
    return text;
}

std::wstring LastPostText(const PostOutcome& outcome) {
    std::wstring text = outcome.Delivered() ? kLastPostOkText : kLastPostFailedText;
    text += L" \u2014 ";
    for (const int part : {outcome.secondOfDay / 3600 % 24, outcome.secondOfDay / 60 % 60,
                           outcome.secondOfDay % 60}) {
        if (text.back() != L' ')
            text += L':';
        text += static_cast<wchar_t>(L'0' + part / 10);
        text += static_cast<wchar_t>(L'0' + part % 10);
    }
    const std::wstring reason = PostFailureText(outcome);
    if (!reason.empty())
        text += L" \u2014 " + reason;
    return text;
}

std::wstring UdpStatusText(int state, const std::wstring& addressText, int port) {
    const std::wstring portText = std::to_wstring(port);
    if (state == UdpBindError)
        return kUdpBindErrorText + portText;
    if (state != UdpListening)
        return kStoppedText;
    // The address bound, never the text as typed: a dotted quad is short enough for any line.
    return L"Listening on " + UdpListenAddress(addressText) + L":" + portText;
}

std::wstring RigStatusText(RigSource source, RigLinkState state, const std::wstring& radio) {
    switch (state) {
    case RigLinkState::Connecting:
        return L"Connecting...";
    case RigLinkState::Connected:
        return L"Connected \u2014 " + radio;
    case RigLinkState::NotReachable:
        return source == RigSource::Hrd ? L"HRD not reachable \u2014 retrying"
                                        : L"rigctld not reachable \u2014 retrying";
    case RigLinkState::Reconnecting:
        return L"Reconnecting...";
    case RigLinkState::Stopped:
        break;
    }
    return kStoppedText;
}

namespace {

bool TellsOfAProblem(const std::wstring& text) {
    return text.compare(0, wcslen(kLastPostFailedText), kLastPostFailedText) == 0 ||
           text.compare(0, wcslen(kUdpBindErrorText), kUdpBindErrorText) == 0 ||
           text == RigStatusText(RigSource::Hrd, RigLinkState::NotReachable, std::wstring()) ||
           text == RigStatusText(RigSource::Rigctld, RigLinkState::NotReachable, std::wstring());
}

} // namespace

std::wstring TrayTipText(const std::vector<PageStatusLine>& lines) {
    std::wstring tip = L"Corvane";
    for (const PageStatusLine& line : lines) {
        if (!TellsOfAProblem(line.text))
            continue;
        tip += L" \u2014 " + std::wstring(kPageNames[line.page]) + L": " + line.text;
        // One line, and never half a surrogate pair at the cut.
        for (wchar_t& c : tip)
            if (c == L'\r' || c == L'\n' || c == L'\t')
                c = L' ';
        if (tip.size() > kTrayTipMax) {
            tip.resize(kTrayTipMax - 1);
            if (tip.back() >= 0xD800 && tip.back() <= 0xDBFF)
                tip.pop_back();
            tip += L"\u2026";
        }
        break;
    }
    return tip;
}

std::wstring SettingsSavedText(const std::vector<CorrectedValue>& corrected) {
    static const std::wstring kFieldNames[kCorrectedFieldCount] = {
        L"VLM Dashboard update interval",
        L"WP Dashboard update interval",
        L"UDP port",
        L"HRD host",
        L"HRD port",
        L"HRD poll interval",
        kRigctldName + std::wstring(L" host"),
        kRigctldName + std::wstring(L" port"),
        kRigctldName + std::wstring(L" poll interval")};
    std::wstring text = L"Settings saved.";
    if (!corrected.empty())
        text += L"\n\nCorrected to the values in use:";
    for (const CorrectedValue& value : corrected)
        text += L"\n" + kFieldNames[value.field] + L": " + value.stored;
    return text;
}

std::wstring SettingsFileText(ProfileFileState state, const std::wstring& path) {
    switch (state) {
    case ProfileFileState::Missing:
        return path + L" does not exist";
    case ProfileFileState::TooLarge:
        return path + L" is over " + std::to_wstring(kProfileFileMax / kMiB) +
               L" MiB, too large for settings";
    case ProfileFileState::NotText:
        return path + L" is not text (UTF-8, or UTF-16LE with its BOM)";
    default:
        return L"cannot read " + path;
    }
}

std::wstring SettingsProblemText(const SettingsProblem& problem, const std::wstring& path) {
    const std::wstring key =
        L"[" + std::wstring(problem.section) + L"] " + problem.key + L"=" + problem.value + L": ";
    switch (problem.kind) {
    case SettingsProblemKind::FileMissing:
        return SettingsFileText(problem.fileState, path) + L"; a start writes it with the defaults";
    case SettingsProblemKind::FileUnreadable:
        return SettingsFileText(problem.fileState, path);
    case SettingsProblemKind::PortOutOfRange:
        return key + L"not a port from 1 to 65535; a start uses " + problem.used;
    case SettingsProblemKind::NotDottedQuad:
        return key + L"not a dotted quad such as 127.0.0.1; a start listens on every interface (" +
               problem.used + L")";
    case SettingsProblemKind::NotHttpUrl:
        return key + L"not an http:// or https:// URL";
    case SettingsProblemKind::IntervalNotOffered:
        return key + L"not an interval on offer; a start uses " + problem.used;
    case SettingsProblemKind::MissingCredential:
        return L"[" + std::wstring(problem.section) + L"] " + problem.key +
               L" is empty, but the dashboard is enabled";
    }
    return key;
}

std::wstring NoSettingsProblemText(const std::wstring& path) {
    return L"No problems found in " + path;
}

const wchar_t* WorkerFaultText(WorkerFault fault) {
    switch (fault) {
    case WorkerFault::NoThread:
        return L"Error: the system gives no thread for a worker (a limit on processes, threads or "
               L"memory); stopping";
    case WorkerFault::NoMemory:
        return L"Error: out of memory; stopping";
    default:
        return L"Error: a worker failed; stopping";
    }
}
