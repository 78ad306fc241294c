#include "tests/console/console_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start)); // a line still being written
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// "YYYY-MM-DD HH:MM:SS  " in front of every line of standard output.
const std::size_t kStampLength = 21;

bool HasStamp(const std::string& line) {
    static const std::regex stamp("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}  ");
    return std::regex_search(line, stamp);
}

void ReadAll(ConsoleProcess* process, int fd, std::string ConsoleProcess::*into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        std::lock_guard<std::mutex> lock(process->mutex);
        if (got <= 0) {
            --process->openStreams;
            process->changed.notify_all();
            break;
        }
        (process->*into).append(buffer, static_cast<std::size_t>(got));
        process->changed.notify_all();
    }
    ::close(fd);
}

} // namespace

ConsoleProcess::ConsoleProcess(const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment) {
    // The child gets this process's environment with the given variables put in.
    std::vector<std::string> variables = environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string existing = *entry;
        bool replaced = false;
        for (const std::string& wanted : environment)
            replaced |= existing.rfind(wanted.substr(0, wanted.find('=') + 1), 0) == 0;
        if (!replaced)
            variables.push_back(existing);
    }

    std::vector<char*> argv;
    std::string binary = CORVANE_CONSOLE_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    int outputPipe[2], errorPipe[2];
    if (::pipe2(outputPipe, O_CLOEXEC) != 0)
        return;
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        ::close(outputPipe[0]);
        ::close(outputPipe[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
    // The child starts with no signal blocked, whatever the test runner's threads have.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t child = -1;
    const int result =
        ::posix_spawn(&child, binary.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(outputPipe[1]);
    ::close(errorPipe[1]);
    if (result != 0) {
        ::close(outputPipe[0]);
        ::close(errorPipe[0]);
        return;
    }
    pid = child;
    openStreams = 2;
    outputReader = std::thread(ReadAll, this, outputPipe[0], &ConsoleProcess::outputText);
    errorReader = std::thread(ReadAll, this, errorPipe[0], &ConsoleProcess::errorText);
}

ConsoleProcess::~ConsoleProcess() {
    if (pid > 0 && !reaped) {
        ::kill(pid, SIGKILL);
        int ignored = 0;
        ::waitpid(pid, &ignored, 0);
    }
    if (outputReader.joinable())
        outputReader.join();
    if (errorReader.joinable())
        errorReader.join();
}

void ConsoleProcess::Signal(int signal) {
    if (pid > 0 && !reaped)
        ::kill(pid, signal);
}

std::vector<std::string> ConsoleProcess::Lines() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex);
        text = outputText;
    }
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(text))
        lines.push_back(HasStamp(line) ? line.substr(kStampLength) : line);
    return lines;
}

std::vector<std::string> ConsoleProcess::ErrorLines() {
    std::lock_guard<std::mutex> lock(mutex);
    return SplitLines(errorText);
}

std::string ConsoleProcess::AllOutput() {
    std::lock_guard<std::mutex> lock(mutex);
    return outputText + errorText;
}

bool ConsoleProcess::StampsWellFormed() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex);
        text = outputText;
    }
    for (const std::string& line : SplitLines(text))
        if (!HasStamp(line))
            return false;
    return true;
}

bool ConsoleProcess::WaitForLine(const std::function<bool(const std::string&)>& match,
                                 std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] {
        for (const std::string& line : SplitLines(outputText))
            if (match(HasStamp(line) ? line.substr(kStampLength) : line))
                return true;
        return false;
    });
}

bool ConsoleProcess::WaitForLine(const std::string& part, std::chrono::milliseconds limit) {
    return WaitForLine(
        [&](const std::string& line) { return line.find(part) != std::string::npos; }, limit);
}

bool ConsoleProcess::WaitForExit(std::chrono::milliseconds limit, int& exitCode) {
    exitCode = -1;
    if (pid <= 0)
        return false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, limit, [&] { return openStreams == 0; }))
            return false;
    }
    if (!reaped) {
        // Both streams closed: the child has ended or is ending; reaping does not wait long.
        if (::waitpid(pid, &status, 0) != pid)
            return false;
        reaped = true;
    }
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

int LineIndex(const std::vector<std::string>& lines, const std::string& part) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(part) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

int LineCount(const std::vector<std::string>& lines, const std::string& part) {
    int count = 0;
    for (const std::string& line : lines)
        count += line.find(part) != std::string::npos ? 1 : 0;
    return count;
}
