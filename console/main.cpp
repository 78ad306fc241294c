// Corvane without a window: the same core and settings, its status texts printed on standard
// output, running until SIGINT or SIGTERM.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "console/console_output.h"
#include "console/instance_lock.h"
#include "console/options.h"
#include "console/status_sink.h"
#include "core/settings.h"
#include "frontend/pages.h"
#include "frontend/workers.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "sources/udp/test_mode.h"

namespace {

// How long the last lines may take to go out at exit before they are given up.
constexpr std::chrono::milliseconds kOutputGrace{1000};

bool IsFolder(const std::wstring& path) {
    struct stat info {};
    return !path.empty() && ::stat(WideToUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A relative --config-dir is taken from the working folder at start, and said plainly.
std::string AbsolutePath(const std::string& path) {
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failed);
    if (failed)
        return path;
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

void Warn(const std::string& what, const std::wstring& path) {
    PrintLine("Warning: " + what + " " + PrintableText(path) + "; running on the defaults");
}

// Whoever started us may have closed standard input, output or error; the first files opened
// would then take their numbers, and the status lines would go into the lock file. /dev/null
// fills the gaps first. False when even that cannot be opened.
bool FillStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", O_RDWR); // the lowest free number: this one
        if (opened != fd)
            return false;
    }
    return true;
}

int WaitForStopSignal(const sigset_t& stopSignals) {
    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    return received;
}

} // namespace

int main(int argc, char** argv) {
    if (!FillStandardDescriptors())
        return 1;
    // Block the stop signals before any thread exists, so every worker inherits the mask and only
    // the sigwait below ever sees them: no work happens in a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a reader that went away must not end the daemon

    ConsoleOptions options;
    std::string error;
    if (!ParseConsoleOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "corvane: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ConsoleUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("Corvane " CORVANE_VERSION);
        return 0;
    }

    if (!options.configDir.empty())
        SetDataFolderOverride(Utf8ToWide(AbsolutePath(options.configDir)));
    const std::wstring folder = DataFolder();
    const bool folderReady = IsFolder(folder);

    long otherProcess = 0;
    if (folderReady && LockDataFolder(folder, otherProcess) == InstanceLock::HeldElsewhere) {
        std::string line = "Corvane already runs with the data folder " + PrintableText(folder);
        if (otherProcess > 0)
            line += " (process " + std::to_string(otherProcess) + ")";
        PrintLine(line);
        FlushOutput(kOutputGrace);
        return 0;
    }

    NetStartup();
    // The defaults stand wherever the file cannot be read, and such a file is never replaced.
    const ProfileFileState found = LoadSettings();
    const std::wstring& settingsPath = settings.settingsPath;
    if (folder.empty())
        PrintLine("Warning: no data folder (HOME is not set; see --config-dir); running on the "
                  "defaults");
    else if (!folderReady)
        Warn("cannot create the data folder", folder);
    else if (found == ProfileFileState::Unreadable)
        Warn("cannot read", settingsPath);
    else if (found == ProfileFileState::TooLarge)
        PrintLine("Warning: " + PrintableText(settingsPath) +
                  " is over 1 MiB, too large for settings; running on the defaults");
    else if (found == ProfileFileState::NotText)
        PrintLine("Warning: " + PrintableText(settingsPath) +
                  " is not text (UTF-8, or UTF-16LE with its BOM); running on the defaults");
    else if (!PathExists(settingsPath))
        Warn("cannot write", settingsPath);

    PrintLine("Corvane " CORVANE_VERSION " started with the data folder " + PrintableText(folder));

    // Nothing else writes the settings from here on, so the workers' start values need no lock.
    InstallConsoleSink(settings.udpAddress);
    StartWorkers(settings.udpAddress, settings.udpPort, [] {
        // The listener's bind result first, so the lines below never read as if they came
        // before it.
        if (settings.udpEnabled)
            WaitForUdpStatus(std::chrono::seconds(1));
        else
            PrintStatus(kUdpPage, kStoppedText);
        PrintStatus(RigSource::Hrd, RigEnabledText(settings.hrdEnabled));
        PrintStatus(RigSource::Rigctld, RigEnabledText(settings.rigctldEnabled));
    });
    if (options.testMode) {
        StartTestMode();
        PrintStatus(kUdpPage, kTestModeText);
    }

    const int received = WaitForStopSignal(stopSignals);
    PrintLine(received == SIGINT ? "Stopping on SIGINT" : "Stopping on SIGTERM");
    StopWorkers();
    RemoveConsoleSink();
    NetCleanup();
    PrintLine("Corvane stopped");
    FlushOutput(kOutputGrace); // an output that takes nothing does not keep us from ending
    return 0;
}
