#include "console/console_output.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <deque>
#include <mutex>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "platform/text.h"

namespace {

// Enough for every line of a burst while the output is briefly slow; past that only the newest
// state is worth keeping.
constexpr std::size_t kMaxQueuedLines = 100;
constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;
constexpr std::chrono::seconds kLiveLineSpacing{1};

struct OutputQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines; // each stamped and with its line end
    std::size_t bytes = 0;
    unsigned long long dropped = 0;
    // The newest live line not written yet, and when the one before it went out.
    std::string liveLine;
    bool livePending = false;
    std::chrono::steady_clock::time_point liveWritten;
    bool flushing = false; // the live line goes out at once
    bool writing = false;  // the writer holds a line it has not written yet
    bool writerRunning = false;
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

// Blocks for as long as the output does; only the writer thread waits here once it runs.
void WriteOut(const std::string& text) {
    std::size_t done = 0;
    while (done != text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{STDOUT_FILENO, POLLOUT, {}}; // someone made it non-blocking
            ::poll(&ready, 1, -1);
        } else if (n == 0 || errno != EINTR) {
            return; // closed, gone (SIGPIPE is ignored) or full (SIGXFSZ is): the lines are lost
        }
    }
}

bool LiveLineDue(const OutputQueue& queue) {
    return queue.livePending && (queue.flushing || std::chrono::steady_clock::now() >=
                                                       queue.liveWritten + kLiveLineSpacing);
}

// The next text to write, taken off the queue: the oldest line (after a note of what was
// dropped), else the live line once it is due.
std::string TakeNext(OutputQueue& queue) {
    if (queue.lines.empty()) {
        queue.livePending = false;
        queue.liveWritten = std::chrono::steady_clock::now();
        return std::move(queue.liveLine);
    }
    std::string text;
    if (queue.dropped > 0) {
        text = Stamped("(" + std::to_string(queue.dropped) + " status line" +
                       (queue.dropped == 1 ? "" : "s") + " dropped while the output was blocked)");
        queue.dropped = 0;
    }
    // One line at a time, so that while the output is stuck no more than the queue's bound waits
    // besides the line in hand.
    text += queue.lines.front();
    queue.bytes -= queue.lines.front().size();
    queue.lines.pop_front();
    return text;
}

void Writer() {
    OutputQueue& queue = Queue();
    std::unique_lock<std::mutex> lock(queue.mutex);
    for (;;) {
        if (queue.lines.empty() && !LiveLineDue(queue)) {
            // Looked at again after every wake-up: a live line handed over meanwhile sets a
            // deadline that the untimed wait would not keep.
            if (queue.livePending)
                queue.changed.wait_until(lock, queue.liveWritten + kLiveLineSpacing);
            else
                queue.changed.wait(lock);
            continue;
        }
        std::string text;
        try {
            text = TakeNext(queue);
        } catch (const std::bad_alloc&) {
            ++queue.dropped; // the line is gone; the note may have memory later
            continue;
        }
        queue.writing = true;
        lock.unlock();
        WriteOut(text);
        lock.lock();
        queue.writing = false;
        queue.changed.notify_all();
    }
}

void Enqueue(std::string line) {
    OutputQueue& queue = Queue();
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (queue.writerRunning) {
            queue.bytes += line.size();
            queue.lines.push_back(std::move(line));
            while (queue.lines.size() > kMaxQueuedLines || queue.bytes > kMaxQueuedBytes) {
                queue.bytes -= queue.lines.front().size();
                queue.lines.pop_front();
                ++queue.dropped;
            }
            line.clear();
        }
    }
    if (line.empty())
        queue.changed.notify_all();
    else
        WriteOut(line); // no writer: before it starts, or when it could not
}

} // namespace

bool StartOutput() {
    OutputQueue& queue = Queue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (queue.writerRunning)
        return true;
    // The writer takes no signal, so the stop signals only ever reach main's wait.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    try {
        // Detached: a stuck output must never keep the process from ending.
        std::thread(Writer).detach();
        queue.writerRunning = true;
    } catch (...) {
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return queue.writerRunning;
}

std::string PrintableText(const std::wstring& text) {
    std::wstring clean = text;
    for (wchar_t& c : clean) {
        const unsigned long code = static_cast<unsigned long>(c);
        if (code <= 0x1F || (code >= 0x7F && code <= 0x9F)) // C0, DEL and C1
            c = L' ';
    }
    return WideToUtf8(clean);
}

void PrintLine(const std::string& text) {
    Enqueue(Stamped(text));
}

void PrintLastLine(const std::string& text) {
    OutputQueue& queue = Queue();
    std::string live;
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (std::exchange(queue.livePending, false))
            live = std::move(queue.liveLine);
    }
    if (!live.empty())
        Enqueue(std::move(live));
    PrintLine(text);
}

void PrintStatus(FrontEndPage page, const std::wstring& text) {
    PrintLine(PrintableText(kPageNames[page]) + ": " + PrintableText(text));
}

void PrintStatus(RigSource source, const std::wstring& text) {
    PrintLine(PrintableText(RigSourceName(source)) + ": " + PrintableText(text));
}

void PrintLiveStatus(const std::wstring& text) {
    std::string line = Stamped(PrintableText(kPageNames[kLivePage]) + ": " + PrintableText(text));
    OutputQueue& queue = Queue();
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (queue.writerRunning) {
            queue.liveLine = std::move(line);
            queue.livePending = true;
            line.clear();
        }
    }
    if (line.empty())
        queue.changed.notify_all();
    else
        WriteOut(line);
}

bool FlushOutput(std::chrono::milliseconds limit) {
    OutputQueue& queue = Queue();
    std::unique_lock<std::mutex> lock(queue.mutex);
    queue.flushing = true;
    queue.changed.notify_all();
    return queue.changed.wait_for(
        lock, limit, [&] { return queue.lines.empty() && !queue.livePending && !queue.writing; });
}
