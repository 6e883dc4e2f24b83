#include "ProtocolChoice.h"

#include "FtpSession.h"
#include "common/TextCodec.h"

#include <QComboBox>
#include <QLineEdit>

namespace quill {

QComboBox* NewProtocolChoice(QLineEdit* server, QLineEdit* port, QWidget* parent) {
    auto* choice = new QComboBox(parent);
    choice->setObjectName(QStringLiteral("cboProtocol"));
    choice->setAccessibleName(QStringLiteral("Protocol"));
    choice->addItem(QStringLiteral("FTP"), static_cast<int>(FtpProtocol::Ftp));
    choice->addItem(QStringLiteral("FTPS (explicit TLS)"), static_cast<int>(FtpProtocol::Ftps));
    choice->addItem(QStringLiteral("SFTP"), static_cast<int>(FtpProtocol::Sftp));
    QObject::connect(choice, &QComboBox::currentIndexChanged, port,
                     [choice, server, port, previous = FtpProtocol::Ftp](int) mutable {
                         const FtpProtocol now = ChosenProtocol(*choice);
                         if (const auto text = PortAfterProtocolChange(
                                 previous, now, port->text().toStdString())) {
                             port->setText(Qs(*text));
                         }
                         previous = now;
                         // An address with another scheme takes the chosen
                         // one, so the field and the choice never disagree.
                         const QString address = server->text();
                         const auto typed = ParseServerField(address.toStdString()).protocol;
                         if (typed && *typed != now) {
                             qsizetype start = 0;
                             while (start < address.size() && address[start].isSpace()) {
                                 ++start;
                             }
                             server->setText(address.left(start) + Qs(ProtocolName(now)).toLower() +
                                             address.mid(address.indexOf(u"://", start)));
                         }
                     });
    // Edits by the user only: a profile or the quick-connect bar setting the
    // field sets the choice itself.
    QObject::connect(server, &QLineEdit::textEdited, choice, [choice](const QString& text) {
        if (const auto protocol = ParseServerField(text.toStdString()).protocol) {
            ChooseProtocol(*choice, *protocol);
        }
    });
    return choice;
}

FtpProtocol ChosenProtocol(const QComboBox& choice) {
    return static_cast<FtpProtocol>(choice.currentData().toInt());
}

void ChooseProtocol(QComboBox& choice, FtpProtocol protocol) {
    choice.setCurrentIndex(choice.findData(static_cast<int>(protocol)));
}

}  // namespace quill
