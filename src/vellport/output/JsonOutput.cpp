#include "vellport/output/JsonOutput.h"

#include "common/Utf8.h"
#include "vellport/output/TextEncoding.h"

#include <QJsonDocument>
#include <ostream>

namespace vellport {
void insertText(QJsonObject& object, const QString& key, const char* value) {
    if (value == nullptr) {
        object.insert(key, QJsonValue(QJsonValue::Null));
        return;
    }
    const std::string_view bytes(value);
    object.insert(key, QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!common::isValidUtf8(bytes)) {
        object.insert(key + QStringLiteral("Hex"), QString::fromStdString(hexBytes(bytes)));
    }
}

void writeJson(const QJsonObject& document, std::ostream& out) {
    const QByteArray text = QJsonDocument(document).toJson(QJsonDocument::Indented);
    out << asciiJson(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}
} // namespace vellport
