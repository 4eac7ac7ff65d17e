#include "SendNote.h"

#include "VellPortDll.h"

#include <QRegularExpression>
#include <QTime>

namespace {

// A failure line of the library: "SendData(\"COM5\"): rfc2217://10.0.0.7:2001: no answer from ...".
struct LibraryLine {
    QString target; // the device path or endpoint URL; "" when the line names none
    QString reason;
};

LibraryLine splitLine(const QString& line) {
    static const QRegularExpression shape(QStringLiteral(R"(^\w+\("[^"]*"(?:\.\.\.)?\): (.*?): (.*)$)"));
    const QRegularExpressionMatch match = shape.match(line);
    if (!match.hasMatch())
        return {{}, line};
    const QString target = match.captured(1);
    return {target == QLatin1String("no device path") ? QString() : target, match.captured(2)};
}

bool isUrl(const QString& target) {
    return target.contains(QLatin1String("://"));
}

// 2009 ms -> "2", 2508 ms -> "2.5": the bound as the operator knows it.
QString seconds(qint64 milliseconds) {
    QString text = QString::number(static_cast<double>(milliseconds) / 1000.0, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text;
}

const QRegularExpression& longDuration() {
    static const QRegularExpression duration(QStringLiteral(R"(\b(\d{4,}) ms\b)"));
    return duration;
}

QString englishWords(const LibraryLine& line) {
    QString words = line.reason;
    // The library names the host and port; the operator knows the URL the port leads to.
    if (isUrl(line.target) && !words.contains(line.target)) {
        const QString address = line.target.section(QLatin1String("://"), 1);
        words.replace(address, line.target);
    }
    QRegularExpressionMatch match;
    while ((match = longDuration().match(words)).hasMatch())
        words.replace(match.capturedStart(), match.capturedLength(),
                      seconds(match.captured(1).toLongLong()) + QLatin1String(" s"));
    return words;
}

QString chineseWords(const LibraryLine& line, int result, const QString& english) {
    const QString& target = line.target;
    switch (result) {
    case VELLPORT_ERR_TIMEOUT: {
        if (!isUrl(target))
            return QStringLiteral("数据未能在时限内发往 %1").arg(target);
        const QRegularExpressionMatch bound = longDuration().match(line.reason);
        return bound.hasMatch() ? QStringLiteral("%1 在 %2 秒内无应答")
                                      .arg(target, seconds(bound.captured(1).toLongLong()))
                                : QStringLiteral("%1 无应答").arg(target);
    }
    case VELLPORT_ERR_REFUSED:
        return QStringLiteral("%1 拒绝连接（该端口没有服务在监听）").arg(target);
    case VELLPORT_ERR_HOST:
        return QStringLiteral("找不到 %1 的主机").arg(target);
    case VELLPORT_ERR_NO_DEVICE:
        return QStringLiteral("%1 处没有设备").arg(target);
    case VELLPORT_ERR_BUSY:
        return isUrl(target) ? QStringLiteral("%1 正被另一个客户端占用").arg(target)
                             : QStringLiteral("%1 正被另一个程序占用").arg(target);
    case VELLPORT_ERR_PERMISSION:
        return QStringLiteral("无权打开 %1：%2").arg(target, english);
    default:
        return english;
    }
}

} // namespace

QString failureWords(const std::string& libraryLine, int result, bool chinese) {
    const LibraryLine line = splitLine(QString::fromUtf8(libraryLine));
    const QString english = englishWords(line);
    return chinese && !line.target.isEmpty() ? chineseWords(line, result, english) : english;
}

QString sendNote(const QString& action, const QTime& pressed, const PortCallOutcome& outcome, bool chinese) {
    const QString at = pressed.toString(QStringLiteral("HH:mm"));
    if (outcome.result != VELLPORT_OK) {
        const QString words = failureWords(outcome.reason, outcome.result, chinese);
        return chinese ? QStringLiteral("上次%1（%2）失败：%3").arg(action, at, words)
                       : QStringLiteral("Last %1 (%2) failed: %3").arg(action, at, words);
    }
    if (outcome.delivery == VELLPORT_DELIVERY_ACKNOWLEDGED) {
        return chinese
                   ? QStringLiteral("上次%1（%2）：仅获对方确认——服务器一直未关闭连接").arg(action, at)
                   : QStringLiteral("Last %1 (%2): acknowledged only — the server kept the connection open")
                         .arg(action, at);
    }
    return {};
}
