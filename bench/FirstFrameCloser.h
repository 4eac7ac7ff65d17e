// Bench-only: closes the first dialog as soon as it has painted its first frame, the way the user would.
#pragma once

#include <QObject>

class FirstFrameCloser : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_seen = false;
};
