// The window's port worker: a queue the window fills and one detached thread that empties it.
#include "PortWorker.h"

#include "LibraryCalls.h"
#include "settings/CommSettings.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

struct Job {
    PortWorker::Call call;
    PortWorker::Done done;
    std::string dropLine;
};

// The longest one of the window's calls may take: the library's bound for a network send (2 s plus twice the
// wire time) of the window's 4 bytes of 10 bits at the slowest rate of the list, and the 100 ms by which the
// library may overrun it.
std::chrono::milliseconds longestCall() {
    const int slowestRate = std::stoi(kBaudList.front());
    return std::chrono::milliseconds(2000 + 2 * 4 * 10 * 1000 / slowestRate + 1 + 100);
}

// One write() per line, as the library writes its own, so lines from several threads never interleave.
void writeLogLine(const std::string& text) {
    const std::string line = "VellSetting: " + text + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

} // namespace

// What the window and its worker thread share. The thread is detached and holds this alone, so the window
// never waits for a call that waits for the network.
struct PortWorkerQueue {
    std::mutex mutex;
    std::deque<Job> waiting;
    bool running = false;
    // Cleared under the mutex when the worker goes, so an outcome is posted only to a living receiver; Qt
    // drops a posted call whose receiver is deleted before it runs.
    PortWorker* receiver = nullptr;
};

namespace {

// Runs the calls waiting, one after the other, until none is left.
void work(const std::shared_ptr<PortWorkerQueue>& queue) {
    for (;;) {
        Job job;
        std::optional<LibraryCall> inLibrary;
        {
            const std::lock_guard lock(queue->mutex);
            if (queue->waiting.empty()) {
                queue->running = false;
                return;
            }
            job = std::move(queue->waiting.front());
            queue->waiting.pop_front();
            // Counted before the lock goes, so the end of the program sees every call that may start.
            inLibrary.emplace(LibraryCall::Clock::now() + longestCall());
        }
        const PortCallOutcome outcome = job.call();
        inLibrary.reset();
        const std::lock_guard lock(queue->mutex);
        if (PortWorker* receiver = queue->receiver) {
            const bool send = !job.dropLine.empty();
            QMetaObject::invokeMethod(
                receiver,
                [receiver, send, done = std::move(job.done), outcome] {
                    receiver->finished(send, done, outcome);
                },
                Qt::QueuedConnection);
        }
    }
}

} // namespace

PortWorker::PortWorker(QObject* parent) : QObject(parent), m_queue(std::make_shared<PortWorkerQueue>()) {
    m_queue->receiver = this;
}

PortWorker::~PortWorker() {
    dropWaiting();
    const std::lock_guard lock(m_queue->mutex);
    m_queue->receiver = nullptr;
}

void PortWorker::post(Call call, Done done, std::string dropLine) {
    const bool send = !dropLine.empty();
    ++m_pending;
    if (send && m_sendsPending++ == 0)
        emit sendingChanged(true);
    {
        const std::lock_guard lock(m_queue->mutex);
        m_queue->waiting.push_back({std::move(call), std::move(done), std::move(dropLine)});
        if (m_queue->running)
            return;
        try {
            std::thread(work, m_queue).detach();
            m_queue->running = true;
            return;
        } catch (const std::system_error&) {
            // No thread to be had: the calls run on the window's thread, holding it as long as they take.
        }
    }
    for (;;) {
        Job job;
        {
            const std::lock_guard lock(m_queue->mutex);
            if (m_queue->waiting.empty())
                return;
            job = std::move(m_queue->waiting.front());
            m_queue->waiting.pop_front();
        }
        finished(!job.dropLine.empty(), job.done, job.call());
    }
}

void PortWorker::dropWaiting() {
    std::deque<Job> dropped;
    {
        const std::lock_guard lock(m_queue->mutex);
        dropped.swap(m_queue->waiting);
    }
    for (const Job& job : dropped) {
        if (!job.dropLine.empty())
            writeLogLine(job.dropLine);
        countDone(!job.dropLine.empty());
    }
}

void PortWorker::finished(bool send, const Done& done, const PortCallOutcome& outcome) {
    if (done)
        done(outcome);
    countDone(send);
}

void PortWorker::countDone(bool send) {
    --m_pending;
    if (send && --m_sendsPending == 0)
        emit sendingChanged(false);
}
