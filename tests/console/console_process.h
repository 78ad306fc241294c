#pragma once
// The real `corvane` binary run as a child process, its standard output and error collected
// line by line as they arrive.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

struct ConsoleProcess {
    // Starts the binary with these arguments; `environment` entries ("NAME=value") replace or add
    // to this process's environment.
    ConsoleProcess(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment);
    ~ConsoleProcess(); // kills a child that still runs
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    bool Started() const { return pid > 0; }
    void Signal(int signal);

    // Standard output lines with their time stamps removed; the stamps themselves are checked by
    // StampsWellFormed. Standard error lines are kept as they are.
    std::vector<std::string> Lines();
    std::vector<std::string> ErrorLines();
    std::string AllOutput(); // both streams as received, stamps included
    bool StampsWellFormed();

    // Waits until some output line satisfies the predicate (or contains the text).
    bool WaitForLine(const std::function<bool(const std::string&)>& match,
                     std::chrono::milliseconds limit);
    bool WaitForLine(const std::string& part, std::chrono::milliseconds limit);
    // Waits until both output streams have closed, then reaps the child. False on time-out;
    // `exitCode` is the exit status, or 128 + signal when a signal ended it.
    bool WaitForExit(std::chrono::milliseconds limit, int& exitCode);

    pid_t pid = -1;
    std::mutex mutex;
    std::condition_variable changed;
    std::string outputText;
    std::string errorText;
    int openStreams = 0;
    bool reaped = false;
    int status = 0;
    std::thread outputReader;
    std::thread errorReader;
};

// Index of the first line containing `part`, or -1.
int LineIndex(const std::vector<std::string>& lines, const std::string& part);
// How many lines contain `part`.
int LineCount(const std::vector<std::string>& lines, const std::string& part);
