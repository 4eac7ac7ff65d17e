// The skin: a Qt style sheet read from a file and applied to the whole application.
#pragma once

#include <string>

class QApplication;

// Applies the style sheet in the file at path (8-bit text in the system code page) to app.
// A missing or unreadable file, or one that is not valid UTF-8 text, applies nothing; returns whether it
// applied.
bool applySkin(QApplication& app, const std::string& path);
