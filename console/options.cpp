#include "console/options.h"

#include <cstring>

bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& options,
                         std::string& error) {
    options = ConsoleOptions{};
    for (int at = 1; at < argc; ++at) {
        const std::string argument = argv[at];
        if (argument == "--test-mode") {
            options.testMode = true;
        } else if (argument == "--help") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--check") {
            options.check = true;
        } else if (argument == "--config-dir" || argument.rfind("--config-dir=", 0) == 0) {
            std::string value;
            if (argument == "--config-dir") {
                if (at + 1 < argc)
                    value = argv[++at];
            } else {
                value = argument.substr(std::strlen("--config-dir="));
            }
            // An empty folder would quietly mean the default one; say so instead.
            if (value.empty()) {
                error = "--config-dir needs a folder";
                return false;
            }
            options.configDir = value;
        } else {
            error = "unknown option '" + argument + "' (see --help)";
            return false;
        }
    }
    return true;
}

std::string ConsoleUsage() {
    return "Usage: corvane [--test-mode] [--config-dir DIR] [--check]\n"
           "Posts the station's status from loggers (UDP), HRD (TCP) and Hamlib's rigctld\n"
           "(TCP) to the dashboards, printing each status change, until SIGINT or SIGTERM.\n"
           "SIGHUP reloads settings.ini and restarts the UDP listener and the rig connections\n"
           "with it; SIGUSR1 and SIGUSR2 are ignored.\n"
           "\n"
           "  --test-mode       send demo data and ignore UDP, as the test mode box does\n"
           "  --config-dir DIR  keep settings.ini, the lock and the diagnostic files in DIR\n"
           "                    instead of $XDG_CONFIG_HOME/Corvane or ~/.config/Corvane\n"
           "  --check           print each problem in settings.ini, one a line, and exit\n"
           "                    with 1 if there is one (0 if none); starts nothing and\n"
           "                    writes nothing\n"
           "  --help            print this text\n"
           "  --version         print the version\n"
           "\n"
           "settings.ini in that folder has the sections [vellumar], [wp], [udp], [app], [hrd]\n"
           "and [rigctld] (enabled, host, port 4532, interval, mycall, operator; off by\n"
           "default). /usr/share/doc/corvane/linux.md describes every key.\n"
           "\n"
           "Exit status: 0 after a stop by signal or when another Corvane runs with the data\n"
           "folder; 1 when the lock cannot be taken or a worker cannot run; 2 for a wrong\n"
           "command line.\n";
}
