#pragma once

#include "net/FtpConnection.h"

class QComboBox;
class QLineEdit;
class QWidget;

namespace quill {

// The protocol choice of the site manager and the quick-connect bar: a combo
// box "cboProtocol" with "FTP", "FTPS (explicit TLS)" and "SFTP". The port
// field follows the choice unless it holds a port the user typed, and a
// scheme typed or pasted into the server field ("sftp://host") sets it; a
// scheme already in the field follows the choice.
QComboBox* NewProtocolChoice(QLineEdit* server, QLineEdit* port, QWidget* parent);

FtpProtocol ChosenProtocol(const QComboBox& choice);
void ChooseProtocol(QComboBox& choice, FtpProtocol protocol);

}  // namespace quill
