#include "PortWorker.h"

#include "LibraryCalls.h"
#include "settings/CommSettings.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

struct Job {
    PortWorker::Call call;
    PortWorker::WhenDone whenDone;
    std::string dropLine;
};

// When one of the window's calls started now has surely ended: the library's bound for a network send (2 s
// plus twice the wire time) of the window's 4 bytes of 10 bits at the slowest rate of the list, and the 100
// ms by which the library may overrun it.
LibraryCall::Clock::time_point longestCallEnd() {
    const int slowestRate = std::stoi(kBaudList.front());
    return LibraryCall::Clock::now() +
           std::chrono::milliseconds(2000 + 2 * 4 * 10 * 1000 / slowestRate + 1 + 100);
}

// One write() per line, as the library writes its own, so lines from several threads never interleave.
void writeLogLine(const std::string& text) {
    const std::string line = "VellSetting: " + text + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

} // namespace

// What the window and its worker thread share.
struct PortWorkerQueue : LibraryQueue<Job, PortWorker> {};

PortWorker::PortWorker(QObject* parent) : QObject(parent), m_queue(std::make_shared<PortWorkerQueue>()) {
    m_queue->owner = this;
}

PortWorker::~PortWorker() {
    dropWaiting();
    const std::lock_guard lock(m_queue->mutex);
    m_queue->owner = nullptr;
}

void PortWorker::post(Call call, WhenDone whenDone, std::string dropLine) {
    const bool send = !dropLine.empty();
    ++m_pending;
    if (send && m_sendsPending++ == 0)
        emit sendingChanged(true);
    {
        const std::lock_guard lock(m_queue->mutex);
        m_queue->waiting.push_back({std::move(call), std::move(whenDone), std::move(dropLine)});
        const auto run = [](const Job& job) { return job.call(); };
        const auto deliver = [](PortWorker* owner, Job job, const PortCallOutcome& outcome) {
            const bool isSend = !job.dropLine.empty();
            QMetaObject::invokeMethod(
                owner,
                [owner, isSend, whenDone = std::move(job.whenDone), outcome] {
                    owner->finished(isSend, whenDone, outcome);
                },
                Qt::QueuedConnection);
        };
        if (keepRunning(m_queue, longestCallEnd, run, deliver))
            return;
    }
    // No thread to be had: the calls run on the window's thread, holding it as long as they take.
    for (;;) {
        Job job;
        {
            const std::lock_guard lock(m_queue->mutex);
            if (m_queue->waiting.empty())
                return;
            job = std::move(m_queue->waiting.front());
            m_queue->waiting.pop_front();
        }
        finished(!job.dropLine.empty(), job.whenDone, job.call());
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

void PortWorker::finished(bool send, const WhenDone& whenDone, const PortCallOutcome& outcome) {
    if (whenDone)
        whenDone(outcome);
    countDone(send);
}

void PortWorker::countDone(bool send) {
    --m_pending;
    if (send && --m_sendsPending == 0)
        emit sendingChanged(false);
}
