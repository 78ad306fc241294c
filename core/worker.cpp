#include "core/worker.h"

#include <new>
#include <system_error>

namespace {

std::atomic<WorkerFaultHandler> faultHandler{nullptr};

void Report(WorkerFault fault) {
    if (const WorkerFaultHandler handler = faultHandler.load())
        handler(fault);
}

// Nothing may leave a thread's function: it would end the whole process with std::terminate.
void RunGuarded(const std::function<void()>& body) {
    try {
        body();
    } catch (...) {
        const WorkerFault fault = FaultInFlight();
        try {
            Report(fault);
        } catch (...) { // a handler short of memory has nothing left to tell
        }
    }
}

} // namespace

WorkerFault FaultInFlight() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return WorkerFault::NoMemory;
    } catch (const std::system_error&) {
        return WorkerFault::NoThread;
    } catch (...) {
        return WorkerFault::Other;
    }
}

void SetWorkerFaultHandler(WorkerFaultHandler handler) {
    faultHandler.store(handler);
}

void StartWorker(Worker& worker, std::function<void()> body) {
    if (worker.running.exchange(true))
        return;
    if (worker.thread.joinable())
        worker.thread.join(); // a worker that ended by itself
    try {
        worker.thread = std::thread(RunGuarded, std::move(body));
    } catch (...) {
        worker.running.store(false); // no thread, so nothing to stop later
        Report(FaultInFlight());
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
