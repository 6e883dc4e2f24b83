#include "StatusLog.h"

#include <QDate>
#include <QLocale>
#include <QTime>

namespace quill {

QString LogTime() {
    return QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat);
}

QString LogDate() {
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

QString LogEntry(const QString& time, const QString& message) {
    return time + message + QStringLiteral("\r\n");
}

QString ConnectHeading(const QString& date, const QString& time, const QString& siteName,
                       const QString& server, FtpProtocol protocol) {
    QString named;
    if (protocol == FtpProtocol::Ftps) {
        named = QStringLiteral(" (FTPS, explicit TLS)");
    } else if (protocol == FtpProtocol::Sftp) {
        named = QStringLiteral(" (SFTP)");
    }
    return date + QStringLiteral(", ") + time + QStringLiteral(" *** ") + siteName.toUpper() +
           QStringLiteral(" ***\r\n") +
           LogEntry(time,
                    QStringLiteral(" > Connecting to: ") + server + named + QStringLiteral("..."));
}

QString ForTextBox(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace quill
