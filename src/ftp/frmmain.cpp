#include "frmmain.h"

#include "FrmConnect.h"
#include "ProtocolChoice.h"
#include "PublishFlow.h"
#include "RememberedFolders.h"
#include "RemoteListing.h"
#include "RemoteOperations.h"
#include "StatusLog.h"
#include "common/TextCodec.h"
#include "common/TextOps.h"
#include "frmProg.h"
#include "localpane/LocalFileOps.h"
#include "localpane/LocalPane.h"
#include "platform/AppContext.h"
#include "platform/Banner.h"
#include "platform/FileDrops.h"
#include "platform/FileListModel.h"
#include "platform/FileTypeIcons.h"
#include "publish/PublishJob.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <array>

namespace quill {
namespace {

// Image list: 1..10 file types, 11 server root, 12 folder, 13 open folder.
QIcon imageListIcon(int index) {
    QStyle* style = QApplication::style();
    if (index >= 1 && index <= 10) {
        static const auto types = FileTypeIcons();
        return types[static_cast<std::size_t>(index)];
    }
    switch (index) {
        case 11:
            return style->standardIcon(QStyle::SP_DriveNetIcon);
        case 12:
            return style->standardIcon(QStyle::SP_DirClosedIcon);
        case 13:
            return style->standardIcon(QStyle::SP_DirOpenIcon);
        default:
            return style->standardIcon(QStyle::SP_FileIcon);
    }
}

QString inQuotes(const std::string& bytes) {
    return QStringLiteral("\"") + ShownText(bytes) + QStringLiteral("\"");
}

QLabel* buddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

frmmain::frmmain(AppContext& context, QWidget* parent) : QMainWindow(parent), m_context(context) {
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(QStringLiteral("Tarnwick Ftp Client 1.0"));
    resize(1120, 760);
    // Remembered host keys and certificates live beside the site profiles.
    m_session.TrustFolder = m_context.programFolder;
    // Load: FileMask is set by its initialiser; the local pane starts in the
    // folder it showed last.
    m_localPane = new LocalPane(m_context, this,
                                RememberedFolders::Load(m_context.programFolder).localFolder);
    connect(m_localPane, &LocalPane::localPathChanged, this, &frmmain::rememberFolders);
    connect(m_localPane, &LocalPane::uploadRequested, this, &frmmain::zLokUp_Click);
    connect(m_localPane, &LocalPane::downloadDropped, this, &frmmain::downloadDropped);
    buildMenus();
    buildToolBar();
    setCentralWidget(buildCentral());
    connect(&m_session.engine, &FtpEngine::busyChanged, this, &frmmain::setBusy);
    connect(&m_session.engine, &FtpEngine::noteForLog, this,
            [this](const QString& text) { LogEntry(QStringLiteral(" > ") + text); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &frmmain::cmdStop_Click);
    setBusy(false);
}

frmmain::~frmmain() {
    m_session.CloseHandles();
}

void frmmain::buildMenus() {
    auto action = [this](QMenu* menu, const char* name, const QString& caption) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    auto command = [&](QMenu* menu, const char* name, const QString& caption,
                       void (frmmain::*handler)()) {
        QAction* a = action(menu, name, caption);
        connect(a, &QAction::triggered, this, handler);
        m_ftpCommands.push_back(a);
        return a;
    };
    auto separator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
    };

    QMenu* zSoubor = menuBar()->addMenu(QStringLiteral("&File"));
    zSoubor->setObjectName(QStringLiteral("zSoubor"));
    command(zSoubor, "zConnect", QStringLiteral("&Connect"), &frmmain::zConnect_Click);
    // Disconnect stays available: it also ends a running operation.
    connect(action(zSoubor, "zDisconnect", QStringLiteral("&Disconnect")), &QAction::triggered,
            this, &frmmain::zDisconnect_Click);
    separator(zSoubor, "zSep9");
    connect(action(zSoubor, "zEnd", QStringLiteral("E&xit")), &QAction::triggered, this,
            &QWidget::close);

    QMenu* option = menuBar()->addMenu(QStringLiteral("Option"));
    option->setObjectName(QStringLiteral("option"));
    option->addMenu(m_localPane->clientMenu());
    m_zRemote = option->addMenu(QStringLiteral("Server"));
    m_zRemote->setObjectName(QStringLiteral("zRemote"));
    command(m_zRemote, "zRemRef", QStringLiteral("&Refresh"), &frmmain::Refresh);
    separator(m_zRemote, "zSep7");
    command(m_zRemote, "zRemDown", QStringLiteral("&Download"), &frmmain::zRemDown_Click);
    command(m_zRemote, "zRemNF", QStringLiteral("&New Folder"), &frmmain::zRemNF_Click);
    command(m_zRemote, "zRemDF", QStringLiteral("Rem&ove Folder"), &frmmain::zRemDF_Click);
    command(m_zRemote, "zRemDS", QStringLiteral("&Delete File"), &frmmain::zRemDS_Click);
    command(m_zRemote, "zRemRS", QStringLiteral("Ren&ame File"), &frmmain::zRemRS_Click);
    if (auto* zLokUp = m_localPane->clientMenu()->findChild<QAction*>(QStringLiteral("zLokUp"))) {
        m_ftpCommands.push_back(zLokUp);
    } else if (auto* found = m_localPane->findChild<QAction*>(QStringLiteral("zLokUp"))) {
        m_ftpCommands.push_back(found);
    }

    QMenu* zNast = menuBar()->addMenu(QStringLiteral("&Tools"));
    zNast->setObjectName(QStringLiteral("zNast"));
    m_zPassive = action(zNast, "zPassive", QStringLiteral("&Passive mode"));
    m_zPassive->setCheckable(true);
    separator(zNast, "okala");
    command(zNast, "chmod", QStringLiteral("Properties"), &frmmain::chmod_Click);
    command(zNast, "zPublish", QStringLiteral("P&ublish folder..."), &frmmain::zPublish_Click)
        ->setToolTip(QStringLiteral("Publish the local folder to the server's folder: only "
                                    "what is new or changed"));

    QMenu* zHilfe = menuBar()->addMenu(QStringLiteral("&Help"));
    zHilfe->setObjectName(QStringLiteral("zHilfe"));
    connect(action(zHilfe, "zAbout", QStringLiteral("&About")), &QAction::triggered, this,
            &frmmain::showForm1Requested);
}

void frmmain::buildToolBar() {
    m_toolbar1 = addToolBar(QStringLiteral("Tool bar"));
    m_toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    m_toolbar1->setMovable(false);
    struct Button {
        const char* key;
        const char* tip;
        QStyle::StandardPixmap icon;
        bool ftpCommand;
    };
    // Tool tips as the product has them, even where they name another
    // button's command; the click is dispatched on the key.
    static constexpr Button kButtons[] = {
        {"Connect", "Connect", QStyle::SP_DialogYesButton, true},
        {"Disconnect", "Disconnect", QStyle::SP_DialogNoButton, false},
        {"Reload2", "Reconnect", QStyle::SP_BrowserReload, true},
        {"Upload", "Upload", QStyle::SP_ArrowUp, true},
        {"NewFolder2", "Download", QStyle::SP_ArrowDown, true},
        {"DelFolder2", "Add folder", QStyle::SP_FileDialogNewFolder, true},
        {"Rename2", "Delete file", QStyle::SP_TrashIcon, true},
        {"DelFile2", "About", QStyle::SP_MessageBoxInformation, false},
    };
    for (const Button& button : kButtons) {
        const QString key = QString::fromLatin1(button.key);
        QAction* a = m_toolbar1->addAction(style()->standardIcon(button.icon),
                                           QString::fromLatin1(button.tip));
        a->setObjectName(key);
        a->setData(key);
        a->setToolTip(QString::fromLatin1(button.tip));
        connect(a, &QAction::triggered, this, [this, key] { Toolbar1_ButtonClick(key); });
        if (button.ftpCommand) {
            m_ftpCommands.push_back(a);
        }
    }
    // The menu's command, so both wait alike while an operation runs.
    if (auto* publish = findChild<QAction*>(QStringLiteral("zPublish"))) {
        publish->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
        publish->setData(QStringLiteral("Publish"));
        m_toolbar1->addAction(publish);
    }
}

QWidget* frmmain::buildCentral() {
    auto* central = new QWidget(this);

    auto* banner = new Banner(QStringLiteral("Label13"), central);
    banner->setObjectName(QStringLiteral("Banner"));
    banner->label()->setText(Qs(app::kTitle));
    connect(banner, &Banner::clicked, this,
            [this] { m_context.shell.open(Qs(app::kProductPage)); });

    m_txtserver = new QLineEdit(central);
    m_txtserver->setObjectName(QStringLiteral("txtserver"));
    m_txtserver->setAccessibleName(QStringLiteral("Server address"));
    m_txtuser = new QLineEdit(central);
    m_txtuser->setObjectName(QStringLiteral("txtuser"));
    m_txtuser->setAccessibleName(QStringLiteral("Username"));
    m_txtpass = new QLineEdit(central);
    m_txtpass->setObjectName(QStringLiteral("txtpass"));
    m_txtpass->setAccessibleName(QStringLiteral("Password"));
    m_txtpass->setEchoMode(QLineEdit::Password);
    m_txtport = new QLineEdit(QStringLiteral("21"), central);
    m_txtport->setObjectName(QStringLiteral("txtport"));
    m_txtport->setAccessibleName(QStringLiteral("Port"));
    m_txtport->setMaximumWidth(70);
    m_cboProtocol = NewProtocolChoice(m_txtserver, m_txtport, central);
    m_command4 = new QPushButton(QStringLiteral("Connect"), central);
    m_command4->setObjectName(QStringLiteral("Command4"));
    connect(m_command4, &QPushButton::clicked, this, &frmmain::Command4_Click);
    m_cmdStop = new QPushButton(QStringLiteral("&Stop"), central);
    m_cmdStop->setObjectName(QStringLiteral("cmdStop"));
    m_cmdStop->setToolTip(QStringLiteral("Stop the running FTP command (Esc)"));
    connect(m_cmdStop, &QPushButton::clicked, this, &frmmain::cmdStop_Click);
    // Enter in any quick-connect field connects, as the bar's button does.
    for (QLineEdit* field : {m_txtserver, m_txtuser, m_txtpass, m_txtport}) {
        connect(field, &QLineEdit::returnPressed, this, &frmmain::Command4_Click);
    }

    auto* quickBar = new QHBoxLayout;
    quickBar->addWidget(m_cboProtocol);
    quickBar->addWidget(buddyLabel(QStringLiteral("FTP://"), m_txtserver, central));
    quickBar->addWidget(m_txtserver, 3);
    quickBar->addWidget(buddyLabel(QStringLiteral("Username :"), m_txtuser, central));
    quickBar->addWidget(m_txtuser, 2);
    quickBar->addWidget(buddyLabel(QStringLiteral("Password :"), m_txtpass, central));
    quickBar->addWidget(m_txtpass, 2);
    quickBar->addWidget(buddyLabel(QStringLiteral("Port :"), m_txtport, central));
    quickBar->addWidget(m_txtport);
    quickBar->addWidget(m_command4);
    quickBar->addWidget(m_cmdStop);

    m_label3 = new QLabel(central);
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label3->setAccessibleName(QStringLiteral("Remote folder"));
    m_tview1 = new QTreeWidget(central);
    m_tview1->setObjectName(QStringLiteral("TView1"));
    m_tview1->setAccessibleName(QStringLiteral("Remote folders"));
    m_tview1->setHeaderHidden(true);
    m_tview1->installEventFilter(this);
    connect(m_tview1, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        m_tview1->setCurrentItem(item);
        OpenFolder();
    });

    m_remoteFiles = new FileListModel(
        {[](std::int64_t bytes) { return QString::fromStdString(RemoteSizeText(bytes)); },
         [](std::int64_t packed) { return QString::fromStdString(RemoteDateText(packed)); }},
        FileTypeIcons(), this);
    m_listView2 = new FileListView(central);
    m_listView2->setObjectName(QStringLiteral("ListView2"));
    m_listView2->setAccessibleName(QStringLiteral("Remote files"));
    m_listView2->installEventFilter(this);
    SetUpFileListView(m_listView2, m_remoteFiles);
    m_listView2->setColumnWidth(0, 235);
    m_listView2->setColumnWidth(1, 141);
    // Names are edited only through "Ren&ame File"; the server decides.
    m_listView2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView2->setItemDelegate(new RenameDelegate(
        [this](const QModelIndex& index, const QString& text) {
            // Runs after the editor has closed, so the refresh may rebuild the list.
            QMetaObject::invokeMethod(
                this,
                [this,
                 name = index.siblingAtColumn(kNameColumn)
                            .data(kFileNameRole)
                            .toByteArray()
                            .toStdString(),
                 text] { ListView2_AfterLabelEdit(name, text); },
                Qt::QueuedConnection);
        },
        m_listView2));
    connect(m_listView2->header(), &QHeaderView::sectionClicked, this, &frmmain::Sort);
    m_listView2->setDragEnabled(true);
    m_listView2->setDragDropMode(QAbstractItemView::DragOnly);
    m_listView2->setDefaultDropAction(Qt::CopyAction);
    // Local files, from the local pane or a file manager, drop on the
    // server's panes: into the current folder, or the tree folder under them.
    const auto localFiles = [](const Dropped& drop) { return !drop.localFiles.empty(); };
    AcceptDrops(m_listView2->viewport(), localFiles, [this](const Dropped& drop) {
        uploadDropped(drop.localFiles, m_session.RemotePath);
    });
    AcceptDrops(m_tview1->viewport(), localFiles, [this](const Dropped& drop) {
        const QTreeWidgetItem* node = m_tview1->itemAt(drop.position);
        uploadDropped(drop.localFiles, node == nullptr
                                           ? m_session.RemotePath
                                           : node->data(0, kKeyRole).toByteArray().toStdString());
    });
    m_listView2->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listView2, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        m_zRemote->popup(m_listView2->viewport()->mapToGlobal(pos));
    });

    auto* remotePane = new QWidget(central);
    auto* remoteLayout = new QVBoxLayout(remotePane);
    remoteLayout->setContentsMargins(0, 0, 0, 0);
    remoteLayout->addWidget(m_label3);
    auto* remoteSplit = new QSplitter(Qt::Vertical, remotePane);
    // The keys act on the server's panes while they have the focus; the
    // menus show them.
    for (const auto& [name, key] :
         {std::pair{"zRemRef", QKeySequence(Qt::Key_F5)},
          std::pair{"zRemNF", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)},
          std::pair{"zRemRS", QKeySequence(Qt::Key_F2)}}) {
        if (auto* command = findChild<QAction*>(QString::fromLatin1(name))) {
            command->setShortcut(key);
            command->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            remotePane->addAction(command);
        }
    }
    remoteSplit->addWidget(m_tview1);
    remoteSplit->addWidget(m_listView2);
    remoteSplit->setStretchFactor(1, 2);
    remoteLayout->addWidget(remoteSplit);

    auto* panes = new QSplitter(Qt::Horizontal, central);
    panes->addWidget(m_localPane);
    panes->addWidget(remotePane);
    panes->setChildrenCollapsible(false);
    panes->setStretchFactor(0, 1);
    panes->setStretchFactor(1, 1);
    panes->setSizes({10000, 10000});  // both sides start equally wide

    auto* picture1 = new QFrame(central);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setFrameShape(QFrame::StyledPanel);
    picture1->setAccessibleName(QStringLiteral("Connection"));
    m_label6 = new QLabel(picture1);
    m_label6->setObjectName(QStringLiteral("Label6"));
    m_label7 = new QLabel(picture1);
    m_label7->setObjectName(QStringLiteral("Label7"));
    m_label8 = new QLabel(picture1);
    m_label8->setObjectName(QStringLiteral("Label8"));
    auto* panel = new QGridLayout(picture1);
    panel->addWidget(buddyLabel(QStringLiteral("Address : "), m_label6, picture1), 0, 0);
    panel->addWidget(m_label6, 0, 1);
    panel->addWidget(buddyLabel(QStringLiteral("Port : "), m_label7, picture1), 1, 0);
    panel->addWidget(m_label7, 1, 1);
    panel->addWidget(buddyLabel(QStringLiteral("Login : "), m_label8, picture1), 2, 0);
    panel->addWidget(m_label8, 2, 1);
    panel->setColumnStretch(1, 1);
    picture1->setMinimumWidth(220);

    m_txtInfo = new QPlainTextEdit(central);
    m_txtInfo->setObjectName(QStringLiteral("txtInfo"));
    m_txtInfo->setAccessibleName(QStringLiteral("Status log"));
    m_txtInfo->setReadOnly(true);
    m_txtInfo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_txtInfo->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(picture1);
    bottom->addWidget(m_txtInfo, 1);

    auto* layout = new QVBoxLayout(central);
    layout->addWidget(banner);
    layout->addLayout(quickBar);
    layout->addWidget(panes, 1);
    layout->addLayout(bottom);
    m_txtInfo->setMaximumHeight(170);

    setTabOrder(m_cboProtocol, m_txtserver);
    setTabOrder(m_txtserver, m_txtuser);
    setTabOrder(m_txtuser, m_txtpass);
    setTabOrder(m_txtpass, m_txtport);
    setTabOrder(m_txtport, m_command4);
    setTabOrder(m_command4, m_cmdStop);
    // The local pane's lists come between the quick-connect bar and the server's.
    auto* drive1 = m_localPane->findChild<QWidget*>(QStringLiteral("Drive1"));
    auto* listView1 = m_localPane->findChild<QWidget*>(QStringLiteral("ListView1"));
    if (drive1 != nullptr && listView1 != nullptr) {
        setTabOrder(m_cmdStop, drive1);
        setTabOrder(listView1, m_tview1);
    } else {
        setTabOrder(m_cmdStop, m_tview1);
    }
    setTabOrder(m_tview1, m_listView2);
    setTabOrder(m_listView2, m_txtInfo);
    return central;
}

void frmmain::AppendLog(const QString& text) {
    // At the caret, wherever the user left it; it then sits behind the text.
    QTextCursor caret = m_txtInfo->textCursor();
    caret.insertText(ForTextBox(text));
    m_txtInfo->setTextCursor(caret);
}

void frmmain::LogEntry(const QString& message) {
    AppendLog(quill::LogEntry(LogTime(), message));
}

void frmmain::setBusy(bool busy) {
    busy = busy || !m_publish.isNull();
    for (QAction* command : m_ftpCommands) {
        command->setEnabled(!busy);
    }
    m_command4->setEnabled(!busy);
    m_cmdStop->setEnabled(busy);
    // The local pane stays usable; the server's panes show that they wait.
    for (QWidget* pane : {static_cast<QWidget*>(m_tview1), static_cast<QWidget*>(m_listView2)}) {
        if (busy) {
            pane->setCursor(Qt::BusyCursor);
        } else {
            pane->unsetCursor();
        }
    }
}

void frmmain::cmdStop_Click() {
    if (m_publish) {
        m_publish->stop();
    }
    if (busy()) {
        m_session.engine.stop();
    }
}

void frmmain::Connect(const ConnectRequest& request) {
    if (busy()) {
        return;
    }
    m_tview1->clear();
    m_txtInfo->clear();
    m_zPassive->setChecked(request.passive);
    // An earlier connection is closed before the new session opens.
    const bool opened = m_session.OpenSession(request);
    Q_EMIT sessionOpened();
    if (!opened) {
        m_context.dialogs.message(QStringLiteral("Connection to service failed!"),
                                  MessageIcon::Exclamation);
        AppendLog(QStringLiteral("Connection to service failed.\r\n"));
        m_session.CloseHandles();
        return;
    }
    m_siteName = request.siteName;
    m_rememberedSite.clear();
    AppendLog(ConnectHeading(LogDate(), LogTime(), Qs(request.siteName),
                             Qs(m_session.ServerAddress), m_session.Protocol));
    m_session.ConnectServer(
        [this](const FtpResult<std::string>& loginFolder) { connectFinished(loginFolder); });
}

void frmmain::connectFinished(const FtpResult<std::string>& loginFolder) {
    if (!loginFolder && loginFolder.error().kind == FtpErrorKind::Untrusted &&
        loginFolder.error().key) {
        askTrust(*loginFolder.error().key);
        return;
    }
    if (!loginFolder) {
        // A stop is the user's own doing: the log says so, no box.
        if (loginFolder.error().kind != FtpErrorKind::Stopped) {
            m_context.dialogs.message(QStringLiteral("Connection to server failed"),
                                      MessageIcon::Exclamation);
        }
        LogEntry(QStringLiteral(" > Connection to server failed."));
        LogEntry(QStringLiteral(" > ") + VisibleControls(Qs(loginFolder.error().text)));
        m_session.CloseHandles();
        return;
    }
    LogEntry(QStringLiteral(" > Connected to servise, looking for host."));
    m_label3->setText(DisplayText(*loginFolder));
    LogEntry(QStringLiteral(" > Connected to server."));
    openRememberedFolders();
    addLoginFolderNodes();
    List();
    Q_EMIT sessionOpened();
}

void frmmain::openRememberedFolders() {
    // Only a saved site's connection is remembered: the profile must match it.
    if (m_session.PublishSite(m_context.programFolder) != m_siteName) {
        return;
    }
    m_rememberedSite = m_siteName;
    const RememberedFolders folders = RememberedFolders::Load(m_context.programFolder);
    const auto site = folders.sites.find(m_siteName);
    if (site == folders.sites.end()) {
        return;
    }
    if (site->second.remote != m_session.RemotePath) {
        // Listed first; should it be gone, the login folder is listed instead.
        m_loginFolder = m_session.RemotePath;
        setRemoteFolder(site->second.remote);
    }
    std::error_code error;
    if (!site->second.local.empty() && std::filesystem::is_directory(site->second.local, error)) {
        m_localPane->setFolder(site->second.local);
    }
}

void frmmain::rememberFolders() {
    RememberedFolders folders = RememberedFolders::Load(m_context.programFolder);
    const RememberedFolders before = folders;
    folders.localFolder = m_localPane->LocalPath();
    if (!m_rememberedSite.empty() && m_session.connected() && !m_session.RemotePath.empty()) {
        folders.sites[m_rememberedSite] = {m_session.RemotePath, folders.localFolder};
    }
    if (folders == before) {
        return;
    }
    if (auto saved = folders.save(m_context.programFolder); !saved && !m_rememberFailed) {
        // Said once: the folders are a convenience, the log must not fill up.
        m_rememberFailed = true;
        LogEntry(QStringLiteral(" > The folders in use could not be remembered: ") +
                 VisibleControls(Qs(saved.error())));
    }
}

void frmmain::askTrust(const FtpServerKey& key) {
    const TrustPrompt prompt = TrustPromptFor(key, m_session.Protocol, m_session.TrustFolder);
    bool accepted = false;
    if (prompt.question) {
        accepted = m_context.dialogs.askYesNo(DisplayText(prompt.text));
    } else {
        m_context.dialogs.message(DisplayText(prompt.text), MessageIcon::Critical);
    }
    const TrustAnswer answer = AnswerTrust(key, accepted);
    for (const std::string& entry : answer.log) {
        LogEntry(DisplayText(entry));
    }
    if (!answer.retry) {
        m_session.CloseHandles();
        return;
    }
    m_session.AcceptedFingerprint = key.fingerprint;
    m_session.ConnectServer(
        [this](const FtpResult<std::string>& loginFolder) { connectFinished(loginFolder); });
}

void frmmain::addLoginFolderNodes() {
    auto* node = new QTreeWidgetItem(m_tview1, {QStringLiteral("..")});
    node->setData(0, kKeyRole, QByteArray("/"));
    node->setData(0, kImageRole, 11);
    node->setIcon(0, imageListIcon(11));
    // A deeper login folder gets its own nodes, so the first listing hangs
    // under the folder it shows.
    for (const RemoteFolderNode& folder : LoginFolderNodes(m_session.RemotePath)) {
        auto* child = new QTreeWidgetItem(node, {DisplayText(folder.name)});
        child->setData(0, kKeyRole, ByteArrayOf(folder.key));
        child->setData(0, kFileNameRole, ByteArrayOf(folder.name));
        child->setData(0, kImageRole, 12);
        child->setIcon(0, imageListIcon(12));
        node->setExpanded(true);
        node = child;
    }
    if (node->parent() != nullptr) {
        m_tview1->setCurrentItem(node);
    }
}

QTreeWidgetItem* frmmain::nodeWithKey(const QByteArray& key) const {
    for (QTreeWidgetItemIterator it(m_tview1); *it; ++it) {
        if ((*it)->data(0, kKeyRole).toByteArray() == key) {
            return *it;
        }
    }
    return nullptr;
}

QTreeWidgetItem* frmmain::selectedNode() const {
    QTreeWidgetItem* node = m_tview1->currentItem();
    return node != nullptr && node->isSelected() ? node : nullptr;
}

void frmmain::List() {
    if (!m_session.connected()) {
        m_context.dialogs.message(QStringLiteral("You are not connected to any server"),
                                  MessageIcon::Critical);
        return;
    }
    m_remoteFiles->setRows({});
    m_remoteFiles->setDragFolder(m_session.RemotePath, FileListModel::DragAs::RemoteFiles);
    LogEntry(QStringLiteral(" > Transfering data..."));
    LogEntry(QStringLiteral(" > Opening folder: ") + inQuotes(m_session.SearchPattern));
    // Rows are made on the worker and cross once, at the end (sorted there
    // when the list is sorted), so the view is filled once; growing and
    // sorting a large listing never holds up the window.
    FtpEngine* engine = &m_session.engine;
    const std::string remotePath = m_session.RemotePath;
    const auto sortBy = sortKey();
    m_session.engine.run<FtpListing>(
        [this, engine, sortBy, pattern = m_session.SearchPattern,
         remotePath](FtpConnection& connection) -> FtpResult<FtpListing> {
            RemoteListingBuilder builder(remotePath);
            auto rows = std::make_shared<std::vector<FileListRow>>();
            auto result = connection.ListFolder(pattern, [&](std::vector<FtpFindData>&& entries) {
                RemoteListing listing = builder.add(entries);
                if (!listing.folders.empty()) {
                    engine->post([this, remotePath, folders = std::move(listing.folders)] {
                        showFolders(remotePath, folders);
                    });
                }
                rows->insert(rows->end(), std::make_move_iterator(listing.files.begin()),
                             std::make_move_iterator(listing.files.end()));
            });
            if (sortBy) {
                SortFileRows(*rows, sortBy->first, sortBy->second);
            }
            engine->post([this, rows] { m_remoteFiles->setRows(std::move(*rows)); });
            return result;
        },
        [this, sortBy](FtpResult<FtpListing> result) {
            const std::string loginFolder = std::exchange(m_loginFolder, {});
            if (!result && result.error().kind == FtpErrorKind::NotFound && !loginFolder.empty()) {
                LogEntry(QStringLiteral(" > The folder last used here is gone: ") +
                         inQuotes(m_session.RemotePath));
                m_tview1->clear();
                setRemoteFolder(loginFolder);
                addLoginFolderNodes();
                List();
                return;
            }
            if (result) {
                rememberFolders();
            }
            // A header clicked while the listing ran sorts the rows now.
            if (sortKey() && sortKey() != sortBy) {
                m_remoteFiles->sort(m_sortColumn, m_sortOrder);
            }
            showListing(std::move(result));
        });
}

std::optional<std::pair<int, bool>> frmmain::sortKey() const {
    if (!m_sorted) {
        return std::nullopt;
    }
    return std::pair(m_sortColumn, m_sortOrder == Qt::DescendingOrder);
}

void frmmain::showFolders(const std::string& remotePath,
                          const std::vector<RemoteFolderNode>& folders) {
    if (QTreeWidgetItem* parent = nodeWithKey(ByteArrayOf(remotePath))) {
        for (const auto& folder : folders) {
            auto* node = new QTreeWidgetItem(parent, {DisplayText(folder.name)});
            node->setData(0, kKeyRole, ByteArrayOf(folder.key));
            node->setData(0, kFileNameRole, ByteArrayOf(folder.name));
            node->setData(0, kImageRole, 12);
            node->setIcon(0, imageListIcon(12));
        }
    }
    if (m_tview1->topLevelItemCount() > 0) {
        m_tview1->topLevelItem(0)->setExpanded(true);
    }
}

void frmmain::showListing(FtpResult<FtpListing> result) {
    if (!result) {
        // A folder that is not there lists as empty; anything else is a
        // failure and says why.
        if (result.error().kind == FtpErrorKind::NotFound) {
            LogEntry(QStringLiteral(" > Data transfer completed succesfully."));
        } else {
            LogEntry(QStringLiteral(" > ") + VisibleControls(Qs(result.error().text)));
            LogEntry(QStringLiteral(" > Data transfer failed."));
        }
        return;
    }
    for (const auto& skipped : result->skipped) {
        LogEntry(QStringLiteral(" > Left out of the listing: ") + inQuotes(skipped.text) +
                 QStringLiteral(" (") + Qs(skipped.reason) + QStringLiteral(")"));
    }
    // Only the first lines left out are kept; a hostile listing must not
    // flood the log.
    if (result->skippedCount > result->skipped.size()) {
        LogEntry(QStringLiteral(" > ") +
                 QLocale::system().toString(
                     static_cast<qulonglong>(result->skippedCount - result->skipped.size())) +
                 QStringLiteral(" more lines were left out of the listing."));
    }
    if (result->cut) {
        LogEntry(QStringLiteral(" > The listing was cut at ") +
                 QLocale::system().toString(static_cast<qulonglong>(FtpListReader::kMaxEntries)) +
                 QStringLiteral(" entries; the rest is not shown."));
    }
    m_listView2->clearSelection();
    m_listView2->setCurrentIndex({});
    LogEntry(QStringLiteral(" > Data transfer completed succesfully."));
}

void frmmain::OpenFolder() {
    QTreeWidgetItem* node = m_tview1->currentItem();
    if (!node || busy()) {
        return;
    }
    node->setExpanded(true);
    setRemoteFolder(node->text(0) == QStringLiteral("..")
                        ? std::string("/")
                        : node->data(0, kKeyRole).toByteArray().toStdString());
    const QList<QTreeWidgetItem*> children = node->takeChildren();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        delete *it;
    }
    List();
}

void frmmain::setRemoteFolder(const std::string& folder) {
    m_session.RemotePath = folder;
    m_session.SearchPattern = folder + m_fileMask.toStdString();
    m_label3->setText(DisplayText(m_session.SearchPattern));
}

void frmmain::openParentFolder() {
    const std::string& path = m_session.RemotePath;
    if (path.size() <= 1 || busy()) {
        return;
    }
    const std::string parent = path.substr(0, path.rfind('/', path.size() - 2) + 1);
    if (QTreeWidgetItem* node = nodeWithKey(ByteArrayOf(parent))) {
        m_tview1->setCurrentItem(node);
        OpenFolder();
    }
}

void frmmain::Refresh() {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    if (selectedNode() != nullptr) {
        OpenFolder();
    }
}

void frmmain::Sort(int column) {
    m_sortColumn = column;
    m_sortOrder = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    m_sorted = true;
    m_listView2->header()->setSortIndicatorShown(true);
    m_listView2->header()->setSortIndicator(column, m_sortOrder);
    m_remoteFiles->sort(column, m_sortOrder);
}

const std::string& frmmain::rowName(int row) const {
    return m_remoteFiles->rows()[static_cast<std::size_t>(row)].name;
}

bool frmmain::checkConnected(const QString& message) {
    if (busy()) {
        return false;
    }
    if (!m_session.connected()) {
        m_context.dialogs.message(message, MessageIcon::Critical);
        return false;
    }
    return true;
}

bool frmmain::checkTypedName(const QString& text) {
    const std::string name = text.toStdString();
    if (IsPlainName(name) && !HoldsLineBreak(name)) {
        return true;
    }
    m_context.dialogs.message(
        QStringLiteral("A name may not be \".\" or \"..\" and may not hold \"/\" or a line break."),
        MessageIcon::Exclamation);
    return false;
}

void frmmain::reportFailure(const FtpError& error, const QString& message,
                            const QString& logEntry) {
    if (error.kind != FtpErrorKind::Stopped) {
        m_context.dialogs.message(message, MessageIcon::Exclamation);
    }
    LogEntry(logEntry);
    if (error.kind == FtpErrorKind::Dropped || error.kind == FtpErrorKind::Stopped) {
        // The command may have been carried out: the listing tells.
        LogEntry(QStringLiteral(" > ") + VisibleControls(Qs(error.text)));
        QTimer::singleShot(0, this, [this] {
            if (m_session.connected()) {
                Refresh();
            }
        });
    }
}

void frmmain::zRemNF_Click() {
    if (!checkConnected(QStringLiteral("Not connected to any server"))) {
        return;
    }
    const auto answer = m_context.dialogs.input(QStringLiteral("Type name for the new folder"),
                                                QStringLiteral("New Folder"));
    if (!answer || answer->isEmpty() || !checkTypedName(*answer)) {
        return;
    }
    const std::string path = m_session.RemotePath + answer->toStdString();
    LogEntry(QStringLiteral(" > Sending request to create folder: ") + inQuotes(path));
    m_session.engine.run<void>(
        [path](FtpConnection& connection) { return connection.CreateDirectory(path); },
        [this](FtpResult<void> done) {
            if (!done) {
                reportFailure(done.error(),
                              QStringLiteral("An error osccured while creating folder!"),
                              QStringLiteral(" > An error osccured while creating folder!"));
                return;
            }
            LogEntry(QStringLiteral(" > Folder created."));
            Refresh();
        });
}

void frmmain::zRemDF_Click() {
    if (!checkConnected(QStringLiteral("Not connected to any Server!"))) {
        return;
    }
    QTreeWidgetItem* node = selectedNode();
    if (node == nullptr) {
        return;
    }
    if (node->text(0) == QStringLiteral("..")) {
        m_context.dialogs.message(
            QStringLiteral("This is the root folder that can not be removed!"),
            MessageIcon::Exclamation);
        return;
    }
    if (!m_context.dialogs.askYesNo(QStringLiteral("Are you sure to remove this folder: \"") +
                                    VisibleControls(node->text(0)) + QStringLiteral("\"?\r\n"))) {
        return;
    }
    // The folder named in the question is the one removed: the selected
    // node's, which is the current folder once it has been opened.
    const std::string key = node->data(0, kKeyRole).toByteArray().toStdString();
    const std::string name = node->data(0, kFileNameRole).toByteArray().toStdString();
    const std::string folder = key.substr(0, key.size() - 1);
    const std::string parent = folder.substr(0, folder.size() - name.size());
    QStringList treePath;
    for (const QTreeWidgetItem* step = node; step != nullptr; step = step->parent()) {
        treePath.prepend(step->text(0));
    }
    LogEntry(QStringLiteral(" > Sending request to remove folder: \"") +
             VisibleControls(treePath.join(QLatin1Char('\\'))) + QStringLiteral("\""));
    auto* chain = new RemoteDeleteChain(m_session.engine, {{folder, true}}, this);
    connect(
        chain, &RemoteDeleteChain::failed, this, [this](const std::string&, const FtpError& error) {
            reportFailure(
                error, QStringLiteral("An error occured! Make sure that folder contains no files"),
                QStringLiteral(" > An error occured while removing folder!"));
        });
    connect(chain, &RemoteDeleteChain::finished, this, [this, parent] {
        LogEntry(QStringLiteral(" > Request accomplished successfuly."));
        if (QTreeWidgetItem* up = nodeWithKey(ByteArrayOf(parent))) {
            m_tview1->setCurrentItem(up);
            m_tview1->scrollToItem(up);
        }
        Refresh();
    });
    chain->start();
}

void frmmain::zRemDS_Click() {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    std::vector<RemoteDeleteChain::Entry> files;
    for (const int row : SelectedFileRows(*m_listView2)) {
        files.push_back({m_session.RemotePath + rowName(row)});
    }
    if (files.empty()) {
        m_context.dialogs.message(QStringLiteral("No file is selected to be deleted!!"),
                                  MessageIcon::Information);
        return;
    }
    if (!m_context.dialogs.askYesNo(QStringLiteral("Are you sure to delete all of these files?"))) {
        return;
    }
    LogEntry(QStringLiteral(" > Sending request."));
    auto* chain = new RemoteDeleteChain(m_session.engine, std::move(files), this);
    connect(chain, &RemoteDeleteChain::removing, this, [this](const std::string& path) {
        LogEntry(QStringLiteral(" > Deleting: ") + inQuotes(path));
    });
    connect(chain, &RemoteDeleteChain::removed, this,
            [this] { LogEntry(QStringLiteral(" > OK")); });
    // The rest stay; the list shows them until the next listing.
    connect(chain, &RemoteDeleteChain::failed, this,
            [this](const std::string&, const FtpError& error) {
                reportFailure(error, QStringLiteral("An error occured while deleting file!"),
                              QStringLiteral(" > An error occured while deleting file!"));
            });
    connect(chain, &RemoteDeleteChain::finished, this, &frmmain::Refresh);
    chain->start();
}

void frmmain::zRemRS_Click() {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    QModelIndex item = m_listView2->currentIndex().siblingAtColumn(kNameColumn);
    if (!item.isValid() || !m_listView2->selectionModel()->isSelected(item)) {
        const std::vector<int> selected = SelectedFileRows(*m_listView2);
        item = selected.empty() ? QModelIndex() : m_remoteFiles->index(selected.front(), 0);
    }
    if (!item.isValid()) {
        m_context.dialogs.message(QStringLiteral("Nothing to rename!"), MessageIcon::Exclamation);
        return;
    }
    m_listView2->selectionModel()->setCurrentIndex(item, QItemSelectionModel::NoUpdate);
    m_listView2->scrollTo(item);
    m_listView2->edit(item);
}

bool frmmain::listedName(const std::string& name) const {
    if (m_remoteFiles->rowNamed(name) >= 0) {
        return true;
    }
    if (const QTreeWidgetItem* folder = nodeWithKey(ByteArrayOf(m_session.RemotePath))) {
        for (int i = 0; i < folder->childCount(); ++i) {
            if (folder->child(i)->data(0, kFileNameRole).toByteArray().toStdString() == name) {
                return true;
            }
        }
    }
    return false;
}

void frmmain::ListView2_AfterLabelEdit(const std::string& oldName, const QString& newText) {
    // An emptied name means the user changed their mind.
    if (newText.isEmpty() || !checkConnected(QStringLiteral("Not connected to any server!")) ||
        !checkTypedName(newText)) {
        return;
    }
    const std::string newName = FromDisplay(newText, DetectEncoding(oldName));
    if (const auto question = ExtensionChangeQuestion(oldName, newName)) {
        if (!m_context.dialogs.askYesNo(*question)) {
            return;
        }
    }
    // Many servers rename over an existing file without a word: a name the
    // folder already shows is refused, as in the local pane.
    if (newName != oldName && listedName(newName)) {
        m_context.dialogs.message(Qs(localtext::kRenameCollision), MessageIcon::Exclamation);
        return;
    }
    const std::string from = m_session.RemotePath + oldName;
    const std::string to = m_session.RemotePath + newName;
    LogEntry(QStringLiteral(" > Sending request to rename file: ") + inQuotes(from));
    m_session.engine.run<void>(
        [from, to](FtpConnection& connection) { return connection.RenameFile(from, to); },
        [this, to](FtpResult<void> done) {
            if (!done) {
                reportFailure(done.error(), QStringLiteral("Can't accomplishe request!"),
                              QStringLiteral(" > request accomplished with no success at all!"));
                return;
            }
            LogEntry(QStringLiteral(" > File renamed to: ") + inQuotes(to));
            Refresh();
        });
}

void frmmain::chmod_Click() {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    const std::vector<int> selected = SelectedFileRows(*m_listView2);
    if (selected.empty()) {
        m_context.dialogs.message(QStringLiteral("Select a file in the server's list first."),
                                  MessageIcon::Exclamation);
        return;
    }
    const std::string name = rowName(selected.front());
    const auto mode = m_context.dialogs.input(QStringLiteral("Please input new ch-mod for ") +
                                                  inQuotes(AsciiLower(name)) + QStringLiteral(":"),
                                              QStringLiteral("edit ch-mod"), QStringLiteral("655"));
    if (!mode || mode->isEmpty()) {
        return;
    }
    if (!IsOctalMode(mode->toStdString())) {
        m_context.dialogs.message(
            QStringLiteral("The mode must be three or four octal digits (0 to 7), such as 644."),
            MessageIcon::Exclamation);
        return;
    }
    AppendLog(QStringLiteral("SITE CHMOD ") + *mode + QStringLiteral(" ") + ShownText(name) +
              QStringLiteral("\r\n"));
    m_session.engine.run<std::string>(
        [path = m_session.RemotePath + name, octal = mode->toStdString()](
            FtpConnection& connection) { return connection.ChangeMode(path, octal); },
        [this](FtpResult<std::string> reply) {
            LogEntry(QStringLiteral(" > ") +
                     VisibleControls(Qs(reply ? *reply : reply.error().text)));
            if (!reply) {
                LogEntry(QStringLiteral(" > The permissions were not changed."));
            }
        });
}

void frmmain::zLokUp_Click() {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    if (!m_localPane->hasCurrentFile()) {
        m_context.dialogs.message(QStringLiteral("No files selected!!"), MessageIcon::None);
        return;
    }
    TransferPlan plan{
        TransferDirection::Upload, m_localPane->LocalPath(), m_session.RemotePath, {}};
    for (const auto& [name, bytes] : m_localPane->selectedFilesWithSizes()) {
        plan.add(name, bytes);
    }
    startBatch(std::move(plan));
}

void frmmain::zRemDown_Click() {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    if (!m_listView2->currentIndex().isValid()) {
        m_context.dialogs.message(QStringLiteral("No file selected!!"), MessageIcon::None);
        return;
    }
    TransferPlan plan{
        TransferDirection::Download, m_localPane->LocalPath(), m_session.RemotePath, {}};
    for (const int row : SelectedFileRows(*m_listView2)) {
        const FileListRow& file = m_remoteFiles->rows()[static_cast<std::size_t>(row)];
        plan.add(file.name, file.bytes);
    }
    startBatch(std::move(plan));
}

void frmmain::uploadDropped(const std::vector<std::string>& paths,
                            const std::string& remoteFolder) {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    TransferPlan plan{TransferDirection::Upload, m_localPane->LocalPath(), remoteFolder, {}};
    for (const std::string& path : paths) {
        const std::size_t slash = path.rfind('/');
        std::string folder = path.substr(0, slash + 1);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            // Folders are not uploaded, as with the Upload command.
            LogEntry(QStringLiteral(" > Left out, not a file: ") + inQuotes(path));
            continue;
        }
        plan.add(path.substr(slash + 1), info.st_size,
                 folder == plan.localPath ? std::string() : std::move(folder));
    }
    if (plan.files.empty()) {
        m_context.dialogs.message(QStringLiteral("No files selected!!"), MessageIcon::None);
        return;
    }
    startBatch(std::move(plan));
}

void frmmain::downloadDropped(const std::string& localFolder, const RemoteFiles& files) {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    TransferPlan plan{TransferDirection::Download, localFolder, files.folder, {}};
    for (const auto& [name, bytes] : files.files) {
        plan.add(name, bytes);
    }
    startBatch(std::move(plan));
}

void frmmain::startBatch(TransferPlan plan) {
    if (plan.files.size() > static_cast<std::size_t>(kMaxQueuedFiles)) {
        m_context.dialogs.message(QStringLiteral("A transfer takes at most ") +
                                      QString::number(kMaxQueuedFiles) +
                                      QStringLiteral(" files at a time; select fewer."),
                                  MessageIcon::Exclamation);
        return;
    }
    const bool upload = plan.direction == TransferDirection::Upload;
    LogEntry(upload ? QStringLiteral(" > Colecting files information:")
                    : QStringLiteral(" > Colecting informations about files:"));
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const QueuedFile& file = plan.files[i];
        AppendLog(QString::number(i + 1) + QStringLiteral(".) ") +
                  ShownText(upload ? file.name : plan.remotePathOf(file)) + QStringLiteral("\r\n"));
    }
    // Modal to this window for the whole batch; it starts the batch once
    // shown and closes itself at the end.
    auto* prog = new frmProg(m_context, m_session.engine, std::move(plan), this);
    connect(prog, &frmProg::logEntry, this, &frmmain::LogEntry);
    connect(prog, &frmProg::batchEnded, this, &frmmain::batchEnded);
    prog->show();
}

void frmmain::batchEnded(TransferDirection direction) {
    if (direction == TransferDirection::Download) {
        m_localPane->RefreshLocalList();
        return;
    }
    // The uploaded files show in the current folder's listing; its node is
    // selected first, since a refresh lists only a selected node.
    if (m_session.connected() && selectedNode() == nullptr) {
        if (QTreeWidgetItem* node = nodeWithKey(ByteArrayOf(m_session.RemotePath))) {
            m_tview1->setCurrentItem(node);
        }
    }
    Refresh();
}

void frmmain::zPublish_Click() {
    if (!checkConnected(QStringLiteral("Not connected to any server!"))) {
        return;
    }
    const std::string local = m_localPane->LocalPath();
    const std::string site = m_session.PublishSite(m_context.programFolder);
    auto* job = new PublishJob(PublishConnector(m_session.ConnectParams(), m_session.SiteName()),
                               m_context.programFolder, site, local, m_session.RemotePath);
    m_publish = new PublishFlow(
        m_context, job, DisplayText(local),
        DisplayText(m_session.RemotePath) + QStringLiteral(" on ") + DisplayText(site), this);
    connect(m_publish, &PublishFlow::logEntry, this, &frmmain::LogEntry);
    connect(m_publish, &PublishFlow::ended, this,
            [this](bool ran, const PublishTotals& totals, const QString& summary) {
                m_publish = nullptr;
                setBusy(m_session.engine.busy());
                if (!ran) {
                    return;
                }
                if (!totals.complete() && !totals.stopped) {
                    m_context.dialogs.message(summary, MessageIcon::Exclamation);
                }
                // Disconnect stays usable while a publish runs on its own connections.
                if (m_session.connected()) {
                    batchEnded(TransferDirection::Upload);
                }
            });
    setBusy(true);
    m_publish->start();
}

void frmmain::Command4_Click() {
    if (busy()) {
        return;
    }
    // An address with a scheme shows its parts; one without, as typed.
    const ServerField field = ParseServerField(m_txtserver->text().trimmed().toStdString());
    if (field.protocol) {
        ChooseProtocol(*m_cboProtocol, *field.protocol);
    }
    m_label6->setText(DisplayText(field.host));
    m_label7->setText(field.port ? QString::number(*field.port) : m_txtport->text());
    m_label8->setText(field.user ? DisplayText(*field.user) : m_txtuser->text());
    // The site manager's Connect, with the bar's fields and its own defaults.
    ConnectFields fields;
    fields.server = m_txtserver->text();
    fields.user = m_txtuser->text();
    fields.password = m_txtpass->text();
    fields.port = m_txtport->text();
    fields.protocol = ChosenProtocol(*m_cboProtocol);
    const auto request = ConnectRequestFor(fields);
    if (!request) {
        m_context.dialogs.message(request.error().message, request.error().icon);
        return;
    }
    Connect(*request);
}

void frmmain::zConnect_Click() {
    if (busy()) {
        return;
    }
    FrmConnect manager(m_context, this);
    connect(&manager, &FrmConnect::connectRequested, this, &frmmain::Connect);
    connect(this, &frmmain::sessionOpened, &manager, &FrmConnect::startTimer1);
    manager.exec();
}

void frmmain::zDisconnect_Click() {
    m_session.CloseHandles();
    LogEntry(QStringLiteral(" > Server disconnected."));
}

void frmmain::Toolbar1_ButtonClick(const QString& key) {
    if (key == QStringLiteral("Connect")) {
        Command4_Click();
    } else if (key == QStringLiteral("Disconnect")) {
        zDisconnect_Click();
    } else if (key == QStringLiteral("Reload2")) {
        Refresh();
    } else if (key == QStringLiteral("Upload")) {
        zLokUp_Click();
    } else if (key == QStringLiteral("NewFolder2")) {
        zRemDown_Click();
    } else if (key == QStringLiteral("DelFolder2")) {
        zRemNF_Click();
    } else if (key == QStringLiteral("Rename2")) {
        zRemDS_Click();
    } else if (key == QStringLiteral("DelFile2")) {
        Q_EMIT showForm1Requested();
    }
}

void frmmain::closeEvent(QCloseEvent* event) {
    m_session.CloseHandles();
    event->accept();
    Q_EMIT showForm1Requested();
}

bool frmmain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Backspace &&
        (watched == m_tview1 || (watched == m_listView2 && !m_listView2->isEditing()))) {
        openParentFolder();
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched == m_tview1) {
        // Enter on a folder node opens it, as a click does.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_tview1->currentItem()) {
            OpenFolder();
            return true;
        }
    }
    if (event->type() == QEvent::KeyRelease &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
        !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        if (watched == m_tview1) {
            zRemDF_Click();
            return true;
        }
        if (watched == m_listView2) {
            zRemDS_Click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace quill
