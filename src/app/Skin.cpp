#include "Skin.h"

#include "common/RegularFile.h"

#include <QApplication>
#include <QByteArray>
#include <QStringDecoder>

namespace {
// A skin is a few kilobytes; anything far larger is not one and would only slow the start.
constexpr std::size_t kMaxSkinBytes = 1 << 20;
} // namespace

bool applySkin(QApplication& app, const std::string& path) {
    // Read like every file of the user's: a FIFO or a tty of that name must not keep the window from showing.
    const common::FileBytes file = common::readRegularFile(path, kMaxSkinBytes);
    if (file.outcome != common::FileBytes::Outcome::Read || file.bytes.find('\0') != std::string::npos) {
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString sheet =
        decoder.decode(QByteArrayView(file.bytes.data(), static_cast<qsizetype>(file.bytes.size())));
    if (decoder.hasError()) {
        return false;
    }
    app.setStyleSheet(sheet);
    return true;
}
