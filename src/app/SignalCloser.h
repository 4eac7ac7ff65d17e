// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the window's thread.
#pragma once

#include "common/UniqueFd.h"

#include <QObject>

class QSocketNotifier;

// While it lives, the three signals no longer end the process: each one emits closeRequested() from the event
// loop, so the window can close by its normal route and save. A self-pipe keeps the handler
// async-signal-safe. One instance at a time.
class SignalCloser : public QObject {
    Q_OBJECT
public:
    explicit SignalCloser(QObject* parent = nullptr);
    ~SignalCloser() override;
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

signals:
    void closeRequested(int signalNumber);

private:
    void drain();

    common::UniqueFd m_readFd;
    common::UniqueFd m_writeFd;
    QSocketNotifier* m_notifier = nullptr;
};
