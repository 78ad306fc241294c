// Corvane without a window: the same core and settings, its status texts printed on standard
// output, running until SIGINT or SIGTERM; SIGHUP reloads the settings.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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
#include "core/worker.h"
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

std::atomic<bool> workerFailed{false};

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

// Signals that have nothing to tell us must not end us: a reader that went away (SIGPIPE), a
// file over RLIMIT_FSIZE, which is a failed write like any other (SIGXFSZ), SIGUSR1 and SIGUSR2.
void IgnoreHarmlessSignals() {
    for (const int signal : {SIGPIPE, SIGXFSZ, SIGUSR1, SIGUSR2})
        std::signal(signal, SIG_IGN);
}

// Blocked before the first worker exists, so every worker inherits the mask and only main's
// wait ever sees them: no work happens in a signal handler. Until then SIGTERM ends a start
// that takes long the default way, as nothing needs undoing yet.
sigset_t BlockHandledSignals() {
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&handled, signal);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    return handled;
}

int WaitForSignal(const sigset_t& handled) {
    int received = 0;
    while (sigwait(&handled, &received) != 0) {
    }
    return received;
}

// On the worker's own thread: say why, and end main's wait as a SIGTERM would.
void OnWorkerFault(WorkerFault fault) {
    if (workerFailed.exchange(true))
        return;
    PrintLine(PrintableText(WorkerFaultText(fault)));
    ::kill(::getpid(), SIGTERM);
}

// `corvane --check`: plain lines, no time stamps; touches neither the network nor any file, not
// even the data folder.
int CheckSettingsFile() {
    const std::wstring path = ResolveSettingsPath(false);
    const std::vector<SettingsProblem> problems = SettingsProblems(path);
    for (const SettingsProblem& problem : problems)
        std::puts(PrintableText(SettingsProblemText(problem, path)).c_str());
    if (problems.empty())
        std::puts(PrintableText(NoSettingsProblemText(path)).c_str());
    return problems.empty() ? 0 : 1;
}

// Takes the folder's lock, or says why Corvane does not run and gives its exit code.
bool TakeLock(const std::wstring& folder, int& exitCode) {
    const InstanceLockResult lock = LockDataFolder(folder);
    if (lock.state == InstanceLock::Taken)
        return true;
    std::string line;
    if (lock.state == InstanceLock::HeldElsewhere) {
        line = "Corvane already runs with the data folder " + PrintableText(folder);
        if (lock.otherProcess > 0)
            line += " (process " + std::to_string(lock.otherProcess) + ")";
        exitCode = 0;
    } else {
        line = "Error: cannot lock " + PrintableText(Utf8ToWide(LockFilePath(folder))) + " (" +
               lock.reason + "); Corvane does not start";
        exitCode = 1;
    }
    PrintLine(line);
    FlushOutput(kOutputGrace);
    return false;
}

// The defaults stand wherever the file cannot be read, and such a file is never replaced: one
// line says so.
void WarnAboutSettings(const std::wstring& folder, bool folderReady, ProfileFileState found) {
    const std::string defaults = "; running on the defaults";
    const std::wstring& path = settings.settingsPath;
    if (folder.empty())
        PrintLine("Warning: no data folder (HOME is not set; see --config-dir)" + defaults);
    else if (!folderReady)
        PrintLine("Warning: cannot create the data folder " + PrintableText(folder) + defaults);
    else if (found != ProfileFileState::Read && found != ProfileFileState::Missing)
        PrintLine("Warning: " + PrintableText(SettingsFileText(found, path)) + defaults);
    else if (!PathExists(path))
        PrintLine("Warning: cannot write " + PrintableText(path) + defaults);
}

// SIGHUP: settings.ini read again and applied as the window's Save applies its pages.
void ReloadSettingsFile() {
    const RunningSources before = SourcesRunning();
    const ProfileFileState found = ReloadSettings();
    if (found != ProfileFileState::Read) {
        PrintLine("Warning: " + PrintableText(SettingsFileText(found, settings.settingsPath)) +
                  "; the settings stay as they were");
        return;
    }
    PrintLine(PrintableText(kSettingsReloadedText));
    SetConsoleUdpAddress(settings.udpAddress);
    RestartSourcesAfterApply(before, settings.udpAddress, settings.udpPort,
                             [](RigSource source, bool wasRunning) {
                                 if (wasRunning)
                                     PrintStatus(source, RigEnabledText(false));
                             });
}

void StartConsoleWorkers(bool testMode) {
    // Nothing but a reload on this thread writes the settings, so the start values need no lock.
    InstallConsoleSink(settings.udpAddress);
    SetWorkerFaultHandler(OnWorkerFault);
    StartWorkers(settings.udpAddress, settings.udpPort, [] {
        if (workerFailed.load())
            return; // stopping anyway
        // The listener's bind result first, so the lines below never read as if they came
        // before it.
        if (settings.udpEnabled)
            WaitForUdpStatus(std::chrono::seconds(1));
        else
            PrintStatus(kUdpPage, kStoppedText);
        PrintStatus(RigSource::Hrd, RigEnabledText(settings.hrdEnabled));
        PrintStatus(RigSource::Rigctld, RigEnabledText(settings.rigctldEnabled));
    });
    if (testMode) {
        StartTestMode();
        PrintStatus(kUdpPage, kTestModeText);
    }
}

// Until a stop signal or a worker's fault; the exit code.
int ServeUntilStopped(const sigset_t& handled) {
    for (;;) {
        const int received = WaitForSignal(handled);
        if (workerFailed.load())
            return 1;
        if (received == SIGHUP) {
            ReloadSettingsFile();
            continue;
        }
        PrintLine(received == SIGINT ? "Stopping on SIGINT" : "Stopping on SIGTERM");
        return 0;
    }
}

int Run(const ConsoleOptions& options) {
    if (!StartOutput()) {
        PrintLine(PrintableText(WorkerFaultText(WorkerFault::NoThread)));
        return 1;
    }
    const std::wstring folder = DataFolder();
    const bool folderReady = IsFolder(folder);
    int exitCode = 0;
    if (folderReady && !TakeLock(folder, exitCode))
        return exitCode;

    NetStartup();
    const ProfileFileState found = LoadSettings();
    WarnAboutSettings(folder, folderReady, found);
    PrintLine("Corvane " CORVANE_VERSION " started with the data folder " + PrintableText(folder));

    const sigset_t handled = BlockHandledSignals();
    StartConsoleWorkers(options.testMode);
    exitCode = ServeUntilStopped(handled);
    StopWorkers();
    RemoveConsoleSink();
    NetCleanup();
    PrintLastLine("Corvane stopped");
    FlushOutput(kOutputGrace); // an output that takes nothing does not keep us from ending
    return exitCode;
}

} // namespace

int main(int argc, char** argv) {
    if (!FillStandardDescriptors())
        return 1;
    IgnoreHarmlessSignals();

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
    try {
        return options.check ? CheckSettingsFile() : Run(options);
    } catch (...) { // out of memory or threads on main's own way; workers may still run
        try {
            const WorkerFault fault = FaultInFlight();
            if (!workerFailed.exchange(true))
                PrintLine(PrintableText(WorkerFaultText(fault)));
            FlushOutput(kOutputGrace);
        } catch (...) {
        }
        std::_Exit(1);
    }
}
