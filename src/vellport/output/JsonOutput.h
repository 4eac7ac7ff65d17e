// vellport's JSON: texts whose bytes a script gets back exactly, and documents written in ASCII.
#pragma once

#include <QJsonObject>
#include <iosfwd>
#include <string_view>

namespace vellport {
// Sets object[key] to the text (null for a null pointer). Bytes that are not UTF-8 show as U+FFFD there, so
// then object[key + "Hex"] holds the exact bytes as lowercase hex; the field is absent for UTF-8 text.
void insertText(QJsonObject& object, const QString& key, const char* value);

// The document, indented, with every non-ASCII character as a \u escape.
void writeJson(const QJsonObject& document, std::ostream& out);
} // namespace vellport
