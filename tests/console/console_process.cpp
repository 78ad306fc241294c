#include "tests/console/console_process.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// "YYYY-MM-DD HH:MM:SS  " in front of every line of standard output.
const std::regex kStamp("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}  ");

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

void ReadAll(ConsoleProcess* process, int fd, std::string* into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        std::lock_guard<std::mutex> lock(process->mutex);
        if (got > 0)
            into->append(buffer, static_cast<std::size_t>(got));
        else
            --process->openStreams;
        process->changed.notify_all();
        if (got <= 0)
            break;
    }
    ::close(fd);
}

} // namespace

ConsoleProcess::ConsoleProcess(const std::vector<std::string>& arguments,
                               const std::string& configHome, ConsoleOutput output) {
    std::vector<std::string> strings = {CORVANE_CONSOLE_BINARY};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : strings)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    // Each test sets its own before it starts one, so the child never sees the real data folder.
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return;
    // A full pipe of the default size would take long to fill.
    if (output == ConsoleOutput::Unread && ::fcntl(out[0], F_SETPIPE_SZ, 4096) != 4096) {
        for (int fd : {out[0], out[1], err[0], err[1]})
            ::close(fd);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == ConsoleOutput::Closed)
        posix_spawn_file_actions_addclose(&actions, 1);
    else
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    openStreams = 1;
    readers[1] = std::thread(ReadAll, this, err[0], &text[1]);
    if (output == ConsoleOutput::Collected) {
        ++openStreams;
        readers[0] = std::thread(ReadAll, this, out[0], &text[0]);
    } else if (output == ConsoleOutput::Unread) {
        unreadOutput = out[0];
    } else {
        ::close(out[0]);
    }
}

ConsoleProcess::~ConsoleProcess() {
    if (pid > 0 && !reaped) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    for (std::thread& reader : readers)
        if (reader.joinable())
            reader.join();
    if (unreadOutput >= 0)
        ::close(unreadOutput);
}

std::vector<std::string> ConsoleProcess::Lines() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> lines = SplitLines(text[0]);
    for (std::string& line : lines)
        if (std::regex_search(line, kStamp))
            line.erase(0, 21);
    return lines;
}

bool ConsoleProcess::Stamped() {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& line : SplitLines(text[0]))
        if (!std::regex_search(line, kStamp))
            return false;
    return true;
}

std::string ConsoleProcess::Errors() {
    std::lock_guard<std::mutex> lock(mutex);
    return text[1];
}

std::string ConsoleProcess::All() {
    std::lock_guard<std::mutex> lock(mutex);
    return text[0] + text[1];
}

bool ConsoleProcess::WaitForLine(const std::string& part, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] { return text[0].find(part) != std::string::npos; });
}

int ConsoleProcess::WaitForExit(std::chrono::milliseconds limit) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (pid <= 0 || !changed.wait_for(lock, limit, [&] { return openStreams == 0; }))
            return -1;
    }
    // Both streams closed: the child has ended or is ending, so reaping does not wait long.
    int status = 0;
    if (reaped || ::waitpid(pid, &status, 0) != pid)
        return -1;
    reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
