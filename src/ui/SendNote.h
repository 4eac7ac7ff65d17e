// What a port's tooltip says about the last send to it, in the operator's words: why it failed, or that the
// bytes were only acknowledged.
#pragma once

#include "PortWorker.h"

#include <QString>
#include <string>

class QTime;

// "Last Open (22:05) failed: no answer from rfc2217://10.0.0.7:2001 within 2 s", "Last Open (22:05):
// acknowledged only — the server kept the connection open", or "" for a send the far end confirmed. action
// as its button names it, at the time of the press; Chinese words when chinese is set.
QString sendNote(const QString& action, const QTime& pressed, const PortCallOutcome& outcome, bool chinese);

// A failure line of the library (VellPortLastError) in the operator's words: without the call and the port
// name, a network address written as the URL the port leads to, times of a second or more in seconds. The
// Chinese words say the common failures (timeout, refused, unknown host, no device, busy, no permission) in
// Chinese and keep the library's English for the rest and for the details of a missing permission.
QString failureWords(const std::string& libraryLine, int result, bool chinese);
