#include "console/console_output.h"

#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "platform/text.h"

namespace {

// Enough for every line of a burst while the output is briefly slow; past that only the newest
// state is worth keeping.
constexpr std::size_t kMaxQueuedLines = 100;
constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;

struct OutputQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines; // each stamped and with its line end
    std::size_t bytes = 0;
    unsigned long long dropped = 0;
    bool writing = false; // the writer holds a line it has not written yet
    bool writerStarted = false;
};

// Never destroyed: at exit the writer may still sit in a write that cannot finish, and must not
// find its queue gone under it.
OutputQueue& Queue() {
    static OutputQueue* const queue = new OutputQueue;
    return *queue;
}

std::string Stamped(const std::string& text) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "";
    if (localtime_r(&now, &local))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(stamp) + "  " + text + "\n";
}

// Blocks for as long as the output does; only the writer thread ever waits here.
void WriteOut(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{STDOUT_FILENO, POLLOUT, 0}; // someone made it non-blocking
            ::poll(&ready, 1, -1);
        } else if (n == 0 || errno != EINTR) {
            return; // closed or gone (SIGPIPE is ignored): the lines are lost
        }
    }
}

void Writer() {
    OutputQueue& queue = Queue();
    std::unique_lock<std::mutex> lock(queue.mutex);
    for (;;) {
        queue.changed.wait(lock, [&] { return !queue.lines.empty(); });
        std::string text;
        if (queue.dropped > 0) {
            text =
                Stamped("(" + std::to_string(queue.dropped) + " status line" +
                        (queue.dropped == 1 ? "" : "s") + " dropped while the output was blocked)");
            queue.dropped = 0;
        }
        // One line at a time, so that while the output is stuck no more than the queue's bound
        // waits besides the line in hand.
        text += queue.lines.front();
        queue.bytes -= queue.lines.front().size();
        queue.lines.pop_front();
        queue.writing = true;
        lock.unlock();
        WriteOut(text);
        lock.lock();
        queue.writing = false;
        queue.changed.notify_all();
    }
}

} // namespace

std::string PrintableText(const std::wstring& text) {
    std::wstring clean = text;
    for (wchar_t& c : clean) {
        const unsigned long code = static_cast<unsigned long>(c);
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            c = L' ';
    }
    return WideToUtf8(clean);
}

void PrintLine(const std::string& text) {
    std::string line = Stamped(text);
    OutputQueue& queue = Queue();
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (!queue.writerStarted) {
            queue.writerStarted = true;
            // Detached: a stuck output must never keep the process from ending.
            std::thread(Writer).detach();
        }
        queue.bytes += line.size();
        queue.lines.push_back(std::move(line));
        while (queue.lines.size() > 1 &&
               (queue.lines.size() > kMaxQueuedLines || queue.bytes > kMaxQueuedBytes)) {
            queue.bytes -= queue.lines.front().size();
            queue.lines.pop_front();
            ++queue.dropped;
        }
    }
    Queue().changed.notify_all();
}

void PrintStatus(FrontEndPage page, const std::wstring& text) {
    PrintLine(PrintableText(kPageNames[page]) + ": " + PrintableText(text));
}

void PrintStatus(RigSource source, const std::wstring& text) {
    const wchar_t* name = source == RigSource::Hrd ? kPageNames[kHrdPage] : kRigctldName;
    PrintLine(PrintableText(name) + ": " + PrintableText(text));
}

bool FlushOutput(std::chrono::milliseconds limit) {
    OutputQueue& queue = Queue();
    std::unique_lock<std::mutex> lock(queue.mutex);
    return queue.changed.wait_for(lock, limit,
                                  [&] { return queue.lines.empty() && !queue.writing; });
}
