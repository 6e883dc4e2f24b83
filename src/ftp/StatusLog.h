#pragma once

#include "net/FtpConnection.h"

#include <QString>

namespace quill {

// Texts of the FTP client's status log. An entry is the time of day, a
// message that starts with " > ", and CR LF.

// The time of day in the system's short format.
QString LogTime();
// The date in the system's short format.
QString LogDate();

QString LogEntry(const QString& time, const QString& message);

// The heading Connect writes: date, time, the site name in capitals, then
// the "Connecting to" entry, which names FTPS and SFTP (plain FTP as ever).
QString ConnectHeading(const QString& date, const QString& time, const QString& siteName,
                       const QString& server, FtpProtocol protocol = FtpProtocol::Ftp);

// A text box keeps lines, not CR LF: each CR LF (or lone CR) becomes a line
// break.
QString ForTextBox(QString text);

}  // namespace quill
