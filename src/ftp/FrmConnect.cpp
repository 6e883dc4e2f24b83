#include "FrmConnect.h"

#include "FtpSession.h"
#include "ProtocolChoice.h"
#include "SitePasswords.h"
#include "common/TextCodec.h"
#include "platform/AppContext.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

namespace quill {
namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;

QString DisplayText(const std::string& bytes) {
    return ToDisplay(bytes, DetectEncoding(bytes));
}
std::string bytes(const QString& text) {
    return text.toStdString();
}

}  // namespace

FrmConnect::FrmConnect(AppContext& context, QWidget* parent)
    : QDialog(parent),
      m_context(context),
      m_profiles(context.programFolder),
      m_txtSiteName(new QLineEdit(this)),
      m_txtServer(new QLineEdit(this)),
      m_txtUser(new QLineEdit(QString::fromLatin1(kAnonymousUser), this)),
      m_txtPass(new QLineEdit(QString::fromLatin1(kAnonymousPassword), this)),
      m_txtPort(new QLineEdit(QStringLiteral("21"), this)),
      m_cboProtocol(NewProtocolChoice(m_txtServer, m_txtPort, this)),
      m_label2(new QLabel(QStringLiteral("FTP://"), this)),
      m_check1(new QCheckBox(QStringLiteral("Annonymous"), this)),
      m_check2(new QCheckBox(QStringLiteral("Save password"), this)),
      m_option1(new QRadioButton(QStringLiteral("Binary"))),
      m_option2(new QRadioButton(QStringLiteral("ASCII"))),
      m_option3(new QRadioButton(QStringLiteral("Passive tr."))),
      m_option4(new QRadioButton(QStringLiteral("Active tr."))),
      m_option5(new QRadioButton(QStringLiteral("HTTP"))),
      m_option6(new QRadioButton(QStringLiteral("FTP"))),
      m_option7(new QRadioButton(QStringLiteral("GOPHER"))),
      m_tview1(new QTreeWidget(this)),
      m_command1(new QPushButton(QStringLiteral("Save"), this)),
      m_command2(new QPushButton(QStringLiteral("New"), this)),
      m_command3(new QPushButton(QStringLiteral("Connect"), this)),
      m_command4(new QPushButton(QStringLiteral("Cancel"), this)),
      m_command5(new QPushButton(QStringLiteral("Delete"), this)),
      m_timer1(new QTimer(this)) {
    setObjectName(QStringLiteral("FrmConnect"));
    setWindowTitle(QStringLiteral("FTP Site Manager"));
    setModal(true);

    m_txtSiteName->setObjectName(QStringLiteral("txtSiteName"));
    m_txtServer->setObjectName(QStringLiteral("txtServer"));
    m_txtUser->setObjectName(QStringLiteral("txtUser"));
    m_txtPass->setObjectName(QStringLiteral("txtPass"));
    m_txtPass->setEchoMode(QLineEdit::Password);
    m_txtPort->setObjectName(QStringLiteral("txtPort"));
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setBuddy(m_txtServer);
    m_txtServer->setAccessibleName(QStringLiteral("Server address"));
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check1->setChecked(true);
    m_check2->setObjectName(QStringLiteral("Check2"));
    const std::pair<QRadioButton*, const char*> options[] = {
        {m_option1, "Option1"}, {m_option2, "Option2"}, {m_option3, "Option3"},
        {m_option4, "Option4"}, {m_option5, "Option5"}, {m_option6, "Option6"},
        {m_option7, "Option7"}};
    for (const auto& [option, name] : options) {
        option->setObjectName(QString::fromLatin1(name));
    }
    m_option1->setChecked(true);
    m_option3->setChecked(true);
    m_option6->setChecked(true);
    m_tview1->setObjectName(QStringLiteral("TView1"));
    m_tview1->setAccessibleName(QStringLiteral("Site profiles"));
    m_tview1->setHeaderHidden(true);
    m_tview1->setMinimumWidth(190);
    m_tview1->installEventFilter(this);
    m_tview1->viewport()->installEventFilter(this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_command3->setObjectName(QStringLiteral("Command3"));
    m_command4->setObjectName(QStringLiteral("Command4"));
    m_command5->setObjectName(QStringLiteral("Command5"));
    m_command5->setEnabled(false);
    m_command3->setDefault(true);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(2000);

    auto group = [this](const QString& title, std::initializer_list<QRadioButton*> buttons) {
        auto* box = new QGroupBox(title, this);
        auto* layout = new QVBoxLayout(box);
        for (QRadioButton* button : buttons) {
            layout->addWidget(button);
        }
        return box;
    };

    auto* fields = new QGridLayout;
    auto addField = [&](int row, QLabel* label, QWidget* edit) {
        label->setBuddy(edit);
        fields->addWidget(label, row, 0);
        fields->addWidget(edit, row, 1);
    };
    addField(0, new QLabel(QStringLiteral("Name:"), this), m_txtSiteName);
    addField(1, m_label2, m_txtServer);
    addField(2, new QLabel(QStringLiteral("Pro&tocol:"), this), m_cboProtocol);
    addField(3, new QLabel(QStringLiteral("User ID:"), this), m_txtUser);
    addField(4, new QLabel(QStringLiteral("Password:"), this), m_txtPass);
    addField(5, new QLabel(QStringLiteral("Port:"), this), m_txtPort);
    m_txtSiteName->setAccessibleName(QStringLiteral("Name"));
    m_txtUser->setAccessibleName(QStringLiteral("User ID"));
    m_txtPass->setAccessibleName(QStringLiteral("Password"));
    m_txtPort->setAccessibleName(QStringLiteral("Port"));
    auto* checks = new QHBoxLayout;
    checks->addWidget(m_check1);
    checks->addWidget(m_check2);
    fields->addLayout(checks, 6, 1);

    auto* groups = new QHBoxLayout;
    groups->addWidget(group(QStringLiteral("Transfer type"), {m_option1, m_option2}));
    groups->addWidget(group(QStringLiteral("Mode"), {m_option3, m_option4}));
    groups->addWidget(group(QStringLiteral("Service"), {m_option5, m_option6, m_option7}));

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_command1, m_command2, m_command5, m_command3, m_command4}) {
        buttons->addWidget(button);
    }

    auto* right = new QVBoxLayout;
    right->addLayout(fields);
    right->addLayout(groups);
    right->addStretch();
    right->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_tview1, 1);
    layout->addLayout(right, 2);

    setTabOrder(m_tview1, m_txtSiteName);
    setTabOrder(m_txtSiteName, m_txtServer);
    setTabOrder(m_txtServer, m_cboProtocol);
    setTabOrder(m_cboProtocol, m_txtUser);
    setTabOrder(m_txtUser, m_txtPass);
    setTabOrder(m_txtPass, m_txtPort);
    setTabOrder(m_txtPort, m_check1);
    setTabOrder(m_check1, m_check2);

    connect(m_command1, &QPushButton::clicked, this, &FrmConnect::Command1_Click);
    connect(m_command2, &QPushButton::clicked, this, &FrmConnect::Command2_Click);
    connect(m_command3, &QPushButton::clicked, this, &FrmConnect::Command3_Click);
    connect(m_command4, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_command5, &QPushButton::clicked, this, &FrmConnect::Command5_Click);
    // toggled, not clicked: a screen reader's toggle action counts as a choice.
    connect(m_check1, &QCheckBox::toggled, this, &FrmConnect::anonymousToggle);
    for (QAbstractButton* button :
         std::initializer_list<QAbstractButton*>{m_check2, m_option1, m_option2}) {
        connect(button, &QAbstractButton::toggled, this, [this] { m_command5->setEnabled(false); });
    }
    connect(m_option5, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            m_txtPort->setText(QStringLiteral("80"));
            m_label2->setText(QStringLiteral("HTTP://"));
        }
    });
    connect(m_option6, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            m_txtPort->setText(QStringLiteral("21"));
            m_label2->setText(QStringLiteral("FTP://"));
        }
    });
    // A press that makes a node current has loaded it already: reading the
    // keyring again on the release could ask to unlock it twice.
    connect(m_tview1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) {
        if (!std::exchange(m_loadedByPress, false)) {
            selectProfile(node);
        }
    });
    connect(m_tview1, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current && !m_refreshing) {
            m_loadedByPress = m_pressing;
            selectProfile(current);
        }
    });
    connect(m_txtPass, &QLineEdit::textChanged, this, [this] { m_passwordMissing = false; });
    connect(m_timer1, &QTimer::timeout, this, &FrmConnect::Timer1_Timer);

    RefreshProfileTree();
}

void FrmConnect::RefreshProfileTree() {
    m_refreshing = true;
    m_tview1->clear();
    auto* root = new QTreeWidgetItem(m_tview1, {QStringLiteral("Profile(s)")});
    root->setData(0, kKeyRole, QStringLiteral("r"));
    root->setData(0, kImageRole, 1);
    root->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    for (const std::string& name : m_profiles.List()) {
        auto* node = new QTreeWidgetItem(root, {DisplayText(name)});
        node->setData(0, kImageRole, 2);
        node->setIcon(0, style()->standardIcon(QStyle::SP_FileIcon));
    }
    root->setExpanded(true);
    m_refreshing = false;
}

void FrmConnect::Command1_Click() {
    if (m_txtServer->text().isEmpty() || m_txtSiteName->text().isEmpty()) {
        m_context.dialogs.message(QStringLiteral("Fill something in the first two text boxes!"),
                                  MessageIcon::Exclamation);
        return;
    }
    SiteProfile profile;
    profile.sname = bytes(m_txtSiteName->text());
    // A password typed into the address stays out of the file too.
    profile.adresa = m_check2->isChecked() ? bytes(m_txtServer->text())
                                           : AddressWithoutPassword(bytes(m_txtServer->text()));
    profile.ID = bytes(m_txtUser->text());
    profile.pass =
        !m_txtPass->text().isEmpty() && m_check2->isChecked() ? bytes(m_txtPass->text()) : "";
    profile.port = bytes(m_txtPort->text());
    profile.protocol = ChosenProtocol(*m_cboProtocol);
    auto saved = SaveSite(m_profiles, m_context.passwords, profile);
    if (!saved) {
        m_context.dialogs.message(Qs(saved.error()), MessageIcon::Exclamation);
        return;
    }
    m_profileFile = QString::fromStdString(saved->path.string());
    RefreshProfileTree();
    m_command5->setEnabled(false);
    if (!saved->note.empty()) {
        m_context.dialogs.message(Qs(saved->note), MessageIcon::Exclamation);
    }
    m_context.dialogs.message(QStringLiteral("Profil Saved"), MessageIcon::Information);
}

void FrmConnect::Command2_Click() {
    m_txtSiteName->clear();
    m_txtServer->clear();
    if (m_check1->isChecked()) {
        m_txtUser->setText(QString::fromLatin1(kAnonymousUser));
        m_txtPass->setText(QString::fromLatin1(kAnonymousPassword));
    } else {
        m_txtUser->clear();
        m_txtPass->clear();
    }
    ChooseProtocol(*m_cboProtocol, FtpProtocol::Ftp);
    m_txtPort->setText(QStringLiteral("21"));
    m_command5->setEnabled(false);
    m_passwordMissing = false;
}

void FrmConnect::Command3_Click() {
    if (m_passwordMissing) {
        m_context.dialogs.message(
            QStringLiteral("The keyring did not give the password of this site. Type it in the "
                           "Password box to connect."),
            MessageIcon::Exclamation);
        return;
    }
    ConnectFields fields;
    fields.server = m_txtServer->text();
    fields.user = m_txtUser->text();
    fields.password = m_txtPass->text();
    fields.port = m_txtPort->text();
    fields.siteName = m_txtSiteName->text();
    fields.protocol = ChosenProtocol(*m_cboProtocol);
    fields.passive = m_option3->isChecked();
    const auto request = ConnectRequestFor(fields);
    // A scheme in a usable address decides, and the choice shows it.
    if (request || request.error().port) {
        if (const auto typed = ParseServerField(bytes(fields.server.trimmed())).protocol) {
            ChooseProtocol(*m_cboProtocol, *typed);
        }
    }
    if (!request) {
        m_context.dialogs.message(request.error().message, request.error().icon);
        return;
    }
    if (m_txtSiteName->text().isEmpty()) {
        m_txtSiteName->setText(Qs(request->siteName));
    }
    // A message box of the attempt runs its own event loop, where Timer1 may
    // fire; the window must not go away under the running attempt, so the
    // close waits until the attempt has returned.
    m_connecting = true;
    Q_EMIT connectRequested(*request);
    m_connecting = false;
    if (m_closePending) {
        m_closePending = false;
        Timer1_Timer();
    }
}

void FrmConnect::Command5_Click() {
    deleteProfile(m_tview1->currentItem());
}

void FrmConnect::deleteProfile(QTreeWidgetItem* node) {
    // The root "Profile(s)" is no file; there is nothing to delete.
    if (!node || node->data(0, kKeyRole).toString() == QStringLiteral("r")) {
        return;
    }
    const QString name = node->text(0);
    if (!m_context.dialogs.askYesNo(
            QStringLiteral("Are you sure you want to delete this profile: ") + name +
            QStringLiteral("?"))) {
        return;
    }
    const auto deleted = DeleteSite(m_profiles, m_context.passwords, bytes(name));
    if (!deleted || !deleted->empty()) {
        m_context.dialogs.message(Qs(deleted ? *deleted : deleted.error()),
                                  MessageIcon::Exclamation);
    }
    RefreshProfileTree();
    m_command5->setEnabled(false);
}

void FrmConnect::selectProfile(QTreeWidgetItem* node) {
    if (!node) {
        return;
    }
    if (node->data(0, kKeyRole).toString() == QStringLiteral("r")) {
        m_command5->setEnabled(false);
        return;
    }
    m_profileFile = QString::fromStdString((m_profiles.folder() / bytes(node->text(0))).string());
    const LoadedSite loaded = ReadSite(m_profiles, m_context.passwords, bytes(node->text(0)));
    const SiteProfile& profile = loaded.profile;
    m_txtSiteName->setText(DisplayText(profile.sname));
    m_txtServer->setText(DisplayText(profile.adresa));
    m_txtUser->setText(DisplayText(profile.ID));
    m_txtPass->setText(DisplayText(profile.pass));
    // The stored port stays, whatever the choice does to the field.
    ChooseProtocol(*m_cboProtocol, profile.protocol);
    m_txtPort->setText(DisplayText(profile.port));
    // Only shows the loaded state: the fields keep what the profile holds.
    const QSignalBlocker blockCheck1(m_check1);
    const QSignalBlocker blockCheck2(m_check2);
    m_check1->setChecked(profile.ID == kAnonymousUser);
    m_check2->setChecked(!profile.pass.empty() || profile.passInKeyring);
    m_command5->setEnabled(true);
    m_passwordMissing = !loaded.problem.empty();
    if (m_passwordMissing) {
        m_context.dialogs.message(Qs(loaded.problem), MessageIcon::Exclamation);
    }
}

void FrmConnect::anonymousToggle() {
    if (m_check1->isChecked()) {
        m_txtUser->setText(QString::fromLatin1(kAnonymousUser));
        m_txtPass->setText(QString::fromLatin1(kAnonymousPassword));
    } else {
        m_txtUser->clear();
        m_txtPass->clear();
    }
    m_command5->setEnabled(false);
}

void FrmConnect::startTimer1() {
    m_closePending = false;
    m_timer1->start();
}

void FrmConnect::Timer1_Timer() {
    m_timer1->stop();
    if (m_connecting) {
        m_closePending = true;
        return;
    }
    done(QDialog::Rejected);
}

bool FrmConnect::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tview1->viewport() && (event->type() == QEvent::MouseButtonPress ||
                                            event->type() == QEvent::MouseButtonRelease)) {
        m_pressing = event->type() == QEvent::MouseButtonPress;
        m_loadedByPress = m_loadedByPress && !m_pressing;
    }
    if (watched == m_tview1 && event->type() == QEvent::KeyRelease &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        deleteProfile(m_tview1->currentItem());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace quill
