#pragma once
// The real `corvane` binary run as a child process, its standard output and error collected as
// they arrive.
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// What the child gets as standard output; standard error is always collected.
enum class ConsoleOutput {
    Collected, // a pipe read as it arrives
    Unread,    // a pipe of one page that the test reads itself, if at all (unreadOutput)
    Closed,    // no descriptor 1 at all
};

struct ConsoleProcess {
    // Starts the binary with these arguments and XDG_CONFIG_HOME set to `configHome`.
    ConsoleProcess(const std::vector<std::string>& arguments, const std::string& configHome,
                   ConsoleOutput output = ConsoleOutput::Collected);
    ~ConsoleProcess(); // kills a child that still runs

    int Stop(int signal = SIGTERM) { // sends the signal, then waits as WaitForExit does
        if (pid > 0 && !reaped)
            ::kill(pid, signal);
        return WaitForExit(std::chrono::seconds(15));
    }
    std::vector<std::string> Lines(); // standard output, time stamps removed
    bool Stamped();                   // every line of standard output had its time stamp
    std::string Errors();
    std::string All(); // both streams as received
    bool WaitForLine(const std::string& part, std::chrono::milliseconds limit);
    // Waits until both streams have closed and reaps the child: its exit code, 128 + the signal
    // that ended it, or -1 on time-out.
    int WaitForExit(std::chrono::milliseconds limit);

    pid_t pid = -1;
    bool reaped = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::string text[2]; // standard output and error
    int openStreams = 0;
    int unreadOutput = -1;
    std::thread readers[2];
};
