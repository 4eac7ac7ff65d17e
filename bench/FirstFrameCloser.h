// Bench-only: closes the first dialog as soon as it has painted its first frame, the way the user would.
#pragma once

#include <QObject>

class FirstFrameCloser : public QObject {
    Q_OBJECT
public:
    // reportFont: also print the family and point size the dialog's font resolved to. Off for the references:
    // the question alone would make an empty dialog load fonts it never draws.
    explicit FirstFrameCloser(QObject* parent, bool reportFont = false)
        : QObject(parent), m_reportFont(reportFont) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_reportFont;
    bool m_seen = false;
};
