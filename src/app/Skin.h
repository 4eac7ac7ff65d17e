// The skin: a Qt style sheet read from a file and applied to the whole application.
#pragma once

#include <string>

class QApplication;

// Applies the style sheet in the file at path (8-bit text in the system code page) to app.
// A missing or unreadable file, anything but a regular file of at most 1 MiB, or one that is not valid UTF-8
// text, applies nothing (and never blocks: a FIFO of that name is not opened); returns whether it applied.
bool applySkin(QApplication& app, const std::string& path);
