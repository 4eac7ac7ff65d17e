// The window's calls into the port link library, run one after the other on a thread of the window's own in
// the order the operator made them, so a send that waits for a silent host never holds the window.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

struct PortWorkerQueue;

// What a call tells the window: its result and, for a send, how far the bytes went and why it failed, read on
// the thread that made the call (the library keeps both per thread).
struct PortCallOutcome {
    int result = 0;
    int delivery = 0;   // an enum VellPortDelivery
    std::string reason; // VellPortLastError; "" on success
};

class PortWorker : public QObject {
    Q_OBJECT
public:
    using Call = std::function<PortCallOutcome()>;
    using WhenDone = std::function<void(const PortCallOutcome&)>;

    explicit PortWorker(QObject* parent);
    // Drops the calls still waiting (see dropWaiting); never waits for the one running, which ends within its
    // bound on a thread that holds nothing of the window.
    ~PortWorker() override;
    PortWorker(const PortWorker&) = delete;
    PortWorker& operator=(const PortWorker&) = delete;

    // Queues call behind every call posted before it; whenDone then runs on the window's thread with its
    // outcome, unless the worker is gone by then. A send names itself in dropLine, the log line it gets when
    // dropped.
    void post(Call call, WhenDone whenDone = {}, std::string dropLine = {});
    // Drops every call not started yet, with one line on standard error for each send among them.
    void dropWaiting();

    // Calls posted whose outcome is not back on the window's thread yet, and the sends among them.
    int pending() const { return m_pending; }
    int sendsPending() const { return m_sendsPending; }

    // On the window's thread, what the worker thread's call came to: handed to its whenDone.
    void finished(bool send, const WhenDone& whenDone, const PortCallOutcome& outcome);

signals:
    // A send is queued or running (true), or none is left (false).
    void sendingChanged(bool sending);

private:
    void countDone(bool send);

    std::shared_ptr<PortWorkerQueue> m_queue;
    int m_pending = 0;
    int m_sendsPending = 0;
};
