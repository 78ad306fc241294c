#pragma once
// One worker thread's control, the same for every worker: the run flag that start and stop turn
// by an atomic exchange, the thread, and a wait in slices that a stop cuts short.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

struct Worker {
    std::atomic<bool> running{false};
    std::thread thread; // touched only by the thread that starts and stops the worker
    // Taken by a stop before it wakes the slice wait, so the wake-up cannot fall between the
    // worker's look at its flags and its wait.
    std::mutex mutex;
    std::condition_variable wake;
};

constexpr std::chrono::milliseconds kWorkerSlice{100};
// For waits given in seconds; the slice divides a second evenly.
constexpr int kSlicesPerSecond = static_cast<int>(1000 / kWorkerSlice.count());
static_assert(1000 % kWorkerSlice.count() == 0, "a whole number of slices per second");

// Does nothing while the worker runs. Otherwise joins a thread that ended by itself, raises the
// flag and runs `body` on a new thread; when no thread can be made the flag falls again and the
// failure handler hears of it. An exception that leaves `body` ends only that thread, and the
// handler hears of it too.
void StartWorker(Worker& worker, std::function<void()> body);

// Why a worker could not run.
enum class WorkerFault {
    NoThread, // the system gave no thread (a process or thread limit)
    NoMemory, // an allocation failed, when starting or while running
    Other,    // any other exception left the worker
};

// Called on whichever thread met the fault; it must not start or stop workers itself. Set it
// before the first worker starts; nullptr (the default) lets faults pass unheard.
using WorkerFaultHandler = void (*)(WorkerFault fault);
void SetWorkerFaultHandler(WorkerFaultHandler handler);

// The fault that the exception being handled stands for; call it inside a catch block only.
WorkerFault FaultInFlight();

// Lowers the flag; if it was raised, runs `unblock` (wakes a socket or another wait of the
// worker's) and cuts the slice wait short. Then joins the thread, if there is one. Safe to
// repeat; never from the worker itself.
void StopWorker(Worker& worker, void (*unblock)() = nullptr);

// Cuts the slice wait short, so that the worker looks at its flags again.
void WakeWorker(Worker& worker);

// Waits up to `slices` slices of kWorkerSlice, looking before each whether the worker still runs
// and, when given, `wanted` is still set; a stop or a WakeWorker ends the slice at hand. Returns
// whether both still hold.
bool WaitSlices(Worker& worker, std::int64_t slices, const std::atomic<bool>* wanted = nullptr);
