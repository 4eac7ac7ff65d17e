// Reading and applying the skin file.
#include "Skin.h"

#include <QApplication>
#include <QFile>
#include <QStringDecoder>

namespace {
// A skin is a few kilobytes; anything far larger is not one and would only slow the start.
constexpr qint64 kMaxSkinBytes = 1 << 20;
} // namespace

bool applySkin(QApplication& app, const std::string& path) {
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSkinBytes) {
        return false;
    }
    const QByteArray bytes = file.read(kMaxSkinBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxSkinBytes || bytes.contains('\0')) {
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString sheet = decoder.decode(bytes);
    if (decoder.hasError()) {
        return false;
    }
    app.setStyleSheet(sheet);
    return true;
}
