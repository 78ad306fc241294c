#pragma once
// The command line of the headless front end.
#include <string>

struct ConsoleOptions {
    bool testMode = false;
    bool help = false;
    bool version = false;
    bool check = false;
    std::string configDir; // empty: the default data folder
};

// Fills `options`; false with a one-line reason in `error` when the command line is not understood.
bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& options,
                         std::string& error);

// What --help prints.
std::string ConsoleUsage();
