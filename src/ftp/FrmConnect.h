#pragma once

#include "FtpSession.h"
#include "SiteProfiles.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace quill {

struct AppContext;

// The site manager: edits one site's parameters, keeps named profiles and
// asks the client window for a connection. Closes itself two seconds after a
// connection attempt.
class FrmConnect final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FrmConnect)
public:
    // A fixed 16-character text in the form of an e-mail address.
    static constexpr const char* kAnonymousPassword = "guest@quill.exam";
    static constexpr const char* kAnonymousUser = "annonymous";

    explicit FrmConnect(AppContext& context, QWidget* parent = nullptr);

    QTimer* Timer1() const { return m_timer1; }

    void Command1_Click();  // Save
    void Command2_Click();  // New
    void Command3_Click();  // Connect
    void Command5_Click();  // Delete
    void RefreshProfileTree();
    // The client has opened the session for an attempt (or connected): the
    // window closes two seconds later.
    void startTimer1();

Q_SIGNALS:
    // Connect with these values; the fields have been checked.
    void connectRequested(const quill::ConnectRequest& request);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectProfile(QTreeWidgetItem* node);
    void deleteProfile(QTreeWidgetItem* node);
    void anonymousToggle();
    void Timer1_Timer();

    AppContext& m_context;
    SiteProfiles m_profiles;
    QString m_profileFile;

    QLineEdit* m_txtSiteName;
    QLineEdit* m_txtServer;
    QLineEdit* m_txtUser;
    QLineEdit* m_txtPass;
    QLineEdit* m_txtPort;
    QComboBox* m_cboProtocol;
    QLabel* m_label2;
    QCheckBox* m_check1;
    QCheckBox* m_check2;
    QRadioButton* m_option1;
    QRadioButton* m_option2;
    QRadioButton* m_option3;
    QRadioButton* m_option4;
    QRadioButton* m_option5;
    QRadioButton* m_option6;
    QRadioButton* m_option7;
    QTreeWidget* m_tview1;
    QPushButton* m_command1;
    QPushButton* m_command2;
    QPushButton* m_command3;
    QPushButton* m_command4;
    QPushButton* m_command5;
    QTimer* m_timer1;
    bool m_refreshing = false;
    bool m_connecting = false;    // Command3_Click is running
    bool m_closePending = false;  // Timer1 fired while it ran
    bool m_pressing = false;      // a mouse button is down on TView1
    bool m_loadedByPress = false;
    // The keyring did not give the shown profile's password; no Connect
    // with an empty one until the user types it.
    bool m_passwordMissing = false;
};

}  // namespace quill
