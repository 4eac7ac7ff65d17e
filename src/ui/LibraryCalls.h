// The port link library's calls that run on the window's own threads, counted so that the program ends only
// when none is left inside the library, or once the bound of the ones that have a bound has passed.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

// One call inside the library on the calling thread, from construction to destruction.
class LibraryCall {
public:
    using Clock = std::chrono::steady_clock;

    // deadline: when the library promises to have returned; Clock::time_point::max() for a call without a
    // bound of its own (a describe waits as long as the kernel holds its read).
    explicit LibraryCall(Clock::time_point deadline);
    ~LibraryCall();
    LibraryCall(const LibraryCall&) = delete;
    LibraryCall& operator=(const LibraryCall&) = delete;

private:
    Clock::time_point m_deadline;
};

// Waits until no call is inside the library or the latest deadline among the bounded ones has passed, and
// never for an unbounded one; true when none is left. A false answer means a thread is still inside the
// library, so the process must end without running the destructors of the library's statics under it.
bool libraryCallsEnded();

// Jobs that one of the window's objects hands to a detached thread, run one after the other in the order
// queued. The thread holds the queue alone, so its owner never waits for a job stuck in the library.
template <class Job, class Owner>
struct LibraryQueue {
    using JobType = Job;
    using OwnerType = Owner;

    std::mutex mutex;
    std::deque<Job> waiting;
    bool running = false;
    // Cleared under the mutex when the owner goes, so a result is handed only to a living owner; Qt drops a
    // posted call whose receiver is deleted before it runs.
    Owner* owner = nullptr;
};

// With the queue's mutex held: makes sure a thread empties the queue, running run(job) for each job and then,
// under the mutex, deliver(owner, job, result) while the owner lives. deadline() gives each call's bound for
// LibraryCall. False when no thread can be had; the jobs then stay queued.
template <class Queue, class Run, class Deliver>
bool keepRunning(const std::shared_ptr<Queue>& queue, LibraryCall::Clock::time_point (*deadline)(), Run run,
                 Deliver deliver) {
    if (queue->running)
        return true;
    try {
        std::thread([queue, deadline, run, deliver] {
            for (;;) {
                typename Queue::JobType job;
                std::optional<LibraryCall> inLibrary;
                {
                    const std::lock_guard lock(queue->mutex);
                    if (queue->waiting.empty() || queue->owner == nullptr) {
                        queue->running = false;
                        return;
                    }
                    job = std::move(queue->waiting.front());
                    queue->waiting.pop_front();
                    // Counted before the lock goes, so the end of the program sees every call that may start.
                    inLibrary.emplace(deadline());
                }
                auto result = run(job);
                inLibrary.reset();
                const std::lock_guard lock(queue->mutex);
                if (typename Queue::OwnerType* owner = queue->owner)
                    deliver(owner, std::move(job), std::move(result));
            }
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    queue->running = true;
    return true;
}
