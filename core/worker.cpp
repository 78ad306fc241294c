#include "core/worker.h"

#include <system_error>

void StartWorker(Worker& worker, std::function<void()> body) {
    if (worker.running.exchange(true))
        return;
    if (worker.thread.joinable())
        worker.thread.join(); // a worker that ended by itself
    try {
        worker.thread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        worker.running.store(false); // no thread, so nothing to stop later
    }
}

void WakeWorker(Worker& worker) {
    { std::lock_guard<std::mutex> lock(worker.mutex); }
    worker.wake.notify_all();
}

void StopWorker(Worker& worker, void (*unblock)()) {
    if (worker.running.exchange(false)) {
        if (unblock)
            unblock();
        WakeWorker(worker);
    }
    if (worker.thread.joinable())
        worker.thread.join();
}

bool WaitSlices(Worker& worker, std::int64_t slices, const std::atomic<bool>* wanted) {
    const auto stillWanted = [&] { return worker.running.load() && (!wanted || wanted->load()); };
    std::unique_lock<std::mutex> lock(worker.mutex);
    for (std::int64_t slice = 0; slice < slices && stillWanted(); ++slice)
        worker.wake.wait_until(lock, std::chrono::steady_clock::now() + kWorkerSlice,
                               [&] { return !stillWanted(); });
    return stillWanted();
}
